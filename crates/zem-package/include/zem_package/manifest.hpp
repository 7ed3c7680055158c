#pragma once

// A package as a text manifest: the whole model in JSON, each blob named by
// the file that holds its contents. `unpack_package` writes one beside the
// blobs' files, `pack_directory` builds the package from it again.
//
// The manifest keeps the conventions of the tools' JSON documents: keys in
// camelCase, named as the schema's fields are; addresses as "0x4c000";
// 32-bit words of data as "0x000001c8"; values that can pass 2^53 (64-bit
// sizes and offsets, a segment's blob position) as decimal strings; other
// numbers as numbers; digests in lower-case hex. Its JSON Schema is
// `manifest.schema.json`, installed with the tools' others.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

// The shape of the manifest this library reads and writes.
inline constexpr std::uint32_t manifest_format = 1;
// The largest manifest read, and the deepest nesting of its values: far
// beyond any package's, and a bound on what a hostile one costs.
inline constexpr std::uint64_t max_manifest_bytes = std::uint64_t{64} << 20U;
inline constexpr std::size_t max_manifest_depth = 16;
// The manifest's name in its directory.
inline constexpr std::string_view manifest_file_name = "manifest.json";

// One blob of a manifest: where its contents are and how to store them.
struct ManifestBlob {
  // The file of its contents, relative to the manifest's directory: no
  // absolute path, no "..", nothing empty between slashes.
  std::string file;
  // The contents' SHA-256 as the manifest states it; packing compares it
  // with the file's. None: the file's is taken.
  std::optional<Digest> digest;
  std::uint16_t compression = compression_none;
  // For zstd: the level to compress at when no stored frame is kept.
  std::optional<int> level;
  // For zstd: a stored frame to keep as it is, relative to the directory,
  // when it holds the contents; and its declared uncompressed size (the
  // contents' size when none).
  std::optional<std::string> frame;
  std::optional<std::uint64_t> declared_size;

  friend bool operator==(const ManifestBlob&, const ManifestBlob&) = default;
};

// Every part of a package's model, its blobs by their files.
struct PackageManifest {
  std::string compiler;
  std::vector<ManifestBlob> blobs;
  std::vector<TileImage> tiles;
  std::vector<Binding> bindings_1;
  std::vector<Binding> bindings_2;
  std::vector<Binding> bindings_3;
  HostExchange host_exchange;
  std::vector<EntryPoint> entry_points;
  std::vector<DeviceConfigWrite> device_config_writes;

  friend bool operator==(const PackageManifest&, const PackageManifest&) = default;
};

// The manifest's text: one JSON document, indented, ending in a newline. A
// segment names its blob by position ("blob") and, where the blob's digest
// is known, by digest ("blobDigest").
[[nodiscard]] ZEM_PACKAGE_API std::string manifest_text(const PackageManifest& manifest);

// Reads a manifest's text, at most `max_manifest_bytes`. Refused, as a
// `manifest` failure whose `place` is the value at fault
// ("tiles[3].segments[1].blob": "no blob 17"): text that is not JSON, JSON
// nested deeper than `max_manifest_depth`, a key twice in one object, a key
// the manifest does not have or one it needs missing, a value of the wrong
// kind or out of its field's range ("0x1ffffffff" for a 32-bit address), a
// segment naming a blob that is not there or by another blob's digest, two
// blobs stating one digest, a file name outside the directory. `path` is
// left empty for the caller to fill.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<PackageManifest> parse_manifest(
    std::span<const std::uint8_t> text);

}  // namespace zem

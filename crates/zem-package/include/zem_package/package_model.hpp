#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/application.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Codes of a blob's `compression` field that the format defines.
inline constexpr std::uint16_t compression_none = 0;
inline constexpr std::uint16_t compression_zstd = 1;

// A compression code by name: "none", "zstd", or "code 7" for a code the
// format does not define.
[[nodiscard]] ZEM_PACKAGE_API std::string compression_name(std::uint16_t code);

// How a blob is stored in its file.
struct BlobStorage {
  std::uint16_t compression = compression_none;
  std::uint64_t stored_size = 0;    // bytes of the payload as stored
  std::uint64_t declared_size = 0;  // `uncompressedSize`, the contents' upper bound for zstd
  std::uint64_t file_offset = 0;    // where the payload starts in the message's bytes

  friend bool operator==(const BlobStorage&, const BlobStorage&) = default;
};

// What a checking read keeps of a checked blob in place of its contents.
struct BlobInfo {
  Digest digest{};
  std::uint64_t size = 0;  // bytes of its contents
  BlobStorage storage;
  // Whether it passed its checks. A survey keeps a blob that did not in its
  // place, so that every blob after it keeps its position, with its stored
  // digest (zeros when that could not be read) and no contents.
  bool checked = true;

  friend bool operator==(const BlobInfo&, const BlobInfo&) = default;
};

// A package's model as a checking read keeps it: every part of an
// `Application`, but each blob described by its digest, size and storage
// instead of holding its contents, which stay in the package's message.
//
// It is a type of its own, not an `Application` with empty contents, so
// that no operation can be asked of it that would need the contents and
// silently use none: validation and the build digest need only the blobs'
// sizes and digests, and are offered here; a tile's image needs the
// contents, and is offered by the reading that holds them.
struct PackageModel {
  std::string compiler;
  std::vector<BlobInfo> blobs;
  std::vector<TileImage> tiles;
  std::vector<Binding> bindings_1;
  std::vector<Binding> bindings_2;
  std::vector<Binding> bindings_3;
  HostExchange host_exchange;
  std::vector<EntryPoint> entry_points;
  std::vector<DeviceConfigWrite> device_config_writes;

  // The rules of `Application::validate`, in the same order, with the same
  // messages; the failure says which element broke the rule.
  [[nodiscard]] ZEM_PACKAGE_API ReadResult<void> validate() const;

  // The build digest, which `Application::build_digest` gives for the same
  // package.
  [[nodiscard]] ZEM_PACKAGE_API Digest build_digest() const;

  friend bool operator==(const PackageModel&, const PackageModel&) = default;
};

// One of a model's three binding lists, with the field that holds it.
struct BindingList {
  PackageField field;
  const std::vector<Binding>& bindings;
};

// The three binding lists of an `Application` or a `PackageModel`, in the
// order validation walks them.
template <class Model>
[[nodiscard]] std::array<BindingList, 3> binding_lists(const Model& model) noexcept {
  return {{{PackageField::bindings1, model.bindings_1},
           {PackageField::bindings2, model.bindings_2},
           {PackageField::bindings3, model.bindings_3}}};
}

}  // namespace zem

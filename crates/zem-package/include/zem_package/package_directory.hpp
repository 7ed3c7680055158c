#pragma once

// A package as a directory, and back: `unpack_package` writes its manifest
// (see manifest.hpp) and a file of contents for each blob, the stored frame
// of a compressed blob beside it; `pack_directory` builds the package from
// them again. The round trip is exact: a package that `pack_directory`
// wrote, unpacked and packed again, is the same file, byte for byte; any
// other package comes back with the same model and build digest.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/package_writer.hpp"
#include "zem_package/read_failure.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

struct UnpackOptions {
  // Threads that check the package's blobs and write their files.
  unsigned threads = 1;
  // Whether a directory that is not empty is written into, files of the
  // same names replaced; without it such a directory is refused (with the
  // system's ENOTEMPTY) and left as it is.
  bool into_nonempty = false;
  // Whether a package that fails its build digest, and nothing else, is
  // unpacked: packing it again seals it with the digest its model has.
  bool ignore_build_digest = false;
};

struct UnpackReport {
  std::size_t blobs = 0;
  std::size_t frames = 0;  // stored frames written beside their blobs
  std::size_t tiles = 0;
  // The build digest's failure, when `ignore_build_digest` let it pass.
  std::optional<ReadFailure> ignored_build_digest;
};

// Unpacks the package at `package_path` (or in `package_bytes`) into
// `directory`, created when it is missing: `manifest.json`, and
// `blobs/N.bin` for blob N's contents with `blobs/N.zst` beside it for a
// compressed blob's stored frame. The package is read strictly; one that
// fails is refused with the read's failure. The files are written in a
// hidden directory inside `directory` and moved into place once every check
// has passed, so a refused package leaves nothing behind.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<UnpackReport> unpack_package(
    const std::string& package_path, const std::string& directory,
    const UnpackOptions& options = {});
[[nodiscard]] ZEM_PACKAGE_API WriteResult<UnpackReport> unpack_package(
    std::span<const std::uint8_t> package_bytes, const std::string& directory,
    const UnpackOptions& options = {});

struct PackOptions {
  unsigned threads = 1;
  bool replace_existing = false;
  // Whether a digest of the manifest that differs from its file's is
  // replaced by the file's (each one said in the report) instead of refused.
  bool update_digests = false;
};

// A blob digest of the manifest that packing replaced by its file's.
struct DigestUpdate {
  std::size_t blob = 0;
  Digest stated{};
  Digest found{};
  std::string file;
};

// A stored frame that did not hold its blob's contents (the blob's file was
// edited, say), and so was not kept: the blob was compressed anew.
struct FrameReplacement {
  std::size_t blob = 0;
  std::string frame;
  ReadFailure reason;  // what a read would have said of the frame
  int level = default_zstd_level;
};

struct PackReport {
  WrittenPackage package;
  std::vector<DigestUpdate> updated_digests;
  std::vector<FrameReplacement> replaced_frames;
};

// Builds the package that `directory/manifest.json` describes and writes it
// to `output`. Each blob's digest is its file's; a compressed blob keeps
// its stored frame when the frame holds its contents, and is compressed at
// its level (the default when none) otherwise. A manifest that is not one
// is refused at the value at fault; a blob file that cannot be read, at its
// place in the manifest, and one larger than a package stores (a plain
// blob's 2^29 - 1 bytes, a compressed blob's contents of 4 GiB) before it is
// read; a package a read would refuse, in the read's words.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<PackReport> pack_directory(
    const std::string& directory, const std::string& output, const PackOptions& options = {});

}  // namespace zem

#pragma once

// A package stored anew: its blobs compressed another way, or the blobs no
// segment uses left out. Storage alone never changes the model, and so
// never the build digest.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/package_writer.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

enum class BlobRestorage : std::uint8_t {
  keep,   // every blob stored as it is, its payload copied unchanged
  plain,  // every blob stored as its contents
  zstd,   // every blob compressed anew at the level asked for
};

struct RepackOptions {
  unsigned threads = 1;
  bool replace_existing = false;
  BlobRestorage storage = BlobRestorage::keep;
  int level = default_zstd_level;  // for BlobRestorage::zstd
  // Whether blobs that no segment names are left out, the segments' blob
  // positions following; the model changes, and with it the build digest.
  bool drop_unused_blobs = false;
};

// A blob left out, by its position in the package read.
struct DroppedBlob {
  std::size_t blob = 0;
  Digest digest{};
};

struct RepackReport {
  WrittenPackage package;
  Digest previous_build_digest{};
  std::vector<DroppedBlob> dropped;
};

// Reads the package at `package_path` (or in `package_bytes`) strictly and
// writes it to `output` stored as `options` says. Every blob is checked as
// a read checks it while it is stored anew; a package that fails is refused
// with the read's failure. An `output` that is the package read is refused.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<RepackReport> repack_package(
    const std::string& package_path, const std::string& output, const RepackOptions& options);
[[nodiscard]] ZEM_PACKAGE_API WriteResult<RepackReport> repack_package(
    std::span<const std::uint8_t> package_bytes, const std::string& output,
    const RepackOptions& options);

}  // namespace zem

#pragma once

// The floor of a package check: the work that no single-threaded reader can
// skip. The package file is read into fresh memory (in ordinary pages, as the
// library takes it), every compressed payload is decompressed in
// one call into a buffer of its declared size (taken and freed for each blob)
// and every blob's contents are hashed with SHA-256 once, with the same
// libraries the package library uses, on one thread. Nothing else: no model,
// no validation, no build digest.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package_payloads.hpp"

struct ZSTD_DCtx_s;
struct evp_md_st;
struct evp_md_ctx_st;

namespace zem::bench {

class DecompressHashFloor {
 public:
  // `payloads` were found in `image`, the file at `path` as read once before;
  // the floor keeps their places in the file, not the views.
  DecompressHashFloor(std::string path, std::span<const std::uint8_t> image,
                      const PackagePayloads& payloads);
  DecompressHashFloor(const DecompressHashFloor&) = delete;
  DecompressHashFloor& operator=(const DecompressHashFloor&) = delete;
  ~DecompressHashFloor();

  // One pass: the file read, then every blob. Throws std::runtime_error when
  // the file cannot be read or a payload does not decompress to its size.
  void run();

  // Whether the digests of the last pass equal the stored ones, which shows
  // that the pass did the real work.
  [[nodiscard]] bool digests_match() const;

 private:
  struct Place {
    std::size_t offset = 0;  // of the payload in the file
    std::size_t size = 0;
    bool compressed = false;
    std::uint64_t uncompressed_size = 0;
    std::array<std::uint8_t, 32> digest{};  // stored
  };

  std::string path_;
  std::vector<Place> places_;
  ZSTD_DCtx_s* context_ = nullptr;
  evp_md_st* sha256_ = nullptr;
  evp_md_ctx_st* hash_ = nullptr;
  std::vector<std::array<std::uint8_t, 32>> digests_;
};

}  // namespace zem::bench

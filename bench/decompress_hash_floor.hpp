#pragma once

// The floor of a package read: the work that no reader can skip. Every
// compressed payload is decompressed and every blob's contents hashed with
// SHA-256 once, with the same libraries the package library uses, from
// payloads already in memory, on one thread. Nothing else: no model, no
// validation, no build digest, no file, and no memory taken while it runs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "package_payloads.hpp"

struct ZSTD_DCtx_s;
struct evp_md_st;
struct evp_md_ctx_st;

namespace zem::bench {

class DecompressHashFloor {
 public:
  // Takes the output buffer (as large as the largest blob, touched once so
  // that its pages are there), the decompression context and the hash state
  // up front; `payloads` must outlive the floor.
  explicit DecompressHashFloor(const PackagePayloads& payloads);
  DecompressHashFloor(const DecompressHashFloor&) = delete;
  DecompressHashFloor& operator=(const DecompressHashFloor&) = delete;
  ~DecompressHashFloor();

  // One pass over every blob. Throws std::runtime_error when a payload does
  // not decompress to its declared size.
  void run();

  // Whether the digests of the last pass equal the stored ones, which shows
  // that the pass did the real work.
  [[nodiscard]] bool digests_match() const;

 private:
  const PackagePayloads& payloads_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_ = 0;
  ZSTD_DCtx_s* context_ = nullptr;
  evp_md_st* sha256_ = nullptr;
  evp_md_ctx_st* hash_ = nullptr;
  std::vector<std::array<std::uint8_t, 32>> digests_;
};

}  // namespace zem::bench

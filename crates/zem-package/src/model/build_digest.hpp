#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "zem_package/application.hpp"

namespace zem {

class Sha256;

// One running SHA-256 over the build digest's byte stream.
//
// The stream is never built in memory: items are appended one by one. Small
// items (the 4- and 8-byte integers that make up most of the stream) are
// copied into a 64-byte block buffer, so the hash function sees whole blocks
// instead of one call per integer; the whole 64-byte blocks of a long string
// go to the hash straight from the string's storage.
class BuildDigestStream {
 public:
  BuildDigestStream();
  BuildDigestStream(const BuildDigestStream&) = delete;
  BuildDigestStream& operator=(const BuildDigestStream&) = delete;
  ~BuildDigestStream();

  // Appends raw bytes, with no length in front of them.
  void append(std::span<const std::uint8_t> bytes) {
    // The common case, kept inline: the bytes fit in the block without
    // completing it.
    if (bytes.size() < block_.size() - used_) {
      if (!bytes.empty()) {
        std::memcpy(block_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
      }
      return;
    }
    append_completing_blocks(bytes);
  }

  // Hashes what is left in the block buffer and returns the digest of the
  // whole stream. Nothing may be appended afterwards.
  [[nodiscard]] Digest finish();

 private:
  static constexpr std::size_t block_size = 64;

  // `bytes` fill the block buffer at least to its end.
  void append_completing_blocks(std::span<const std::uint8_t> bytes);

  std::unique_ptr<Sha256> state_;
  std::array<std::uint8_t, block_size> block_{};
  std::size_t used_ = 0;  // bytes of block_ waiting for the hash, always < 64
};

}  // namespace zem

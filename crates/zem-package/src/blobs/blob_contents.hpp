#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <optional>

#include "message/mapped_region.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/package_error.hpp"

struct ZSTD_DCtx_s;

namespace zem {

// The capacity to decompress a Zstandard payload into: the declared size,
// but no more than the payload can produce. Capacity the payload could never
// fill is not reserved, and whether the contents fit is decided exactly as
// with the full declared capacity. A declared size that no object can have
// (above 2^63 - 1 bytes) is refused before anything is decompressed.
[[nodiscard]] Result<std::size_t> decompression_capacity(std::span<const std::uint8_t> payload,
                                                         std::uint64_t declared_size);

// Decompresses payloads one after the other, each in one call and with no
// dictionary. One context serves every call: each frame starts it afresh, so
// the result is the one a new context would give, without the cost of
// setting up a new one for every blob.
class Decompressor {
 public:
  // Throws std::bad_alloc when the context cannot be had.
  Decompressor();
  Decompressor(Decompressor&& other) noexcept;
  Decompressor& operator=(Decompressor&&) = delete;
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor();

  // Decompresses `payload` into `out`, whose size is the capacity. Returns
  // the bytes written, or the decompressor's name for its failure as an `Io`
  // error.
  [[nodiscard]] Result<std::size_t> decompress(std::span<const std::uint8_t> payload,
                                               std::span<std::uint8_t> out);

  // Whether the last call failed because the contents did not fit in `out`:
  // the decompressor's own code for it, not its text, decides.
  [[nodiscard]] bool output_was_too_small() const noexcept { return output_too_small_; }

 private:
  ZSTD_DCtx_s* context_;
  bool output_too_small_ = false;
};

// Memory for contents that are not kept: one buffer, reused from blob to
// blob. It grows at least twofold when it must grow, so that blobs of
// increasing sizes do not each take fresh memory from the system, and a
// large one is mapped apart from the heap (see mapped_region.hpp).
class ScratchBuffer {
 public:
  // The first `capacity` bytes of the buffer, or the failure to get them.
  [[nodiscard]] Result<std::span<std::uint8_t>> take(std::size_t capacity);

 private:
  ByteBuffer heap_;
  std::optional<MappedRegion> mapped_;
  std::span<std::uint8_t> bytes_;
};

// The failure of a buffer for decompressed contents that cannot be had.
[[nodiscard]] PackageError cannot_allocate_contents(std::size_t capacity);

}  // namespace zem

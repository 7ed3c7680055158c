#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>

#include "zem_package/api.hpp"

namespace zem {

// An owned byte array.
//
// Unlike std::vector it can be allocated without touching its memory, so a
// buffer whose capacity comes from a file (a blob's declared uncompressed
// size) costs only the pages that are actually written into it, and it can be
// shrunk to what was written without copying. Its bytes are on the heap, or
// in a large region that it shares with other buffers filled by the same
// read and that stays mapped while any of them lives. Copies are deep, into
// storage of their own.
class ZEM_PACKAGE_API ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer() = default;

  // A buffer of `size` bytes whose contents are unspecified, or nothing when
  // that much memory cannot be had.
  [[nodiscard]] static std::optional<ByteBuffer> allocate(std::size_t size);

  // A copy of `bytes`. Throws std::bad_alloc when memory runs out.
  [[nodiscard]] static ByteBuffer copy_of(std::span<const std::uint8_t> bytes);

  // The `size` bytes at `data`, which lie inside a region that `region` keeps
  // alive. The region is shared with the other buffers taken from it.
  [[nodiscard]] static ByteBuffer in_region(std::uint8_t* data, std::size_t size,
                                            std::shared_ptr<const void> region) noexcept;

  // Keeps the first `size` bytes and gives the rest back (to the heap; a
  // region is given back whole, once its last buffer is gone); `size` must
  // not exceed the current size.
  void truncate(std::size_t size) noexcept;

  [[nodiscard]] std::uint8_t* data() noexcept { return data_; }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
  [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return {data_, size_}; }

  ZEM_PACKAGE_API friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept;

 private:
  struct Free {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> storage_;  // heap bytes; empty for a buffer in a region
  std::shared_ptr<const void> region_;           // the region a buffer's bytes lie in
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zem

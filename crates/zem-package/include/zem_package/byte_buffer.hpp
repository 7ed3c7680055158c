#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>

namespace zem {

// An owned, heap-allocated byte array.
//
// Unlike std::vector it can be allocated without touching its memory, so a
// buffer whose capacity comes from a file (a blob's declared uncompressed
// size) costs only the pages that are actually written into it, and it can be
// shrunk to what was written without copying. Copies are deep.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&&) noexcept = default;
  ByteBuffer& operator=(ByteBuffer&&) noexcept = default;
  ~ByteBuffer() = default;

  // A buffer of `size` bytes whose contents are unspecified, or nothing when
  // that much memory cannot be had.
  [[nodiscard]] static std::optional<ByteBuffer> allocate(std::size_t size);

  // A copy of `bytes`. Throws std::bad_alloc when memory runs out.
  [[nodiscard]] static ByteBuffer copy_of(std::span<const std::uint8_t> bytes);

  // Keeps the first `size` bytes and gives the rest back; `size` must not
  // exceed the current size.
  void truncate(std::size_t size) noexcept;

  [[nodiscard]] std::uint8_t* data() noexcept { return storage_.get(); }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return storage_.get(); }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return {storage_.get(), size_}; }
  [[nodiscard]] std::span<std::uint8_t> bytes() noexcept { return {storage_.get(), size_}; }

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept;

 private:
  struct Free {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> storage_;
  std::size_t size_ = 0;
};

}  // namespace zem

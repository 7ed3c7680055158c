#include "zem_package/byte_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace zem {

std::optional<ByteBuffer> ByteBuffer::allocate(std::size_t size) {
  ByteBuffer buffer;
  if (size > 0) {
    // malloc leaves the memory untouched: large blocks come straight from the
    // kernel and only the pages written later become resident.
    void* memory = std::malloc(size);
    if (memory == nullptr) {
      return std::nullopt;
    }
    buffer.storage_.reset(static_cast<std::uint8_t*>(memory));
  }
  buffer.size_ = size;
  return buffer;
}

ByteBuffer ByteBuffer::copy_of(std::span<const std::uint8_t> bytes) {
  std::optional<ByteBuffer> buffer = allocate(bytes.size());
  if (!buffer) {
    throw std::bad_alloc();
  }
  if (!bytes.empty()) {
    std::memcpy(buffer->data(), bytes.data(), bytes.size());
  }
  return std::move(*buffer);
}

ByteBuffer::ByteBuffer(const ByteBuffer& other) : ByteBuffer(copy_of(other.bytes())) {}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) {
    *this = copy_of(other.bytes());
  }
  return *this;
}

void ByteBuffer::truncate(std::size_t size) noexcept {
  if (size >= size_) {
    return;
  }
  if (size == 0) {
    storage_.reset();
  } else if (void* smaller = std::realloc(storage_.get(), size); smaller != nullptr) {
    // Shrinking a large block remaps its pages rather than copying them.
    static_cast<void>(storage_.release());
    storage_.reset(static_cast<std::uint8_t*>(smaller));
  }
  size_ = size;
}

bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept {
  return std::ranges::equal(a.bytes(), b.bytes());
}

}  // namespace zem

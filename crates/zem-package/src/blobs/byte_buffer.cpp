#include "zem_package/byte_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

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
    buffer.data_ = buffer.storage_.get();
  }
  buffer.size_ = size;
  return buffer;
}

ByteBuffer ByteBuffer::in_region(std::uint8_t* data, std::size_t size,
                                 std::shared_ptr<const void> region) noexcept {
  ByteBuffer buffer;
  buffer.region_ = std::move(region);
  buffer.data_ = data;
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

// A moved-from buffer is empty, whichever kind of storage it had.
ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : storage_(std::move(other.storage_)),
      region_(std::move(other.region_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    storage_ = std::move(other.storage_);
    region_ = std::move(other.region_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void ByteBuffer::truncate(std::size_t size) noexcept {
  if (size >= size_) {
    return;
  }
  if (region_) {
    // Bytes in a shared region go back with the region.
  } else if (size == 0) {
    storage_.reset();
    data_ = nullptr;
  } else if (void* smaller = std::realloc(storage_.get(), size); smaller != nullptr) {
    // Shrinking a large block remaps its pages rather than copying them.
    static_cast<void>(storage_.release());
    storage_.reset(static_cast<std::uint8_t*>(smaller));
    data_ = storage_.get();
  }
  size_ = size;
}

bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept {
  return std::ranges::equal(a.bytes(), b.bytes());
}

}  // namespace zem

#pragma once

// Memory for the contents of one package's blobs.
//
// The blobs of a large package add up to more memory than the file itself,
// come in many small buffers, and are all released together with the model.
// So once a read has taken its first couple of MiB for blobs, further
// buffers are carved one after the other from a few large mapped regions
// (see mapped_region.hpp), which go back to the kernel whole. A buffer keeps
// its region mapped for as long as it lives, so a blob moved out of the
// model stays valid on its own.
//
// Small packages, blobs whose capacity is a large share of a region, and
// every blob under AddressSanitizer get heap buffers of their own instead:
// the checker sees the bounds of separate allocations only.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "message/mapped_region.hpp"
#include "zem_package/byte_buffer.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define ZEM_BLOB_MEMORY_SEPARATE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEM_BLOB_MEMORY_SEPARATE 1
#endif
#endif

namespace zem {

class BlobMemory {
 public:
  // A buffer of `capacity` bytes with unspecified contents, or nothing when
  // that much memory cannot be had.
  [[nodiscard]] std::optional<ByteBuffer> take(std::size_t capacity) {
#ifdef ZEM_BLOB_MEMORY_SEPARATE
    return ByteBuffer::allocate(capacity);
#else
    if (taken_ < mapped_buffer_threshold || capacity > largest_carved) {
      taken_ += capacity;
      last_ = nullptr;
      return ByteBuffer::allocate(capacity);
    }
    if (!region_ || capacity > region_->size() - used_) {
      auto mapped = MappedRegion::map(next_region_size_);
      if (!mapped) {
        last_ = nullptr;
        return ByteBuffer::allocate(capacity);
      }
      region_ = std::make_shared<MappedRegion>(std::move(*mapped));
      used_ = 0;
      next_region_size_ = std::min(next_region_size_ * 2, largest_region);
    }
    last_ = region_->data() + used_;
    last_offset_ = used_;
    used_ = round_up(used_ + capacity);
    taken_ += capacity;
    return ByteBuffer::in_region(last_, capacity, region_);
#endif
  }

  // Shrinks `buffer`, the last one taken, to `size` bytes; when it lies in a
  // region, the rest is given back for the next buffer.
  void shrink_last(ByteBuffer& buffer, std::size_t size) {
    if (last_ != nullptr && buffer.data() == last_ && size < buffer.size()) {
      used_ = round_up(last_offset_ + size);
    }
    buffer.truncate(size);
  }

 private:
  // Buffers start at the heap's alignment.
  static constexpr std::size_t alignment = 16;
  // A larger buffer gets an allocation of its own: a region it does not fit
  // in would be left with too much of its end unused.
  static constexpr std::size_t largest_carved = std::size_t{4} << 20U;
  // Regions double from 16 MiB: few mappings for a large package, little
  // address space for a small one. Untouched parts cost no memory.
  static constexpr std::size_t largest_region = std::size_t{256} << 20U;

  static std::size_t round_up(std::size_t offset) {
    return (offset + alignment - 1) / alignment * alignment;
  }

  std::shared_ptr<MappedRegion> region_;
  std::size_t used_ = 0;          // bytes of the current region handed out
  std::uint8_t* last_ = nullptr;  // the last buffer carved, while it is the last taken
  std::size_t last_offset_ = 0;   // its offset in the region
#ifndef ZEM_BLOB_MEMORY_SEPARATE
  std::size_t taken_ = 0;  // bytes of all buffers taken so far
  std::size_t next_region_size_ = std::size_t{16} << 20U;
#endif
};

}  // namespace zem

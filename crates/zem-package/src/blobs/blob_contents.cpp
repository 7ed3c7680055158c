#include "blobs/blob_contents.hpp"

#include "blobs/blob_memory.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include <fmt/format.h>
#define ZSTD_STATIC_LINKING_ONLY  // for ZSTD_decompressBound
#include <zstd.h>
#include <zstd_errors.h>

namespace zem {
namespace {

// The largest size an object may have: a size above it cannot be allocated
// whatever the machine.
constexpr std::uint64_t largest_object_size = std::uint64_t{1} << 63U;

PackageError decompression_error(std::string description) {
  return PackageError::io("Other", std::move(description));
}

// The most bytes that decompressing `payload` can write before it ends or
// fails. Every block of a frame yields at most 128 KiB and takes at least 3
// bytes of input, whatever its frame header declares; for well-formed frames
// the decompressor's own bound is usually far tighter.
std::uint64_t output_bound(std::span<const std::uint8_t> payload) {
  constexpr std::uint64_t block_size_max = 128 * 1024;
  constexpr std::uint64_t block_header_size = 3;
  const std::uint64_t by_blocks = (payload.size() / block_header_size + 1) * block_size_max;
  const unsigned long long declared = ZSTD_decompressBound(payload.data(), payload.size());
  return declared == ZSTD_CONTENTSIZE_ERROR ? by_blocks
                                            : std::min<std::uint64_t>(declared, by_blocks);
}

}  // namespace

Result<std::size_t> decompression_capacity(std::span<const std::uint8_t> payload,
                                           std::uint64_t declared_size) {
  if (declared_size >= largest_object_size) {
    return std::unexpected(decompression_error(
        fmt::format("declared uncompressed size {} exceeds the largest object size {}",
                    declared_size, largest_object_size - 1)));
  }
  const std::uint64_t capacity = std::min(declared_size, output_bound(payload));
  if (capacity > SIZE_MAX) {
    return std::unexpected(cannot_allocate_contents(SIZE_MAX));
  }
  return static_cast<std::size_t>(capacity);
}

Decompressor::Decompressor() : context_(ZSTD_createDCtx()) {
  if (context_ == nullptr) throw std::bad_alloc();
}

Decompressor::Decompressor(Decompressor&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      output_too_small_(other.output_too_small_) {}

Decompressor::~Decompressor() { ZSTD_freeDCtx(context_); }

Result<std::size_t> Decompressor::decompress(std::span<const std::uint8_t> payload,
                                             std::span<std::uint8_t> out) {
  const std::size_t written =
      ZSTD_decompressDCtx(context_, out.data(), out.size(), payload.data(), payload.size());
  output_too_small_ =
      ZSTD_isError(written) != 0 && ZSTD_getErrorCode(written) == ZSTD_error_dstSize_tooSmall;
  if (ZSTD_isError(written) != 0) {
    return std::unexpected(decompression_error(ZSTD_getErrorName(written)));
  }
  return written;
}

Result<std::span<std::uint8_t>> ScratchBuffer::take(std::size_t capacity) {
  if (bytes_.size() < capacity) {
    const std::size_t doubled = bytes_.size() > SIZE_MAX / 2 ? SIZE_MAX : 2 * bytes_.size();
    const std::size_t wanted = std::max(capacity, doubled);
    // The old buffer goes before the larger one comes.
    heap_ = ByteBuffer();
    mapped_.reset();
    bytes_ = {};
#ifndef ZEM_BLOB_MEMORY_SEPARATE
    // Below this a buffer stays on the heap; above it, it is mapped, so that
    // it goes back to the kernel as soon as it is replaced.
    constexpr std::size_t largest_on_heap = std::size_t{512} << 10U;
    if (wanted > largest_on_heap) {
      mapped_ = MappedRegion::map(wanted);
      if (!mapped_) mapped_ = MappedRegion::map(capacity);
      if (mapped_) bytes_ = {mapped_->data(), mapped_->size()};
    }
#endif
    if (bytes_.empty()) {
      std::optional<ByteBuffer> larger = ByteBuffer::allocate(wanted);
      if (!larger) larger = ByteBuffer::allocate(capacity);
      if (!larger) return std::unexpected(cannot_allocate_contents(capacity));
      heap_ = std::move(*larger);
      bytes_ = heap_.bytes();
    }
  }
  return bytes_.first(capacity);
}

PackageError cannot_allocate_contents(std::size_t capacity) {
  return decompression_error(
      fmt::format("cannot allocate {} bytes for a decompressed blob", capacity));
}

}  // namespace zem

#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include <capnp/common.h>
#include <kj/common.h>

#include "message/mapped_region.hpp"
#include "zem_package/package_error.hpp"

namespace zem {

// Memory for a message's words. A large message gets a mapped region of its
// own (see mapped_region.hpp); a small one comes from the allocator, where
// memory checkers see its bounds.
class WordBuffer {
 public:
  // `count` words of unspecified contents. Throws std::bad_alloc when the
  // memory cannot be had.
  [[nodiscard]] static WordBuffer allocate(std::size_t count);

  [[nodiscard]] capnp::word* data() const noexcept { return data_; }

 private:
  std::unique_ptr<capnp::word[]> heap_;
  std::optional<MappedRegion> mapped_;
  capnp::word* data_ = nullptr;
};

// One message in the standard stream framing, header included, in memory that
// the caller owns.
class FramedMessage {
 public:
  FramedMessage(WordBuffer words, std::size_t word_count)
      : words_(std::move(words)), word_count_(word_count) {}

  [[nodiscard]] kj::ArrayPtr<const capnp::word> words() const {
    return {words_.data(), word_count_};
  }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const {
    return {reinterpret_cast<const std::uint8_t*>(words_.data()),
            word_count_ * sizeof(capnp::word)};
  }

 private:
  WordBuffer words_;
  std::size_t word_count_;
};

// Most segments a message may have.
inline constexpr std::size_t max_segment_count = 511;

// Reads one framed message from the current position of `fd`. Stops at the
// message's end, so bytes after it are never read. Memory is only taken for
// what the file can actually hold: a framing that claims more than the rest of
// a regular file is refused before anything is allocated, and from a pipe the
// buffer only grows as bytes arrive.
//
// The bulk of a regular file is read on up to `threads` threads.
[[nodiscard]] Result<FramedMessage> read_framed_message(int fd, unsigned threads = 1);

// Copies the framed message at the start of `bytes` into memory of its own,
// with the same checks. Bytes after the message are not looked at.
[[nodiscard]] Result<FramedMessage> read_framed_message(std::span<const std::uint8_t> bytes);

}  // namespace zem

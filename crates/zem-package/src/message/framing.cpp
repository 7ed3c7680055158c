#include "message/framing.hpp"

#include "blobs/ordered_work.hpp"
#include "zem_package/io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zem {
namespace {

PackageError framing_error(std::string description) {
  return PackageError::capnp("failed", std::move(description));
}

// Reads exactly `size` bytes into `out`; fewer only at end of file.
Result<std::size_t> read_fully(int fd, std::uint8_t* out, std::size_t size) {
  auto got = io::read_exactly(fd, {out, size});
  if (!got) {
    return std::unexpected(
        framing_error("cannot read the package: " + io::os_error_text(got.error().os_error)));
  }
  return *got;
}

std::uint32_t little_endian_u32(const std::uint8_t* bytes) {
  return io::load_u32_le(std::span<const std::uint8_t, 4>(bytes, 4));
}

// Bytes left between the current position and the end of `fd`, when `fd` is a
// regular file whose size is known.
std::optional<std::uint64_t> bytes_left(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0 || position > info.st_size) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size - position);
}

PackageError premature_end(std::uint64_t needed, std::uint64_t held) {
  return framing_error(
      fmt::format("premature end of file: the message framing needs {} bytes but the file holds {}",
                  needed, held));
}

}  // namespace

WordBuffer WordBuffer::allocate(std::size_t count) {
  WordBuffer buffer;
  if (count >= mapped_buffer_threshold / sizeof(capnp::word)) {
    buffer.mapped_ = MappedRegion::map(count * sizeof(capnp::word));
    if (!buffer.mapped_) throw std::bad_alloc();
    buffer.data_ = reinterpret_cast<capnp::word*>(buffer.mapped_->data());
  } else {
    buffer.heap_ = std::make_unique_for_overwrite<capnp::word[]>(count);
    buffer.data_ = buffer.heap_.get();
  }
  return buffer;
}

namespace {

// Reads one framed message through `read_exactly(out, size)`, which reads
// exactly `size` bytes, fewer only at the end of the input. `available` is
// how many bytes the input holds, when that is known.
template <class ReadFully>
Result<FramedMessage> read_framed(ReadFully&& read_exactly,
                                  std::optional<std::uint64_t> available) {
  std::uint8_t first[4];
  auto got = read_exactly(first, sizeof first);
  if (!got) return std::unexpected(std::move(got).error());
  if (*got < sizeof first) {
    return std::unexpected(premature_end(sizeof first, *got));
  }
  // The first word is the segment count minus one; in 64 bits so that
  // 0xffffffff means 2^32 segments rather than wrapping to none.
  const std::uint64_t segment_count = std::uint64_t{little_endian_u32(first)} + 1;
  if (segment_count > max_segment_count) {
    return std::unexpected(framing_error(fmt::format(
        "message has too many segments: {} (at most {})", segment_count, max_segment_count)));
  }

  // Header: the count word and one size word per segment, padded to 8 bytes.
  const std::size_t header_words = static_cast<std::size_t>(segment_count + 2) / 2;
  const std::size_t header_bytes = header_words * sizeof(capnp::word);
  std::uint8_t header[(max_segment_count + 2) / 2 * sizeof(capnp::word)];
  std::memcpy(header, first, sizeof first);
  got = read_exactly(header + sizeof first, header_bytes - sizeof first);
  if (!got) return std::unexpected(std::move(got).error());
  if (*got < header_bytes - sizeof first) {
    return std::unexpected(premature_end(header_bytes, sizeof first + *got));
  }

  // At most 511 sizes below 2^32 words each: the sum cannot overflow.
  std::uint64_t segment_words = 0;
  for (std::size_t i = 0; i < segment_count; ++i) {
    segment_words += little_endian_u32(header + 4 * (i + 1));
  }
  const std::uint64_t needed = header_bytes + segment_words * sizeof(capnp::word);
  if (available && needed > *available) {
    return std::unexpected(premature_end(needed, *available));
  }
  if (needed > SIZE_MAX / 2) {
    return std::unexpected(premature_end(needed, 0));
  }
  const std::size_t total_words = static_cast<std::size_t>(needed / sizeof(capnp::word));

  // From a regular file the size is known to be there: take it at once. From
  // anything else, grow the buffer only as data arrives, so that a framing
  // that lies costs at most twice what was really sent.
  std::size_t capacity = available ? total_words : std::min<std::size_t>(total_words, 1 << 16);
  WordBuffer words = WordBuffer::allocate(capacity);
  std::memcpy(words.data(), header, header_bytes);
  std::size_t filled = header_bytes;
  const std::size_t total_bytes = total_words * sizeof(capnp::word);
  while (filled < total_bytes) {
    if (filled == capacity * sizeof(capnp::word)) {
      const std::size_t larger = std::min(total_words, capacity * 2);
      WordBuffer grown = WordBuffer::allocate(larger);
      std::memcpy(grown.data(), words.data(), filled);
      words = std::move(grown);
      capacity = larger;
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(words.data());
    const std::size_t want = std::min(capacity * sizeof(capnp::word), total_bytes) - filled;
    got = read_exactly(bytes + filled, want);
    if (!got) return std::unexpected(std::move(got).error());
    filled += *got;
    if (*got < want) {
      return std::unexpected(premature_end(total_bytes, filled));
    }
  }
  return FramedMessage(std::move(words), total_words);
}

// Reads `size` bytes from the current position of the regular file `fd` on
// up to `threads` threads, each reading its own share with pread, then moves
// the position past what was read, as one read would. Fewer bytes only at
// the end of the file; the first share that fails decides the outcome.
//
// A large read is mostly the kernel supplying fresh memory and copying the
// file into it, work that spreads over processors as the blob checks do.
Result<std::size_t> read_in_parallel(int fd, std::uint8_t* out, std::size_t size,
                                     unsigned threads) {
  // Shares are whole multiples of 2 MiB: large enough that each thread reads
  // long runs, and never sharing a page with another thread's share.
  constexpr std::size_t share_unit = std::size_t{2} << 20U;
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (threads <= 1 || size < 2 * share_unit || start < 0) return read_fully(fd, out, size);
  const std::size_t units = (size + share_unit - 1) / share_unit;
  const std::size_t share = (units + threads - 1) / threads * share_unit;
  const std::size_t shares = (size + share - 1) / share;

  struct Share {
    std::size_t got = 0;
    int error = 0;
  };
  std::vector<Share> results(shares);
  const auto work = [&](unsigned, std::size_t index) noexcept {
    const std::size_t offset = index * share;
    const std::size_t length = std::min(share, size - offset);
    Share& result = results[index];
    while (result.got < length) {
      const ssize_t n = ::pread(fd, out + offset + result.got, length - result.got,
                                start + static_cast<off_t>(offset + result.got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) result.error = errno;
      if (n <= 0) break;
      result.got += static_cast<std::size_t>(n);
    }
    return result.got == length;
  };
  const std::optional<std::size_t> short_share =
      run_in_order(shares, threads, work, [](std::size_t) noexcept { return true; });

  std::size_t done = size;
  if (short_share) {
    if (const int error = results[*short_share].error; error != 0) {
      return std::unexpected(framing_error("cannot read the package: " + io::os_error_text(error)));
    }
    done = *short_share * share + results[*short_share].got;
  }
  if (::lseek(fd, start + static_cast<off_t>(done), SEEK_SET) < 0) {
    return std::unexpected(framing_error("cannot read the package: " + io::os_error_text(errno)));
  }
  return done;
}

}  // namespace

Result<FramedMessage> read_framed_message(int fd, unsigned threads) {
  const std::optional<std::uint64_t> available = bytes_left(fd);
  // Only a regular file, whose size is known, is read in shares.
  const unsigned readers = available ? threads : 1;
  return read_framed(
      [fd, readers](std::uint8_t* out, std::size_t size) {
        return read_in_parallel(fd, out, size, readers);
      },
      available);
}

Result<FramedMessage> read_framed_message(std::span<const std::uint8_t> bytes) {
  std::size_t position = 0;
  const auto copy = [&](std::uint8_t* out, std::size_t size) -> Result<std::size_t> {
    const std::size_t n = std::min(size, bytes.size() - position);
    if (n > 0) std::memcpy(out, bytes.data() + position, n);
    position += n;
    return n;
  };
  return read_framed(copy, bytes.size());
}

}  // namespace zem

#pragma once

// What a file that is not a package looks like, so that a tool given the
// wrong file can say what it seems to be: recognised from the file's size
// and first bytes.

#include <cstddef>
#include <cstdint>
#include <span>

namespace zem::toolkit {

enum class FileLook : std::uint8_t {
  unknown,        // nothing recognised: a damaged package, or any other file
  empty,          // no bytes at all
  gzip,           // starts 1f 8b
  xz,             // starts fd 37 7a 58 5a 00
  zstd,           // starts 28 b5 2f fd: a package compressed whole, perhaps
  device_record,  // whole 32-bit words, no more than a tile's memory holds,
                  // whose first word cannot start a message's framing
};

// How many of a file's first bytes `file_look` needs.
inline constexpr std::size_t file_look_bytes = 8;

// What a file of `file_size` bytes that starts with `head` (its first
// `file_look_bytes`, or all of it when it is shorter) looks like. Meant for
// a file whose framing could not be read: a package's own framing never
// looks like anything but `unknown`.
[[nodiscard]] FileLook file_look(std::span<const std::uint8_t> head,
                                 std::uint64_t file_size) noexcept;

}  // namespace zem::toolkit

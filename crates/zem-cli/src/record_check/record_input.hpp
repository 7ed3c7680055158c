#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zem::record_check {

// A device record as far as a check needs it.
struct RecordInput {
  enum class Status : std::uint8_t {
    read,        // `bytes` holds it, or its first `limit` bytes
    missing,     // no file at the path
    unreadable,  // `reason` says why
  };
  Status status = Status::read;
  std::vector<std::uint8_t> bytes;
  // The record holds more than was read: more than the limit.
  bool longer = false;
  // The record's whole length, when it is known: a regular file's size.
  std::optional<std::uint64_t> size;
  // For an unreadable record, the system's text: "Permission denied (os
  // error 13)", "is a directory", "is a character device".
  std::string reason;
};

// How long a FIFO may stay without a writer or without data before its
// record is given up as unreadable.
inline constexpr std::chrono::seconds record_wait{30};

// Reads the record at `path`: a regular file, or a FIFO that a writer fills.
// At most `limit` bytes are kept: whatever follows only marks the record as
// longer, so a huge file or an endless pipe costs no more memory or time
// than the record it should be. A directory or a device is unreadable.
[[nodiscard]] RecordInput read_record(const std::string& path, std::uint64_t limit,
                                      std::chrono::milliseconds wait = record_wait);

// The same from an open descriptor, such as standard input, which stays
// open.
[[nodiscard]] RecordInput read_record(int fd, std::uint64_t limit);

}  // namespace zem::record_check

#pragma once

// Reading a device record: raw little-endian 32-bit words, from a regular
// file, a FIFO that a writer fills, an open descriptor (standard input) or
// memory. Every way reads at most a limit, so that a huge file or an endless
// pipe costs no more memory or time than the record it should be.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/io.hpp"

namespace zem {

// A device record as far as a check needs it: its first bytes and its
// length.
struct DeviceRecord {
  std::vector<std::uint8_t> bytes;  // its first bytes, at most the limit it was read with
  // Its length in bytes: exact, unless `more_than_size`.
  std::uint64_t size = 0;
  // It holds more than `size` bytes, and how many more is not known: a pipe
  // sent more than the limit.
  bool more_than_size = false;

  // Whether bytes of it were left unread.
  [[nodiscard]] bool cut() const noexcept { return more_than_size || size > bytes.size(); }

  friend bool operator==(const DeviceRecord&, const DeviceRecord&) = default;
};

// How long a FIFO may stay without a writer or without data before its
// record is given up: long enough for a writer that is starting, short
// enough that a forgotten one does not hold up a device of many tiles.
inline constexpr std::chrono::milliseconds default_pipe_wait{std::chrono::seconds{10}};

struct RecordReadOptions {
  // Bytes kept; whatever follows only counts towards the length.
  std::uint64_t limit = 0;
  // How long to wait for a FIFO's data; none refuses a FIFO as it refuses a
  // device, as a file that is not regular.
  std::optional<std::chrono::milliseconds> pipe_wait = default_pipe_wait;
};

// Reads the record at `path`. A FIFO is waited for as `options` says; a
// directory, a device or a socket is refused (`FileError::not_regular`, or
// the system's error where opening it fails).
[[nodiscard]] ZEM_PACKAGE_API io::Result<DeviceRecord> read_device_record(
    const std::filesystem::path& path, const RecordReadOptions& options);

// The same from an open descriptor, such as standard input, from where it
// stands; it stays open.
[[nodiscard]] ZEM_PACKAGE_API io::Result<DeviceRecord> read_device_record(int fd,
                                                                          std::uint64_t limit);

// A record held in memory, as reading it with `limit` would give it.
[[nodiscard]] ZEM_PACKAGE_API DeviceRecord device_record(std::span<const std::uint8_t> bytes,
                                                         std::uint64_t limit);

// Whether reading a record failed because there is no file at its path.
[[nodiscard]] ZEM_PACKAGE_API bool record_missing(const io::FileError& error) noexcept;

// Why a record could not be read, in words: "Permission denied (os error
// 13)", "is a character device, not a record file", "no data arrived within
// the time allowed".
[[nodiscard]] ZEM_PACKAGE_API std::string record_error_text(const io::FileError& error);

}  // namespace zem

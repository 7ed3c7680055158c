#pragma once

// The small piece of operating system I/O that reading packages and records
// needs: owning a descriptor, opening a regular file, reading exactly, and
// the system's text for an error. Shared by the library and its tools, so
// that every file is opened and read the same careful way.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/api.hpp"

namespace zem::io {

// Owns an open file descriptor and closes it, unless `release` hands it on.
class ZEM_PACKAGE_API FileDescriptor {
 public:
  FileDescriptor() noexcept = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] int release() noexcept;

 private:
  int fd_ = -1;
};

// What a path names, when it is not a regular file.
enum class FileType : std::uint8_t {
  regular,
  directory,
  fifo,
  socket,
  character_device,
  block_device,
  other,
};

// "a FIFO", "a socket", "a character device", "a block device", "a
// directory", "of an unknown kind".
[[nodiscard]] ZEM_PACKAGE_API std::string_view describe(FileType type) noexcept;

// Why a file could not be opened or read.
struct FileError {
  // Opening it; reading it; or waiting for a pipe's writer, who sent nothing
  // in the time allowed (no system error then: `os_error` is 0).
  enum class Step : std::uint8_t { open, read, wait };
  Step step = Step::open;
  int os_error = 0;                   // the system's error number; 0 for `not_regular`
  FileType type = FileType::regular;  // what the path names, when it is not a regular file

  [[nodiscard]] bool not_regular() const noexcept { return os_error == 0 && step != Step::wait; }
  [[nodiscard]] bool timed_out() const noexcept { return step == Step::wait; }

  friend bool operator==(const FileError&, const FileError&) = default;
};

template <class T>
using Result = std::expected<T, FileError>;

// "No such file or directory (os error 2)".
[[nodiscard]] ZEM_PACKAGE_API std::string os_error_text(int errnum);

// A file opened for reading, whatever its kind, with what it is and, for a
// regular file, the size it had when opened.
struct OpenFile {
  FileDescriptor fd;
  FileType type = FileType::regular;
  std::uint64_t size = 0;
};

// Opens `path` read-only and without blocking, so that a FIFO with no writer
// opens at once instead of hanging, and says what it names. Only the open
// itself and the look at what it names can fail (`Step::open`, `Step::read`).
[[nodiscard]] ZEM_PACKAGE_API Result<OpenFile> open_file(const char* path);

// A regular file opened for reading, with the size it had when opened.
struct RegularFile {
  FileDescriptor fd;
  std::uint64_t size = 0;
};

// Opens `path` read-only. Only a regular file is accepted: a FIFO or a device
// could block the reader or never end, and a directory holds no bytes (it is
// reported as the system reports reading one, EISDIR). The file is opened
// without blocking, so naming a FIFO fails instead of hanging.
[[nodiscard]] ZEM_PACKAGE_API Result<RegularFile> open_regular_file(const char* path);

// Reads up to `size` bytes into `out`, retrying reads that a signal
// interrupts; fewer only at the end of the file. Returns how many were read.
[[nodiscard]] ZEM_PACKAGE_API Result<std::size_t> read_exactly(int fd, std::span<std::uint8_t> out);

// The first `limit` bytes of `file` (all of them when it is shorter), read
// from its start whatever its position.
[[nodiscard]] ZEM_PACKAGE_API Result<std::vector<std::uint8_t>> read_prefix(const RegularFile& file,
                                                                            std::uint64_t limit);

// The unsigned 32-bit little-endian number in four bytes, the byte at the
// lowest offset least significant, whatever the host's byte order and the
// bytes' alignment.
[[nodiscard]] inline std::uint32_t load_u32_le(std::span<const std::uint8_t, 4> bytes) noexcept {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8U |
         static_cast<std::uint32_t>(bytes[2]) << 16U | static_cast<std::uint32_t>(bytes[3]) << 24U;
}

}  // namespace zem::io

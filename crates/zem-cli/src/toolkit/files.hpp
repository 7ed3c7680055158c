#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Owns an open file descriptor and closes it, unless `release` hands it on.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] int release() noexcept;

 private:
  int fd_;
};

// A regular file opened for reading, with the size it had when opened.
struct InputFile {
  FileDescriptor fd;
  std::uint64_t size = 0;
};

// Opens `path` read-only. Only a regular file is accepted: a FIFO or a device
// could block the tool or never end, and a directory holds no bytes. The file
// is opened without blocking, so naming a FIFO fails instead of hanging.
[[nodiscard]] Outcome<InputFile> open_input(const std::string& path);

// Reads up to `limit` bytes from the start of `file`; fewer when the file is
// shorter. Reads that a signal interrupts are retried.
[[nodiscard]] Outcome<std::vector<std::uint8_t>> read_prefix(const InputFile& file,
                                                             const std::string& path,
                                                             std::uint64_t limit);

// A device record as far as a comparison needs it: its length and its first
// bytes, at most as many as were asked for.
struct RecordFile {
  std::uint64_t size = 0;
  std::vector<std::uint8_t> bytes;
};

// Reads the record at `path`, keeping at most `keep` bytes, so that a huge
// file named by mistake costs no more memory than the template it is compared
// with.
[[nodiscard]] Outcome<RecordFile> read_record_file(const std::string& path, std::uint64_t keep);

// Writes `bytes` to the file at `path`, created or truncated, or to standard
// output when `path` is empty or "-". Binary data is not written to a
// terminal: that would garble it and the terminal, and is never what was meant.
[[nodiscard]] Outcome<void> write_output(const std::optional<std::string>& path,
                                         std::span<const std::uint8_t> bytes);

}  // namespace zem::toolkit

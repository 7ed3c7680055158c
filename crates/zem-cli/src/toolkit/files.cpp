#include "toolkit/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace zem::toolkit {
namespace {

constexpr std::string_view standard_output = "standard output";

// Writes all of `bytes` to `fd`, retrying interrupted and partial writes.
[[nodiscard]] Outcome<void> write_all(int fd, std::span<const std::uint8_t> bytes,
                                      std::string_view name) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(name, errno));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Outcome<InputFile> open_input(const std::string& path) {
  int raw = -1;
  do {
    raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return std::unexpected(os_error(path, errno));
  FileDescriptor fd(raw);

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(os_error(path, errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(os_error(path, EISDIR));
  if (!S_ISREG(info.st_mode)) return std::unexpected(file_error(path, "not a regular file"));
  // A regular file's size is never negative.
  return InputFile{std::move(fd), static_cast<std::uint64_t>(info.st_size)};
}

Outcome<std::vector<std::uint8_t>> read_prefix(const InputFile& file, const std::string& path,
                                               std::uint64_t limit) {
  // The size was taken from the file itself, so this much memory is what the
  // file really holds; a file that grew since is read only up to that size.
  const std::uint64_t wanted = std::min(limit, file.size);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(wanted));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::pread(file.fd.get(), bytes.data() + filled, bytes.size() - filled,
                              static_cast<off_t>(filled));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(path, errno));
    }
    if (n == 0) break;  // the file shrank since it was opened
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

Outcome<RecordFile> read_record_file(const std::string& path, std::uint64_t keep) {
  auto file = open_input(path);
  if (!file) return std::unexpected(std::move(file).error());
  auto bytes = read_prefix(*file, path, keep);
  if (!bytes) return std::unexpected(std::move(bytes).error());
  return RecordFile{file->size, std::move(*bytes)};
}

Outcome<void> write_output(const std::optional<std::string>& path,
                           std::span<const std::uint8_t> bytes) {
  if (!path || path->empty() || *path == "-") {
    if (::isatty(STDOUT_FILENO) == 1) {
      return std::unexpected(
          ToolError{"refusing to write binary data to a terminal; name a file with -o or redirect "
                    "standard output"});
    }
    // Anything printed before goes out first, in order.
    if (std::fflush(stdout) != 0) return std::unexpected(os_error(standard_output, errno));
    return write_all(STDOUT_FILENO, bytes, standard_output);
  }
  int raw = -1;
  do {
    raw = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return std::unexpected(os_error(*path, errno));
  FileDescriptor fd(raw);
  if (auto written = write_all(fd.get(), bytes, *path); !written) return written;
  // close() is where some file systems report a failed write.
  if (::close(fd.release()) != 0) return std::unexpected(os_error(*path, errno));
  return {};
}

}  // namespace zem::toolkit

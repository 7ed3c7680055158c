#include "zem_package/io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <fmt/format.h>

namespace zem::io {
namespace {

FileType type_of(mode_t mode) noexcept {
  if (S_ISREG(mode)) return FileType::regular;
  if (S_ISDIR(mode)) return FileType::directory;
  if (S_ISFIFO(mode)) return FileType::fifo;
  if (S_ISSOCK(mode)) return FileType::socket;
  if (S_ISCHR(mode)) return FileType::character_device;
  if (S_ISBLK(mode)) return FileType::block_device;
  return FileType::other;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

std::string_view describe(FileType type) noexcept {
  switch (type) {
    case FileType::regular:
      return "a regular file";
    case FileType::directory:
      return "a directory";
    case FileType::fifo:
      return "a FIFO";
    case FileType::socket:
      return "a socket";
    case FileType::character_device:
      return "a character device";
    case FileType::block_device:
      return "a block device";
    case FileType::other:
      break;
  }
  return "of an unknown kind";
}

std::string os_error_text(int errnum) {
  // The error category's message is the system's text, without strerror's
  // shared buffer.
  return fmt::format("{} (os error {})", std::generic_category().message(errnum), errnum);
}

Result<OpenFile> open_file(const char* path) {
  int raw = -1;
  do {
    raw = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return std::unexpected(FileError{FileError::Step::open, errno, FileType::regular});
  FileDescriptor fd(raw);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    return std::unexpected(FileError{FileError::Step::read, errno, FileType::regular});
  }
  const FileType type = type_of(info.st_mode);
  // A regular file's size is never negative; other kinds have none.
  const std::uint64_t size =
      type == FileType::regular ? static_cast<std::uint64_t>(info.st_size) : 0;
  return OpenFile{std::move(fd), type, size};
}

Result<RegularFile> open_regular_file(const char* path) {
  auto file = open_file(path);
  if (!file) return std::unexpected(file.error());
  if (file->type == FileType::directory) {
    return std::unexpected(FileError{FileError::Step::read, EISDIR, file->type});
  }
  if (file->type != FileType::regular) {
    return std::unexpected(FileError{FileError::Step::read, 0, file->type});
  }
  return RegularFile{std::move(file->fd), file->size};
}

Result<std::size_t> read_exactly(int fd, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(FileError{FileError::Step::read, errno, FileType::regular});
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

Result<std::vector<std::uint8_t>> read_prefix(const RegularFile& file, std::uint64_t limit) {
  // The size was taken from the file itself, so this much memory is what the
  // file really holds; a file that grew since is read only up to that size.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(limit, file.size)));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::pread(file.fd.get(), bytes.data() + filled, bytes.size() - filled,
                              static_cast<off_t>(filled));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(FileError{FileError::Step::read, errno, FileType::regular});
    }
    if (n == 0) break;  // the file shrank since it was opened
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace zem::io

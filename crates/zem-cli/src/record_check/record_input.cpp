#include "record_check/record_input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "zem_package/io.hpp"

namespace zem::record_check {
namespace {

RecordInput unreadable(std::string reason) {
  RecordInput input;
  input.status = RecordInput::Status::unreadable;
  input.reason = std::move(reason);
  return input;
}

// Reads up to `limit` bytes, then one more to learn whether there are more.
// With `wait`, the descriptor is non-blocking and each read first waits for
// data, at most that long.
RecordInput read_bounded(int fd, std::uint64_t limit,
                         std::optional<std::chrono::milliseconds> wait) {
  RecordInput input;
  std::vector<std::uint8_t>& bytes = input.bytes;
  std::uint8_t probe = 0;
  for (;;) {
    if (wait) {
      pollfd ready{fd, POLLIN, 0};
      const int polled = ::poll(&ready, 1, static_cast<int>(wait->count()));
      if (polled < 0 && errno == EINTR) continue;
      if (polled < 0) return unreadable(io::os_error_text(errno));
      if (polled == 0) return unreadable("no data arrived within the time allowed");
    }
    const bool full = bytes.size() >= limit;
    // Grows as bytes arrive, never past the limit.
    const std::size_t room = full ? 1
                                  : static_cast<std::size_t>(std::min<std::uint64_t>(
                                        limit - bytes.size(), std::uint64_t{1} << 16));
    const std::size_t at = bytes.size();
    if (!full) bytes.resize(at + room);
    const ssize_t n = ::read(fd, full ? &probe : bytes.data() + at, room);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (!full) bytes.resize(at);
      continue;
    }
    if (n < 0) return unreadable(io::os_error_text(errno));
    if (!full) bytes.resize(at + static_cast<std::size_t>(n));
    if (n == 0) return input;
    if (full) {
      input.longer = true;
      return input;
    }
  }
}

}  // namespace

RecordInput read_record(const std::string& path, std::uint64_t limit,
                        std::chrono::milliseconds wait) {
  // Non-blocking, so that a FIFO without a writer does not hold the open.
  const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (opened < 0) {
    if (errno == ENOENT) {
      RecordInput input;
      input.status = RecordInput::Status::missing;
      return input;
    }
    return unreadable(io::os_error_text(errno));
  }
  const io::FileDescriptor fd(opened);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return unreadable(io::os_error_text(errno));
  if (S_ISREG(info.st_mode)) {
    RecordInput input = read_bounded(fd.get(), limit, std::nullopt);
    if (input.status == RecordInput::Status::read) {
      // A file that grew or shrank while it was read has the length read.
      const std::uint64_t read = input.bytes.size();
      input.size = input.longer
                       ? std::max<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), read + 1)
                       : read;
    }
    return input;
  }
  if (S_ISFIFO(info.st_mode)) return read_bounded(fd.get(), limit, wait);
  if (S_ISDIR(info.st_mode)) return unreadable(io::os_error_text(EISDIR));
  io::FileType type = io::FileType::other;
  if (S_ISCHR(info.st_mode)) type = io::FileType::character_device;
  if (S_ISBLK(info.st_mode)) type = io::FileType::block_device;
  if (S_ISSOCK(info.st_mode)) type = io::FileType::socket;
  return unreadable("is " + std::string(io::describe(type)) + ", not a record file");
}

RecordInput read_record(int fd, std::uint64_t limit) {
  return read_bounded(fd, limit, std::nullopt);
}

}  // namespace zem::record_check

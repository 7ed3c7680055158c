// The one reader of device records: bounded, never blocked by a FIFO that
// no one writes to.

#include "zem_package/device_record.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zem {
namespace {

using io::FileError;
using io::FileType;

[[nodiscard]] FileError read_error(int errnum) {
  return FileError{FileError::Step::read, errnum, FileType::regular};
}

// Reads up to `limit` bytes, then one more to learn whether there are more.
// With `wait`, the descriptor is non-blocking and each read first waits for
// data, at most that long. `opened_size` is a regular file's size when it was
// opened: a read that stops short exactly there has reached the end, so a
// record costs one read, not a second one that only finds the end.
io::Result<DeviceRecord> read_bounded(int fd, std::uint64_t limit,
                                      std::optional<std::chrono::milliseconds> wait,
                                      std::optional<std::uint64_t> opened_size = std::nullopt) {
  DeviceRecord record;
  std::vector<std::uint8_t>& bytes = record.bytes;
  std::uint8_t probe = 0;
  for (;;) {
    if (wait) {
      pollfd ready{fd, POLLIN, 0};
      const int polled = ::poll(&ready, 1, static_cast<int>(wait->count()));
      if (polled < 0 && errno == EINTR) continue;
      if (polled < 0) return std::unexpected(read_error(errno));
      if (polled == 0) return std::unexpected(FileError{FileError::Step::wait, 0, FileType::fifo});
    }
    const bool full = bytes.size() >= limit;
    // Grows as bytes arrive, never past the limit.
    std::size_t room = full ? 1
                            : static_cast<std::size_t>(std::min<std::uint64_t>(
                                  limit - bytes.size(), std::uint64_t{1} << 16));
    // A file of known size needs room for that size and one byte more, to
    // see it grow: no more memory is set aside, and none zeroed, than it
    // fills.
    if (!full && opened_size && bytes.size() <= *opened_size) {
      room =
          static_cast<std::size_t>(std::min<std::uint64_t>(room, *opened_size - bytes.size() + 1));
    }
    const std::size_t at = bytes.size();
    if (!full) bytes.resize(at + room);
    const ssize_t n = ::read(fd, full ? &probe : bytes.data() + at, room);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (!full) bytes.resize(at);
      continue;
    }
    if (n < 0) return std::unexpected(read_error(errno));
    if (!full) bytes.resize(at + static_cast<std::size_t>(n));
    const bool short_at_size =
        !full && static_cast<std::size_t>(n) < room && opened_size && bytes.size() == *opened_size;
    if (n == 0 || short_at_size) {
      record.size = bytes.size();
      return record;
    }
    if (full) {
      // One byte more arrived: how many more is not known.
      record.size = bytes.size();
      record.more_than_size = true;
      return record;
    }
  }
}

}  // namespace

io::Result<DeviceRecord> read_device_record(const std::filesystem::path& path,
                                            const RecordReadOptions& options) {
  // Opened without blocking, so that a FIFO without a writer does not hold
  // the open.
  auto file = io::open_file(path.c_str());
  if (!file) return std::unexpected(file.error());
  const io::FileDescriptor& fd = file->fd;
  const FileType type = file->type;
  switch (type) {
    case FileType::regular: {
      auto record = read_bounded(fd.get(), options.limit, std::nullopt, file->size);
      // A file that grew or shrank while it was read has the length read;
      // one cut at the limit has at least its size when opened.
      if (record && record->more_than_size) {
        record->size = std::max<std::uint64_t>(file->size, record->bytes.size() + 1);
        record->more_than_size = false;
      }
      return record;
    }
    case FileType::fifo:
      if (options.pipe_wait) return read_bounded(fd.get(), options.limit, options.pipe_wait);
      break;
    case FileType::directory:
      return std::unexpected(FileError{FileError::Step::read, EISDIR, type});
    case FileType::socket:
    case FileType::character_device:
    case FileType::block_device:
    case FileType::other:
      break;
  }
  return std::unexpected(FileError{FileError::Step::read, 0, type});
}

io::Result<DeviceRecord> read_device_record(int fd, std::uint64_t limit) {
  return read_bounded(fd, limit, std::nullopt);
}

DeviceRecord device_record(std::span<const std::uint8_t> bytes, std::uint64_t limit) {
  const std::span<const std::uint8_t> kept =
      bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(limit, bytes.size())));
  return DeviceRecord{{kept.begin(), kept.end()}, bytes.size(), false};
}

bool record_missing(const io::FileError& error) noexcept {
  return error.step == FileError::Step::open && error.os_error == ENOENT;
}

std::string record_error_text(const io::FileError& error) {
  if (error.timed_out()) return "no data arrived within the time allowed";
  if (error.not_regular())
    return "is " + std::string(io::describe(error.type)) + ", not a record file";
  return io::os_error_text(error.os_error);
}

}  // namespace zem

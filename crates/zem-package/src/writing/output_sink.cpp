#include "writing/output_sink.hpp"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace zem {
namespace {

// How many names a temporary file tries before giving up: another writer
// beside it takes one at most, unless many run at once.
constexpr int temporary_name_attempts = 64;

io::FileType type_of(mode_t mode) noexcept {
  if (S_ISREG(mode)) return io::FileType::regular;
  if (S_ISDIR(mode)) return io::FileType::directory;
  if (S_ISFIFO(mode)) return io::FileType::fifo;
  if (S_ISSOCK(mode)) return io::FileType::socket;
  if (S_ISCHR(mode)) return io::FileType::character_device;
  if (S_ISBLK(mode)) return io::FileType::block_device;
  return io::FileType::other;
}

WriteFailure exists(const std::string& path) {
  WriteFailure failure = WriteFailure::file_problem(path, "exists");
  failure.os_error = EEXIST;
  return failure;
}

// A hidden name in the target's directory: ".NAME.PID-N.tmp".
std::string temporary_name(const std::string& target, int attempt) {
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return fmt::format("{}.{}.{}-{}.tmp", directory, name, ::getpid(), attempt);
}

}  // namespace

WriteResult<void> MemorySink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  try {
    const std::uint64_t end = offset + bytes.size();
    if (end > bytes_.size()) bytes_.resize(static_cast<std::size_t>(end));
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem("memory", "memory allocation failed"));
  }
  std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
  return {};
}

WriteResult<void> check_output_path(const std::string& path, bool replace_existing) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return {};
    return std::unexpected(WriteFailure::file_error(path, errno));
  }
  const io::FileType type = type_of(info.st_mode);
  if (type != io::FileType::regular) {
    return std::unexpected(WriteFailure::file_problem(
        path, fmt::format("not a regular file ({})", io::describe(type))));
  }
  if (!replace_existing) return std::unexpected(exists(path));
  return {};
}

WriteResult<void> refuse_input_as_output(const std::string& output, const std::string& input,
                                         std::string_view what) {
  struct stat written {};
  struct stat read {};
  // What does not exist yet, or cannot be looked at, is no other name of
  // the input.
  if (::stat(output.c_str(), &written) != 0 || ::stat(input.c_str(), &read) != 0) return {};
  if (written.st_dev == read.st_dev && written.st_ino == read.st_ino) {
    return std::unexpected(
        WriteFailure::file_problem(output, fmt::format("refusing to write over {}", what)));
  }
  return {};
}

WriteResult<std::unique_ptr<FileSink>> FileSink::create(const std::string& target,
                                                        bool replace_existing) {
  if (auto checked = check_output_path(target, replace_existing); !checked) {
    return std::unexpected(std::move(checked).error());
  }
  for (int attempt = 0; attempt < temporary_name_attempts; ++attempt) {
    std::string temporary = temporary_name(target, attempt);
    int raw = -1;
    do {
      raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (raw < 0 && errno == EINTR);
    if (raw >= 0) {
      return std::unique_ptr<FileSink>(
          new FileSink(target, std::move(temporary), io::FileDescriptor(raw), replace_existing));
    }
    // The error is the target's: its directory is what refused.
    if (errno != EEXIST) return std::unexpected(WriteFailure::file_error(target, errno));
  }
  return std::unexpected(WriteFailure::file_error(target, EEXIST));
}

FileSink::~FileSink() {
  if (committed_) return;
  fd_ = io::FileDescriptor();
  ::unlink(temporary_.c_str());
}

WriteResult<void> FileSink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(WriteFailure::file_error(target_, errno));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

WriteResult<void> FileSink::commit(std::uint64_t size) {
  // A file whose last bytes were never written (a blob's padding at the
  // end) still has its full size.
  if (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0) {
    return std::unexpected(WriteFailure::file_error(target_, errno));
  }
  // Closing is where some file systems report a write that failed.
  if (::close(fd_.release()) != 0) return std::unexpected(WriteFailure::file_error(target_, errno));
  if (replace_existing_) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
      return std::unexpected(WriteFailure::file_error(target_, errno));
    }
  } else if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(),
                         RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return std::unexpected(exists(target_));
    if (errno != EINVAL && errno != ENOSYS) {
      return std::unexpected(WriteFailure::file_error(target_, errno));
    }
    // A file system without the flag: a hard link is created only where no
    // name is, so it takes the target's name as atomically.
    if (::link(temporary_.c_str(), target_.c_str()) != 0) {
      if (errno == EEXIST) return std::unexpected(exists(target_));
      return std::unexpected(WriteFailure::file_error(target_, errno));
    }
    ::unlink(temporary_.c_str());
  }
  committed_ = true;
  return {};
}

}  // namespace zem

#include "writing/directory_stage.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "zem_package/io.hpp"

namespace zem {
namespace {

constexpr int stage_name_attempts = 64;

WriteResult<void> write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(WriteFailure::file_error(path, errno));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

// Whether `path` names a directory with nothing in it.
WriteResult<bool> is_empty_directory(const std::string& path) {
  std::error_code error;
  const bool empty = std::filesystem::is_empty(path, error);
  if (error) return std::unexpected(WriteFailure::file_error(path, error.value()));
  return empty;
}

}  // namespace

WriteResult<std::unique_ptr<DirectoryStage>> DirectoryStage::create(const std::string& directory,
                                                                    bool into_nonempty) {
  bool created = false;
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0) {
    if (errno != ENOENT) return std::unexpected(WriteFailure::file_error(directory, errno));
    if (::mkdir(directory.c_str(), 0777) != 0) {
      return std::unexpected(WriteFailure::file_error(directory, errno));
    }
    created = true;
  } else if (!S_ISDIR(info.st_mode)) {
    return std::unexpected(WriteFailure::file_error(directory, ENOTDIR));
  } else if (!into_nonempty) {
    auto empty = is_empty_directory(directory);
    if (!empty) return std::unexpected(std::move(empty).error());
    if (!*empty) {
      WriteFailure failure = WriteFailure::file_problem(directory, "not empty");
      failure.os_error = ENOTEMPTY;
      return std::unexpected(std::move(failure));
    }
  }
  for (int attempt = 0; attempt < stage_name_attempts; ++attempt) {
    std::string stage = fmt::format("{}/.unpack-{}-{}", directory, ::getpid(), attempt);
    if (::mkdir(stage.c_str(), 0777) == 0) {
      return std::unique_ptr<DirectoryStage>(
          new DirectoryStage(directory, std::move(stage), created));
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  if (created) ::rmdir(directory.c_str());
  return std::unexpected(WriteFailure::file_error(directory, error));
}

DirectoryStage::~DirectoryStage() {
  std::error_code ignored;
  std::filesystem::remove_all(stage_, ignored);
  if (created_ && !committed_) std::filesystem::remove_all(directory_, ignored);
}

WriteResult<void> DirectoryStage::make_subdirectory(const std::string& name) {
  if (::mkdir((stage_ + "/" + name).c_str(), 0777) != 0) {
    return std::unexpected(WriteFailure::file_error(final_path(name), errno));
  }
  subdirectories_.push_back(name);
  return {};
}

WriteResult<void> DirectoryStage::write_file(const std::string& relative,
                                             std::span<const std::uint8_t> bytes) {
  const std::string shown = final_path(relative);
  int raw = -1;
  do {
    raw = ::open((stage_ + "/" + relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return std::unexpected(WriteFailure::file_error(shown, errno));
  io::FileDescriptor fd(raw);
  if (auto written = write_all(fd.get(), bytes, shown); !written) return written;
  // Closing is where some file systems report a write that failed.
  if (::close(fd.release()) != 0) return std::unexpected(WriteFailure::file_error(shown, errno));
  const std::scoped_lock lock(mutex_);
  files_.push_back(relative);
  return {};
}

WriteResult<void> DirectoryStage::commit(const std::string& last) {
  const auto move = [&](const std::string& relative) -> WriteResult<void> {
    if (::rename((stage_ + "/" + relative).c_str(), final_path(relative).c_str()) != 0) {
      return std::unexpected(WriteFailure::file_error(final_path(relative), errno));
    }
    return {};
  };
  // The files of each subdirectory, in name order whatever order the
  // threads wrote them in.
  std::ranges::sort(files_);
  for (const std::string& subdirectory : subdirectories_) {
    struct stat info {};
    if (::stat(final_path(subdirectory).c_str(), &info) != 0) {
      if (auto moved = move(subdirectory); !moved) return moved;
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      return std::unexpected(WriteFailure::file_error(final_path(subdirectory), ENOTDIR));
    }
    for (const std::string& file : files_) {
      if (file.starts_with(subdirectory + "/")) {
        if (auto moved = move(file); !moved) return moved;
      }
    }
  }
  if (auto moved = move(last); !moved) return moved;
  committed_ = true;
  return {};
}

}  // namespace zem

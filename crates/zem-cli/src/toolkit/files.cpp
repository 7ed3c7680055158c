#include "toolkit/files.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

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
      return std::unexpected(file_os_error(name, errno));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

Outcome<io::RegularFile> open_input(const std::string& path) {
  auto file = io::open_regular_file(path.c_str());
  if (!file) {
    if (file.error().not_regular()) return std::unexpected(file_error(path, "not a regular file"));
    return std::unexpected(file_os_error(path, file.error().os_error));
  }
  return std::move(*file);
}

Outcome<void> refuse_overwriting(const std::optional<std::string>& output,
                                 const std::string& input) {
  if (!output || *output == "-") return {};
  struct stat written {};
  struct stat read {};
  // An output that does not exist yet, or an input that cannot be looked at
  // (its read will say why), is no other name of the input.
  if (::stat(output->c_str(), &written) != 0 || ::stat(input.c_str(), &read) != 0) return {};
  if (written.st_dev == read.st_dev && written.st_ino == read.st_ino) {
    return std::unexpected(file_error(*output, "refusing to write over the package being read"));
  }
  return {};
}

Outcome<void> write_output(const std::optional<std::string>& path,
                           std::span<const std::uint8_t> bytes, ExistingFile existing) {
  if (!path || path->empty() || *path == "-") {
    if (::isatty(STDOUT_FILENO) == 1) {
      return std::unexpected(
          Failure{"refusing to write binary data to a terminal; name a file with -o or redirect "
                  "standard output"});
    }
    // Anything printed before goes out first, in order.
    if (std::fflush(stdout) != 0) return std::unexpected(file_os_error(standard_output, errno));
    return write_all(STDOUT_FILENO, bytes, standard_output);
  }
  const int flags =
      O_WRONLY | O_CREAT | O_CLOEXEC | (existing == ExistingFile::refuse ? O_EXCL : O_TRUNC);
  int raw = -1;
  do {
    raw = ::open(path->c_str(), flags, 0666);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) {
    if (errno == EEXIST && existing == ExistingFile::refuse) {
      return std::unexpected(file_error(*path, "exists; give --force to overwrite it"));
    }
    return std::unexpected(file_os_error(*path, errno));
  }
  io::FileDescriptor fd(raw);
  if (auto written = write_all(fd.get(), bytes, *path); !written) return written;
  // close() is where some file systems report a failed write.
  if (::close(fd.release()) != 0) return std::unexpected(file_os_error(*path, errno));
  return {};
}

Outcome<void> check_output_place(const std::string& path, std::string_view option, bool force) {
  if (path == "-") return {};
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
    return std::unexpected(Failure{fmt::format("{} {}: the directory {} does not exist", option,
                                               display_path(path), display_path(parent.native()))});
  }
  struct stat there {};
  if (!force && ::lstat(path.c_str(), &there) == 0) {
    return std::unexpected(file_error(path, "exists; give --force to overwrite it"));
  }
  return {};
}

Outcome<void> write_text_file(const std::string& path, std::string_view text, bool force) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (path == "-") {
    // Text may go to a terminal, unlike write_output's binary data.
    if (std::fflush(stdout) != 0) return std::unexpected(file_os_error(standard_output, errno));
    return write_all(STDOUT_FILENO, bytes, standard_output);
  }
  return write_output(path, bytes, force ? ExistingFile::replace : ExistingFile::refuse);
}

}  // namespace zem::toolkit

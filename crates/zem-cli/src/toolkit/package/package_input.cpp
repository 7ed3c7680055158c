#include "toolkit/package/package_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <array>
#include <cerrno>

#include "toolkit/files.hpp"
#include "toolkit/package/failure_report.hpp"

namespace zem::toolkit {
namespace {

constexpr std::string_view standard_input_name = "standard input";

// A descriptor of its own for standard input, which the library takes over
// and closes; the process's standard input stays open behind it, at the same
// position, for the bytes after the message.
Outcome<io::FileDescriptor> standard_input() {
  if (::isatty(STDIN_FILENO) == 1) {
    return std::unexpected(
        Failure{"refusing to read a package from a terminal; redirect standard input or name a "
                "file"});
  }
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return std::unexpected(file_os_error(standard_input_name, errno));
  return io::FileDescriptor(fd);
}

// The bytes left from the current position of `fd` to its end: from the size
// of a regular file, otherwise by reading them into a small buffer that is
// reused, so that however much arrives costs no memory.
Outcome<std::uint64_t> count_rest(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position >= 0 && position <= info.st_size) {
      return static_cast<std::uint64_t>(info.st_size - position);
    }
  }
  std::array<std::uint8_t, 1 << 16> buffer{};
  std::uint64_t count = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(file_os_error(standard_input_name, errno));
    if (n == 0) return count;
    count += static_cast<std::uint64_t>(n);
  }
}

}  // namespace

std::string package_name(std::string_view argument) {
  return argument == standard_input_argument ? std::string(standard_input_name)
                                             : display_path(argument);
}

Outcome<PackageInput> read_package(const std::string& argument, const ReadOptions& options) {
  if (argument == standard_input_argument) {
    ZEM_ASSIGN_OR_RETURN(io::FileDescriptor fd, standard_input());
    PackageInput input{PackageReading::read(std::move(fd), options), std::nullopt};
    if (input.reading) {
      ZEM_ASSIGN_OR_RETURN(input.trailing_bytes, count_rest(STDIN_FILENO));
    }
    return input;
  }
  ZEM_ASSIGN_OR_RETURN(io::RegularFile file, open_input(argument));
  PackageInput input{PackageReading::read(std::move(file.fd), options), std::nullopt};
  if (input.reading) {
    // The size is the one the file had when it was opened; a file that
    // shrank since holds nothing after the message.
    const std::uint64_t message = input.reading->message_size();
    input.trailing_bytes = file.size > message ? file.size - message : 0;
  }
  return input;
}

Outcome<CheckedPackage> read_valid_package(const std::string& path, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(io::RegularFile file, open_input(path));
  auto reading = PackageReading::read(std::move(file.fd), {.threads = threads});
  if (!reading) return std::unexpected(invalid_package(path, reading.error()));
  auto package = CheckedPackage::complete(std::move(*reading));
  if (!package) return std::unexpected(invalid_package(path, package.error()));
  return std::move(*package);
}

Failure invalid_package(std::string_view argument, const ReadFailure& failure) {
  return {fmt::format("{}: invalid package: {}", package_name(argument), failure_line(failure))};
}

}  // namespace zem::toolkit

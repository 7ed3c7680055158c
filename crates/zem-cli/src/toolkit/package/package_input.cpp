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

// What the library makes of the first bytes of a regular file, read without
// moving its position, so that the read that follows starts where it would.
FileLook look_of(const io::RegularFile& file) {
  std::array<std::uint8_t, file_look_bytes> head{};
  const ssize_t got = ::pread(file.fd.get(), head.data(), head.size(), 0);
  if (got < 0) return FileLook::unknown;
  return file_look(std::span(head).first(static_cast<std::size_t>(got)), file.size);
}

}  // namespace

std::vector<std::string> framing_hints(FileLook look, std::uint64_t file_size,
                                       std::string_view swapped_usage) {
  switch (look) {
    case FileLook::unknown:
      return {};
    case FileLook::empty:
      return {"the file is empty"};
    case FileLook::gzip:
      return {"looks like a gzip file: decompress it first"};
    case FileLook::xz:
      return {"looks like an xz file: decompress it first"};
    case FileLook::zstd:
      return {"looks like a Zstandard file: decompress it first"};
    case FileLook::device_record: {
      const std::uint64_t words = file_size / 4;
      std::vector<std::string> hints{fmt::format(
          "looks like a device record ({} word{}), not a package", words, words == 1 ? "" : "s")};
      if (!swapped_usage.empty()) {
        hints.push_back(fmt::format("the arguments may be swapped: zem-package {}", swapped_usage));
      }
      return hints;
    }
  }
  return {};
}

std::string package_name(std::string_view argument) {
  return argument == standard_input_argument ? std::string(standard_input_name)
                                             : display_path(argument);
}

Outcome<OpenedPackage> open_package(const std::string& argument) {
  if (argument == standard_input_argument) {
    ZEM_ASSIGN_OR_RETURN(io::FileDescriptor fd, standard_input());
    return OpenedPackage{std::move(fd), true, FileLook::unknown, 0};
  }
  ZEM_ASSIGN_OR_RETURN(io::RegularFile file, open_input(argument));
  const FileLook look = look_of(file);
  return OpenedPackage{std::move(file.fd), false, look, file.size};
}

std::vector<std::string> read_hints(const OpenedPackage& opened, const ReadFailure& failure,
                                    std::string_view swapped_usage) {
  // Standard input is read as it arrives: its first bytes are gone by the
  // time a framing fails, so it gets no hints.
  if (opened.standard_input || failure.stage != ReadStage::framing) return {};
  return framing_hints(opened.look, opened.size, swapped_usage);
}

Outcome<PackageInput> read_package(const std::string& argument, const ReadOptions& options,
                                   std::string_view swapped_usage) {
  ZEM_ASSIGN_OR_RETURN(OpenedPackage opened, open_package(argument));
  PackageInput input{Package::read(std::move(opened.fd), options), std::nullopt, {}};
  if (!input.package) {
    input.hints = read_hints(opened, input.package.error(), swapped_usage);
  } else if (opened.standard_input) {
    ZEM_ASSIGN_OR_RETURN(input.trailing_bytes, count_rest(STDIN_FILENO));
  } else {
    // The size is the one the file had when it was opened; a file that
    // shrank since holds nothing after the message.
    const std::uint64_t message = input.package->message_size();
    input.trailing_bytes = opened.size > message ? opened.size - message : 0;
  }
  return input;
}

Outcome<Package> read_valid_package(const std::string& argument, unsigned threads,
                                    std::string_view swapped_usage) {
  ZEM_ASSIGN_OR_RETURN(PackageInput input,
                       read_package(argument, {.threads = threads}, swapped_usage));
  if (input.package) return std::move(*input.package);
  Failure failure = invalid_package(argument, input.package.error());
  failure.hints = std::move(input.hints);
  return std::unexpected(std::move(failure));
}

Outcome<DeviceCheckRead> read_package_check(const std::string& argument,
                                            std::span<const std::uint32_t> tiles,
                                            unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(OpenedPackage opened, open_package(argument));
  DeviceCheckRead read =
      DeviceCheck::read_and_prepare(std::move(opened.fd), tiles, {.threads = threads});
  if (read.package) {
    // As `read_package` does: what follows the message on standard input
    // is read and let go.
    if (opened.standard_input) ZEM_RETURN_IF_ERROR(count_rest(STDIN_FILENO));
    return read;
  }
  Failure failure = invalid_package(argument, read.package.error());
  failure.hints = read_hints(opened, read.package.error(), {});
  return std::unexpected(std::move(failure));
}

Failure invalid_package(std::string_view argument, const ReadFailure& failure) {
  return {fmt::format("{}: invalid package: {}", package_name(argument), failure_line(failure))};
}

}  // namespace zem::toolkit

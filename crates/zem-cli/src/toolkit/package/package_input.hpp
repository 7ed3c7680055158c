#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "toolkit/package/file_look.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// The package argument that names standard input.
inline constexpr std::string_view standard_input_argument = "-";

// A package argument as messages name it: "standard input" for "-",
// otherwise the path as `display_path` shows it.
[[nodiscard]] std::string package_name(std::string_view argument);

// A package as the library read it from its file.
struct PackageInput {
  ReadResult<Package> package;
  // How many bytes follow the message in the file, once the message was read.
  std::optional<std::uint64_t> trailing_bytes;
  // What may help when the file is no package at all: see `framing_hints`.
  std::vector<std::string> hints;
};

// What to tell the user of a file whose framing could not be read, from what
// the library says it looks like: "looks like a gzip file: decompress it
// first", "the file is empty", "looks like a device record (10 words), not a
// package". `swapped_usage`, when given, is the subcommand's operands in
// order ("diff PACKAGE TILE RECORD"), named for a record given as the package.
[[nodiscard]] std::vector<std::string> framing_hints(FileLook look, std::uint64_t file_size,
                                                     std::string_view swapped_usage = {});

// A package argument opened for its read: its file (standard input for "-"),
// and for a regular file what its first bytes look like and its size.
struct OpenedPackage {
  io::FileDescriptor fd;
  bool standard_input = false;
  FileLook look = FileLook::unknown;
  std::uint64_t size = 0;
};

// Opens the package that `argument` names: a regular file, or standard input
// for "-" (never a terminal).
[[nodiscard]] Outcome<OpenedPackage> open_package(const std::string& argument);

// The `framing_hints` for a package whose read failed with `failure`: only a
// regular file whose framing failed gets any.
[[nodiscard]] std::vector<std::string> read_hints(const OpenedPackage& opened,
                                                  const ReadFailure& failure,
                                                  std::string_view swapped_usage);

// Reads the package that `argument` names, as `options` say (a survey, to
// show all it can; or strictly): a regular file, or standard input for "-"
// (read into memory as it arrives; never a terminal), whose bytes after the
// message are read and counted, not kept. Fails only when the file cannot
// be opened or read; what is wrong with the package itself is in `package`.
// `swapped_usage` is for the hints, as in `framing_hints`.
[[nodiscard]] Outcome<PackageInput> read_package(const std::string& argument,
                                                 const ReadOptions& options,
                                                 std::string_view swapped_usage = {});

// Reads the package that `argument` names (a file, or standard input for
// "-") strictly: only a valid package is kept. One that fails a check gives
// `invalid_package`, with the `framing_hints` for a file that is no package
// (`swapped_usage` as there).
[[nodiscard]] Outcome<Package> read_valid_package(const std::string& argument, unsigned threads,
                                                  std::string_view swapped_usage = {});

// Reads the package that `argument` names strictly, as `read_valid_package`
// does and failing as it fails, and prepares the device check of tiles
// `tiles` with the same read (see `DeviceCheck::read_and_prepare`): the
// package is there, and the check's own outcome is the caller's to render.
[[nodiscard]] Outcome<DeviceCheckRead> read_package_check(const std::string& argument,
                                                          std::span<const std::uint32_t> tiles,
                                                          unsigned threads);

// "<package>: invalid package: <the failure, located>".
[[nodiscard]] Failure invalid_package(std::string_view argument, const ReadFailure& failure);

}  // namespace zem::toolkit

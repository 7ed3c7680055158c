#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// The package argument that names standard input.
inline constexpr std::string_view standard_input_argument = "-";

// A package argument as messages name it: "standard input" for "-",
// otherwise the path as `display_path` shows it.
[[nodiscard]] std::string package_name(std::string_view argument);

// A package as the library read it from its file.
struct PackageInput {
  ReadResult<PackageReading> reading;
  // How many bytes follow the message in the file, once the message was read.
  std::optional<std::uint64_t> trailing_bytes;
};

// Reads the package that `argument` names, as `options` say (a survey, to
// show all it can; or strictly): a regular file, or standard input for "-"
// (read into memory as it arrives; never a terminal), whose bytes after the
// message are read and counted, not kept. Fails only when the file cannot
// be opened or read; what is wrong with the package itself is in the reading.
[[nodiscard]] Outcome<PackageInput> read_package(const std::string& argument,
                                                 const ReadOptions& options);

// Reads the package file at `path` strictly and completes it: only a valid
// package is kept. One that fails a check gives `invalid_package`.
[[nodiscard]] Outcome<CheckedPackage> read_valid_package(const std::string& path, unsigned threads);

// "<package>: invalid package: <the failure, located>".
[[nodiscard]] Failure invalid_package(std::string_view argument, const ReadFailure& failure);

}  // namespace zem::toolkit

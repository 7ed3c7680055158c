#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/application.hpp"
#include "zem_package/reader.hpp"

namespace zem::toolkit {

// A package file as `inspect` and `check` see it: its bytes, for the toolkit's
// own look at the message, and the library's read of it, not yet completed.
struct PackageFile {
  std::vector<std::uint8_t> bytes;
  Result<PackageContents> contents;
};

// Reads the package at `path`. Fails only when the file cannot be opened or
// read; what is wrong with the package itself is in `contents`.
[[nodiscard]] Outcome<PackageFile> read_package_file(const std::string& path);

// Reads and fully checks the package at `path`. A package that fails a check
// gives "<path>: invalid package: <the library's error>".
[[nodiscard]] Outcome<Application> read_valid_package(const std::string& path);

}  // namespace zem::toolkit

#pragma once

#include <string>

#include "toolkit/tool_error.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// The library's read of the package at `path`, not yet completed, as
// `inspect` and `check` show it. Fails only when the file cannot be opened;
// what is wrong with the package itself is in the read's result.
[[nodiscard]] Outcome<ReadResult<PackageReading>> read_package(const std::string& path,
                                                               const ReadOptions& options);

// Reads and fully checks the package at `path`. A package that fails a check
// gives "<path>: invalid package: <the library's error>".
[[nodiscard]] Outcome<CheckedPackage> read_valid_package(const std::string& path,
                                                         const ReadOptions& options);

}  // namespace zem::toolkit

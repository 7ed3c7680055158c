#pragma once

// Opt-in: lets fmt format a `PackageError` as its text form. The library's
// other headers do not need fmt; a program that includes this one links fmt
// itself.

#include <fmt/format.h>

#include <string_view>

#include "zem_package/package_error.hpp"

template <>
struct fmt::formatter<zem::PackageError> : fmt::formatter<std::string_view> {
  auto format(const zem::PackageError& error, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(error.to_string(), ctx);
  }
};

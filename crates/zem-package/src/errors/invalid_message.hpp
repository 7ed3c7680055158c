#pragma once

#include <string>

#include "zem_package/package_error.hpp"

namespace zem {

// The message of an `Invalid` error, or nothing for the other variants.
[[nodiscard]] const std::string* invalid_message(const PackageError& error) noexcept;

}  // namespace zem

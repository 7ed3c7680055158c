#pragma once

// The library's reads of a package held in memory, as tests need them: the
// public reads, completed, in one call.

#include <cstdint>
#include <span>

#include "zem_package/application.hpp"
#include "zem_package/package.hpp"

namespace zem::testing {

// The strict read of `bytes`.
[[nodiscard]] ReadResult<Package> read_checked(std::span<const std::uint8_t> bytes,
                                               unsigned threads = 1);

// The full model of `bytes`: the checked package's, every blob's contents
// decompressed again.
[[nodiscard]] Result<Application> read_application(std::span<const std::uint8_t> bytes,
                                                   unsigned threads = 1);

// A survey of `bytes`.
[[nodiscard]] ReadResult<Package> read_survey(std::span<const std::uint8_t> bytes,
                                              unsigned threads = 1);

}  // namespace zem::testing

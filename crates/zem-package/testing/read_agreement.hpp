#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zem::testing {

// Reads `bytes` as a package on 1 and on 4 threads, strictly and as a
// survey, with blob contents kept as they are checked (`Application::read`)
// and not (a reading), and returns how the outcomes differ, or nothing when
// they agree: the same error text (a survey's first failure), or the same
// model, the reading's blob contents decompressed again from its message;
// and the device check prepared as the package is read agrees with the one
// prepared after the read.
[[nodiscard]] std::string read_disagreement(std::span<const std::uint8_t> bytes);

}  // namespace zem::testing

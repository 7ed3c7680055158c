#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zem::testing {

// Reads `bytes` as a package in every way the library offers (the full read,
// and the checking read and the survey on 1 and on 4 threads, the full read
// on 4 threads too) and returns how their outcomes differ, or nothing when
// they agree: the same error text (a survey's first failure), or the same
// model, the checking read's blob contents decompressed again from its
// message.
[[nodiscard]] std::string read_disagreement(std::span<const std::uint8_t> bytes);

}  // namespace zem::testing

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Parses a physical tile argument with the verifier's grammar (decimal, one
// optional "+", leading zeros allowed, at most 4294967295): failures are the
// verifier's, with the argument: "invalid physical tile number: InvalidDigit
// (argument \"7x\")".
[[nodiscard]] Outcome<std::uint32_t> physical_tile_argument(std::string_view argument);

// The same for an argument that may be absent.
[[nodiscard]] Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument);

}  // namespace zem::toolkit

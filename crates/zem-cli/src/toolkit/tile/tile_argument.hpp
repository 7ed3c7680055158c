#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Parses a physical tile argument with the verifier's grammar (decimal, one
// optional "+", leading zeros allowed, at most 4294967295); a failure says
// what is wrong in words, naming the argument by `name` ("TILE"):
// "invalid TILE \"7x\": a physical tile number is a whole number from 0 to
// 4294967295".
[[nodiscard]] Outcome<std::uint32_t> physical_tile_argument(std::string_view argument,
                                                            std::string_view name);

// The same for an argument that may be absent.
[[nodiscard]] Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument, std::string_view name);

}  // namespace zem::toolkit

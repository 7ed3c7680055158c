#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "common/whole_number.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// A tile number as the toolkit takes it: the verifier's grammar (see
// `cli::parse_whole_number`), or "0x" and hexadecimal digits of either case,
// leading zeros allowed, at most 0xffffffff, since dumps are often numbered
// in hexadecimal.
[[nodiscard]] std::expected<std::uint32_t, cli::WholeNumberError> parse_tile_number(
    std::string_view text) noexcept;

// Parses a physical tile argument (see `parse_tile_number`); a failure says
// what is wrong in words, naming the argument by `name` ("TILE"):
// "invalid TILE \"7x\": a physical tile number is a whole number from 0 to
// 4294967295".
[[nodiscard]] Outcome<std::uint32_t> physical_tile_argument(std::string_view argument,
                                                            std::string_view name);

// The same for an argument that may be absent.
[[nodiscard]] Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument, std::string_view name);

}  // namespace zem::toolkit

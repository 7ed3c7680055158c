#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

namespace zem::cli {

// Why a text is not a whole number, as the first problem met reading it from
// the left: nothing at all, a character that is not an ASCII digit (a lone
// sign included), or a value past 4294967295.
enum class WholeNumberError : std::uint8_t { empty, invalid_digit, overflow };

// The grammar of every number the tools take from a user (a tile number, a
// count, ZEM_THREADS): one optional leading "+", then ASCII digits, leading
// zeros allowed, at most 4294967295.
[[nodiscard]] std::expected<std::uint32_t, WholeNumberError> parse_whole_number(
    std::string_view text) noexcept;

}  // namespace zem::cli

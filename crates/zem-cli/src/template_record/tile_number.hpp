#pragma once

#include <cstdint>
#include <string_view>

#include "template_record/failure.hpp"

namespace zem::template_record {

// True when `bytes` is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequence.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// Accepts the raw physical tile argument as text, or fails with
// "physical tile argument is not valid UTF-8".
[[nodiscard]] Outcome<std::string_view> physical_tile_text(std::string_view raw);

// Parses an unsigned 32-bit decimal tile number: one optional leading "+",
// then ASCII digits only (leading zeros allowed). Scanning left to right, the
// first problem decides the failure, whose message names its kind:
// "invalid physical tile number: Empty", "...: InvalidDigit" or "...: PosOverflow".
[[nodiscard]] Outcome<std::uint32_t> parse_physical_tile(std::string_view text);

}  // namespace zem::template_record

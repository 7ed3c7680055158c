#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Parses a list of physical tiles: numbers and ranges, separated by commas,
// such as "7", "0-255" or "1-4,8,10-12". Each number has the grammar of a
// tile argument; a range's end is not below its start. The tiles come out
// in increasing order, each once. A number may be written in hexadecimal
// ("0x10-0x1f"). A failure names the part that is wrong:
// "invalid tile list \"4-2\": the range 4-2 runs backwards".
[[nodiscard]] Outcome<std::vector<std::uint32_t>> tile_list_argument(std::string_view argument);

// Tiles as ranges, the way a tile list is written: "0-255", "3, 7-9".
// `tiles` need not be sorted; each is named once.
[[nodiscard]] std::string tile_ranges(std::span<const std::uint32_t> tiles);

}  // namespace zem::toolkit

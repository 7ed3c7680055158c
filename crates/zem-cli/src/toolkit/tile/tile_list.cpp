#include "toolkit/tile/tile_list.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/tile/tile_argument.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {
namespace {

// Ranges may name many tiles, but not more than a device can have.
constexpr std::uint64_t max_listed_tiles = 1 << 20;

}  // namespace

Outcome<std::vector<std::uint32_t>> tile_list_argument(std::string_view argument) {
  const auto invalid = [&](std::string_view why) {
    return std::unexpected(
        Failure{fmt::format("invalid tile list {}: {}", quote_escaped(argument), why)});
  };
  std::vector<std::uint32_t> tiles;
  std::string_view rest = argument;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    const std::size_t dash = part.find('-');
    const std::string_view first = part.substr(0, dash);
    const std::string_view last = dash == std::string_view::npos ? first : part.substr(dash + 1);
    const auto from = parse_tile_number(first);
    const auto to = parse_tile_number(last);
    if (!from || !to) {
      return invalid(
          fmt::format("{} is not a tile number or a range of them", quote_escaped(part)));
    }
    if (*to < *from) return invalid(fmt::format("the range {} runs backwards", part));
    if (tiles.size() + (std::uint64_t{*to} - *from) >= max_listed_tiles) {
      return invalid("it names more than a million tiles");
    }
    for (std::uint64_t tile = *from; tile <= *to; ++tile) {
      tiles.push_back(static_cast<std::uint32_t>(tile));
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  std::ranges::sort(tiles);
  tiles.erase(std::ranges::unique(tiles).begin(), tiles.end());
  return tiles;
}

std::string tile_ranges(std::span<const std::uint32_t> tiles) {
  std::vector<std::uint32_t> sorted(tiles.begin(), tiles.end());
  std::ranges::sort(sorted);
  sorted.erase(std::ranges::unique(sorted).begin(), sorted.end());
  std::string text;
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i;
    while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += j == i ? fmt::format("{}", sorted[i]) : fmt::format("{}-{}", sorted[i], sorted[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace zem::toolkit

#pragma once

// The colours of the pages: one per blob (cycling through a palette whose
// neighbours differ), one per tile status, and the shade of a tile by how
// much of its memory it loads. Each is a CSS colour "#rrggbb", so that a
// test can find it again in a screenshot.

#include <array>
#include <cstddef>
#include <string_view>

namespace zem::toolkit::pages {

inline constexpr std::array<std::string_view, 10> blob_palette = {
    "#4e79a7", "#f28e2b", "#59a14f", "#b07aa1", "#edc948",
    "#76b7b2", "#ff9da7", "#9c755f", "#e15759", "#bab0ac",
};

[[nodiscard]] constexpr std::string_view blob_colour(std::size_t blob) noexcept {
  return blob_palette[blob % blob_palette.size()];
}

// What a cell of a device view stands for, beside the five statuses of a
// verified tile.
inline constexpr std::string_view no_setup_status = "no-template-setup";

// The colour of a status as `verify --html` draws it: "match", "differ",
// "missing", "unreadable", "failed" or `no_setup_status`.
[[nodiscard]] constexpr std::string_view status_colour(std::string_view status) noexcept {
  if (status == "match") return "#2ca02c";
  if (status == "differ") return "#d62728";
  if (status == "missing") return "#7f7f7f";
  if (status == "unreadable") return "#ff7f0e";
  if (status == "failed") return "#9467bd";
  return "#e8e8e8";
}

}  // namespace zem::toolkit::pages

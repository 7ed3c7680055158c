#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit::pages {

// Where a tile's template stands in its memory, as the verifier finds it.
struct TemplateMarks {
  std::uint32_t setup_address = 0;  // the setup's first word
  TemplateSetup setup;
  // The patch words from their start, as far as the two groups reach; none
  // when the template could not be patched.
  std::optional<std::uint32_t> table_start;
  std::size_t table_words = 0;
};

// The template marks of a checked tile.
[[nodiscard]] TemplateMarks template_marks(const CheckedTile& tile);

// What a device view says of one tile.
struct TileFacts {
  std::size_t tile = 0;  // position in the model's tiles
  std::uint32_t physical_tile = 0;
  std::size_t segments = 0;
  std::uint64_t bytes_loaded = 0;  // the segments' memory sizes added up
  std::optional<TemplateMarks> marks;
};

// The facts of every tile of the package `check` checks, in tile number
// order.
[[nodiscard]] std::vector<TileFacts> tile_facts(const DeviceCheck& check);

// The share of tile memory that `bytes` fill, from 0 to 1.
[[nodiscard]] double loaded_share(std::uint64_t bytes) noexcept;

}  // namespace zem::toolkit::pages

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "template_record/template_setup.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit::pages {

// Where a tile's template stands in its memory, as the verifier finds it.
struct TemplateMarks {
  std::uint32_t setup_address = 0;  // the setup's first word
  template_record::TemplateSetup setup;
  // The patch words from their start, as far as the two groups reach; none
  // when the template could not be patched.
  std::optional<std::uint32_t> table_start;
  std::size_t table_words = 0;
};

// The template marks of a tile's memory; none when it holds no setup.
[[nodiscard]] std::optional<TemplateMarks> template_marks(const TileMemory& memory);

// What a device view says of one tile.
struct TileFacts {
  std::size_t tile = 0;  // position in the model's tiles
  std::uint32_t physical_tile = 0;
  std::size_t segments = 0;
  std::uint64_t bytes_loaded = 0;  // the segments' memory sizes added up
  std::optional<TemplateMarks> marks;
};

// The facts of every tile of a valid package, in tile number order; each
// tile's memory is rebuilt to look for its setup, on `threads` threads, one
// image per thread at a time.
[[nodiscard]] std::vector<TileFacts> tile_facts(const Package& package, unsigned threads);

// The share of tile memory that `bytes` fill, from 0 to 1.
[[nodiscard]] double loaded_share(std::uint64_t bytes) noexcept;

}  // namespace zem::toolkit::pages

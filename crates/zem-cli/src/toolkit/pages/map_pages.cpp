#include "toolkit/pages/map_pages.hpp"

#include <fmt/format.h>

#include <cmath>
#include <vector>

#include "format/hex.hpp"
#include "toolkit/pages/device_grid.hpp"
#include "toolkit/pages/html_text.hpp"
#include "toolkit/pages/page_document.hpp"
#include "toolkit/pages/tile_view.hpp"

namespace zem::toolkit::pages {
namespace {

std::string cell_title(const TileFacts& f) {
  std::string title = fmt::format("tile {}: {} segment{}, {} bytes loaded ({:.1f} %), ",
                                  f.physical_tile, f.segments, f.segments == 1 ? "" : "s",
                                  f.bytes_loaded, 100 * loaded_share(f.bytes_loaded));
  if (f.marks) return title + "template setup at " + hex_address(f.marks->setup_address);
  return title + "no template setup";
}

std::string package_paragraph(const PackageModel& model) {
  return fmt::format("<p>Compiler {}; {} tiles; {} blobs; tile memory {}..{}.</p>",
                     shown_text(model.compiler), model.tiles.size(), model.blobs.size(),
                     hex_address(tile_memory_base), hex_address(tile_memory_end));
}

// The shades of the device view and the hatching of a tile without a
// template setup.
std::string device_legend() {
  std::string out = R"(<ul class="legend">)";
  for (const int percent : {0, 25, 50, 75, 100}) {
    out += fmt::format(R"(<li><span class="swatch" style="background:{}"></span>{} % loaded</li>)",
                       loaded_colour(percent / 100.0), percent);
  }
  return out + R"(<li><span class="swatch no-setup"></span>hatched: no template setup</li></ul>)";
}

// The view of a tile as `map` draws it: no status, no differences.
TileViewInput plain_view(const PackageModel& model, const TileFacts& f, const TileSlices& slices,
                         std::string_view id) {
  TileViewInput input;
  input.model = &model;
  input.tile = f.tile;
  input.slices = slices.of(f.physical_tile);
  input.marks = f.marks ? &*f.marks : nullptr;
  input.id = id;
  return input;
}

}  // namespace

std::string tile_view_id(std::uint32_t physical_tile, std::string_view prefix) {
  return fmt::format("{}tile-{}", prefix, physical_tile);
}

std::string loaded_colour(double share) {
  // From a pale blue (nothing loaded) to a deep one (all of it).
  constexpr double from[3] = {0xee, 0xf3, 0xfa};
  constexpr double to[3] = {0x08, 0x30, 0x6b};
  const double t = std::clamp(share, 0.0, 1.0);
  std::string colour = "#";
  for (int i = 0; i < 3; ++i) {
    colour +=
        fmt::format("{:02x}", static_cast<unsigned>(std::lround(from[i] + (to[i] - from[i]) * t)));
  }
  return colour;
}

std::string map_device_page(const Package& package, std::string_view package_name,
                            std::span<const TileFacts> facts, std::size_t columns) {
  const PackageModel& model = package.model();
  const TileSlices slices(model);
  PageBudget budget;

  std::vector<GridCell> cells;
  cells.reserve(facts.size());
  for (const TileFacts& f : facts) {
    cells.push_back(GridCell{f.physical_tile, loaded_colour(loaded_share(f.bytes_loaded)), "",
                             cell_title(f), tile_view_id(f.physical_tile), f.marks.has_value(),
                             ""});
  }
  std::string grid = device_grid(cells, columns);
  std::string body =
      fmt::format("<h1>Package {}</h1>", html_escape(package_name)) + package_paragraph(model);
  if (budget.take(grid.size())) {
    body += R"(<section class="device" data-device="package"><h2>Device view</h2>)"
            "<p>A cell per tile, shaded by the share of tile memory the package loads and "
            "hatched when the tile holds no template setup; choose a tile for its view.</p>" +
            grid + device_legend() + "</section>";
  } else {
    body += fmt::format(
        R"(<p class="summary">The device view of {} tiles does not fit the page; draw one tile with zem-package map PACKAGE TILE.</p>)",
        facts.size());
  }
  std::size_t left_out = 0;
  for (const TileFacts& f : facts) {
    if (left_out > 0) {
      ++left_out;
      continue;
    }
    const std::string id = tile_view_id(f.physical_tile);
    const std::string view = tile_view(plain_view(model, f, slices, id));
    if (budget.take(view.size())) {
      body += view;
    } else {
      left_out = 1;
    }
  }
  if (left_out > 0) {
    body += fmt::format(
        R"(<p class="summary" data-omitted="{0}">The views of {0} tiles do not fit the page; zem-package map PACKAGE TILE draws one.</p>)",
        left_out);
  }
  return page_document(fmt::format("zem-package map: {}", package_name), body);
}

std::string map_tile_page(const Package& package, std::string_view package_name,
                          const TileFacts& facts) {
  const PackageModel& model = package.model();
  const TileSlices slices(model);
  const std::string id = tile_view_id(facts.physical_tile);
  // The one view of the page shows without being chosen.
  TileViewInput input = plain_view(model, facts, slices, id);
  input.shown = true;
  const std::string view = tile_view(input);
  return page_document(
      fmt::format("zem-package map: {} tile {}", package_name, facts.physical_tile),
      fmt::format("<h1>Package {}</h1>", html_escape(package_name)) + package_paragraph(model) +
          view);
}

}  // namespace zem::toolkit::pages

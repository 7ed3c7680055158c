#include "toolkit/pages/device_grid.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "toolkit/pages/html_text.hpp"

namespace zem::toolkit::pages {
namespace {

constexpr std::size_t cell_size = 40;
constexpr std::size_t cell_gap = 2;
constexpr std::size_t pitch = cell_size + cell_gap;

}  // namespace

std::size_t default_columns(std::size_t cells) noexcept {
  std::size_t side = 1;
  while (side * side < cells) ++side;
  return side;
}

std::string device_grid(std::span<const GridCell> cells, std::size_t columns) {
  columns = std::clamp<std::size_t>(columns, 1, std::max<std::size_t>(cells.size(), 1));
  const std::size_t rows = (cells.size() + columns - 1) / columns;
  std::string out = fmt::format(
      R"(<svg class="grid" viewBox="0 0 {0} {1}" style="max-width:{2}px" role="img" aria-label="device view">)",
      columns * pitch, std::max<std::size_t>(rows, 1) * pitch,
      std::max<std::size_t>(columns * pitch * 3 / 2, 320));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const GridCell& c = cells[i];
    const std::size_t x = (i % columns) * pitch;
    const std::size_t y = (i / columns) * pitch;
    // Labels of up to four digits fit the cell at this size; longer ones are
    // drawn smaller.
    const std::string label = fmt::format("{}", c.physical_tile);
    const std::size_t font = label.size() <= 4 ? 11 : 44 / label.size();
    // With a mark, the number moves up to make room for it below.
    const std::size_t label_y = c.mark.empty() ? y + cell_size / 2 + 4 : y + cell_size / 2 - 2;
    std::string cell = fmt::format(R"(<g class="cell" data-tile="{}")", c.physical_tile);
    if (!c.status.empty()) cell += fmt::format(R"( data-status="{}")", html_escape(c.status));
    cell += fmt::format(
        R"( data-setup="{}"><title>{}</title><rect x="{}" y="{}" width="{}" height="{}" fill="{}"/>)",
        c.setup ? "yes" : "no", html_escape(c.title), x, y, cell_size, cell_size,
        html_escape(c.fill));
    // A tile without a template setup is hatched over its fill, so that it
    // shows without its hue and in print.
    if (!c.setup) {
      cell += fmt::format(R"(<rect class="no-setup" x="{}" y="{}" width="{}" height="{}"/>)", x, y,
                          cell_size, cell_size);
    }
    cell += fmt::format(R"(<text x="{}" y="{}" font-size="{}">{}</text></g>)", x + cell_size / 2,
                        label_y, font, label);
    if (!c.mark.empty()) {
      const std::string mark =
          fmt::format(R"(<text class="mark" x="{}" y="{}">{}</text></g>)", x + cell_size / 2,
                      y + cell_size - 5, html_escape(c.mark));
      cell.replace(cell.size() - 4, 4, mark);
    }
    if (!c.target.empty()) {
      cell = fmt::format(R"(<a href="#{}">{}</a>)", html_escape(c.target), cell);
    }
    out += cell;
  }
  return out + "</svg>";
}

}  // namespace zem::toolkit::pages

#include "toolkit/output/text_table.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "zem_package/package_error.hpp"

namespace zem::toolkit {

void TextTable::add_row(std::vector<std::string> cells, bool marked) {
  cells.resize(columns_.size());
  rows_.push_back(Row{std::move(cells), marked});
}

std::string TextTable::render(std::string_view indent) const {
  std::vector<std::size_t> widths(columns_.size(), 0);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    widths[c] = display_width(columns_[c].heading);
    for (const Row& row : rows_) widths[c] = std::max(widths[c], display_width(row.cells[c]));
  }
  std::string out;
  const std::string mark = marked_indent(indent);
  const auto add_line = [&](bool marked, auto cell_of) {
    std::string line(marked ? std::string_view(mark) : indent);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::string_view cell = cell_of(c);
      const std::string padding(widths[c] - display_width(cell), ' ');
      if (c > 0) line += "  ";
      if (columns_[c].align == Align::right) {
        line += padding;
        line += cell;
      } else {
        line += cell;
        line += padding;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  };
  add_line(false, [&](std::size_t c) -> std::string_view { return columns_[c].heading; });
  for (const Row& row : rows_) {
    add_line(row.marked, [&](std::size_t c) -> std::string_view { return row.cells[c]; });
  }
  return out;
}

std::string marked_indent(std::string_view indent) {
  if (indent.size() < 2) return fmt::format("! {}", indent);
  std::string marked(indent);
  marked[marked.size() - 2] = '!';
  return marked;
}

std::size_t display_width(std::string_view text) noexcept {
  return static_cast<std::size_t>(std::ranges::count_if(
      text, [](char c) { return (static_cast<unsigned char>(c) & 0xc0U) != 0x80U; }));
}

std::string cell_text(std::string_view text) {
  // Spaces at either end would vanish into the column padding.
  const bool plain =
      !text.empty() && text.front() != ' ' && text.back() != ' ' && is_printable(text);
  return plain ? std::string(text) : quote_escaped(text);
}

}  // namespace zem::toolkit

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zem::toolkit {

// A table of text cells printed in aligned columns: a header row, then one
// line per row, columns two spaces apart, no trailing spaces.
class TextTable {
 public:
  enum class Align { left, right };
  struct Column {
    std::string heading;
    Align align = Align::left;
  };

  explicit TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

  // A row with fewer cells than columns is padded with empty cells; extra
  // cells are dropped. A marked row is shown with `marked_indent`.
  void add_row(std::vector<std::string> cells, bool marked = false);

  [[nodiscard]] bool empty() const noexcept { return rows_.empty(); }

  // Every line starts with `indent` and ends with a newline.
  [[nodiscard]] std::string render(std::string_view indent = "") const;

 private:
  struct Row {
    std::vector<std::string> cells;
    bool marked = false;
  };
  std::vector<Column> columns_;
  std::vector<Row> rows_;
};

// The indent of a line that is marked: `indent` with "!" two columns before
// its end, so that the mark stands left of the line without moving it
// ("    " becomes "  ! "); "! " before an indent too short to hold it.
[[nodiscard]] std::string marked_indent(std::string_view indent);

// Columns a text takes on a terminal, counted as UTF-8 code points.
[[nodiscard]] std::size_t display_width(std::string_view text) noexcept;

// A package text (a name, a label) fit for one table cell: as it is when it is
// not empty, holds printable characters only and neither starts nor ends with
// a space, otherwise quoted and escaped.
[[nodiscard]] std::string cell_text(std::string_view text);

}  // namespace zem::toolkit

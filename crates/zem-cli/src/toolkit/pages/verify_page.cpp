#include "toolkit/pages/verify_page.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

#include "toolkit/package/package_input.hpp"
#include "toolkit/pages/device_grid.hpp"
#include "toolkit/pages/html_text.hpp"
#include "toolkit/pages/map_pages.hpp"
#include "toolkit/pages/page_document.hpp"
#include "toolkit/pages/palette.hpp"
#include "toolkit/pages/tile_facts.hpp"
#include "toolkit/pages/tile_view.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit::pages {
namespace {

// The kinds of a tile's hints, each once, in the order given.
std::vector<std::string> hint_kinds_of(const TileVerdict& v) {
  std::vector<std::string> kinds;
  if (!v.diff) return kinds;
  for (const Hint& hint : v.diff->hints) {
    if (std::ranges::find(kinds, hint_kind(hint)) == kinds.end()) {
      kinds.emplace_back(hint_kind(hint));
    }
  }
  return kinds;
}

// "D:bs": its status's code and its strongest hint's.
std::string cell_code(const TileVerdict& v) {
  std::string code(status_code(v.status));
  const std::vector<std::string> kinds = hint_kinds_of(v);
  if (const std::string_view strongest = strongest_hint(kinds); !strongest.empty()) {
    code += ':';
    code += hint_code(strongest);
  }
  return code;
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string cell_title(const TileVerdict& v, const VerifiedDevice& device) {
  const std::string_view status = status_name(v.status);
  switch (v.status) {
    case TileStatus::match:
      return fmt::format("tile {}: match", v.physical_tile);
    case TileStatus::differ: {
      const std::vector<std::string> kinds = hint_kinds_of(v);
      return fmt::format("tile {}: differ, {}{}{}", v.physical_tile, differ_text(*v.diff),
                         kinds.empty() ? "" : "; hints: ", joined(kinds));
    }
    case TileStatus::missing:
      return fmt::format("tile {}: missing {}", v.physical_tile,
                         record_name(device, v.physical_tile));
    case TileStatus::unreadable:
    case TileStatus::failed:
      break;
  }
  return fmt::format("tile {}: {}, {}", v.physical_tile, status, v.reason);
}

// What explains a tile that does not match, as HTML.
std::string notes(const TileVerdict& v, const VerifiedDevice& device, const PackageModel& model,
                  std::size_t max) {
  switch (v.status) {
    case TileStatus::match:
      return "";
    case TileStatus::differ:
      return R"(<pre class="diff">)" + html_escape(record_diff_text(*v.diff, model, max)) +
             "</pre>";
    case TileStatus::missing:
      return "<p>No record: " + html_escape(record_name(device, v.physical_tile)) + "</p>";
    case TileStatus::unreadable:
      return "<p>" + html_escape(record_name(device, v.physical_tile)) + ": " +
             html_escape(v.reason) + "</p>";
    case TileStatus::failed:
      return "<p>The template could not be had: " + html_escape(v.reason) + "</p>";
  }
  return "";
}

std::string status_legend() {
  std::string out = R"(<ul class="legend">)";
  for (const TileStatus status : all_tile_statuses) {
    out += fmt::format(
        R"(<li data-status="{0}"><span class="swatch" style="background:{1}"></span>{2} {0}</li>)",
        status_name(status), status_colour(status_name(status)), status_code(status));
  }
  out += fmt::format(
      R"(<li data-status="{0}"><span class="swatch no-setup" style="background-color:{1}"></span>{0} (hatched)</li>)",
      no_setup_status, status_colour(no_setup_status));
  return out + "<li>after the letter, the code of the strongest hint</li></ul>";
}

// The first differing word of a differing tile: "word 3 at 0x4c40c: 0x00000004, expected
// 0x00000003".
std::string first_difference(const TileVerdict& v) {
  if (!v.diff || v.diff->differences.empty()) return "";
  const ExplainedWord& word = v.diff->differences.front();
  return fmt::format("word {} at 0x{:x}: 0x{:08x}, expected 0x{:08x}", word.index,
                     word.place.address, word.actual, word.expected);
}

// The tiles of a device that do not match, a row each, linked to its view.
std::string faults_table(const VerifiedDevice& device, std::string_view prefix) {
  std::string rows;
  for (const TileVerdict& v : device.result.tiles) {
    if (v.status == TileStatus::match) continue;
    std::string detail;
    switch (v.status) {
      case TileStatus::differ:
        detail = differ_text(*v.diff);
        if (const std::string first = first_difference(v); !first.empty()) {
          detail += "; first: " + first;
        }
        break;
      case TileStatus::missing:
        detail = record_name(device, v.physical_tile);
        break;
      default:
        detail = v.reason;
    }
    rows += fmt::format(
        R"(<tr data-status="{1}"><td><a href="#{0}">tile {2}</a></td><td>{3} {1}</td><td>{4}</td><td>{5}</td></tr>)",
        html_escape(tile_view_id(v.physical_tile, std::string(prefix))), status_name(v.status),
        v.physical_tile, status_code(v.status), html_escape(joined(hint_kinds_of(v))),
        html_escape(detail));
  }
  if (rows.empty()) return "";
  return R"(<table class="faults"><tr><th>tile</th><th>status</th><th>hints</th><th>what differs</th></tr>)" +
         rows + "</table>";
}

// The devices side by side, with the legend and what the matrix says.
std::string matrix_html(const FleetMatrix& matrix) {
  std::string out = "<section class=\"across\"><h2>Across devices</h2>";
  if (matrix.rows.empty()) return out + "<p>Every tile matches on every device.</p></section>";
  out += R"(<table class="matrix"><tr><th>tile</th>)";
  for (const std::string& name : matrix.devices) {
    out += "<th>" + html_escape(display_path(name)) + "</th>";
  }
  out += "</tr>";
  for (const MatrixRow& row : matrix.rows) {
    out += fmt::format("<tr><td>{}</td>", row.physical_tile);
    for (std::size_t d = 0; d < row.cells.size(); ++d) {
      const MatrixCell& cell = row.cells[d];
      if (!cell.verified) {
        out += R"(<td title="not verified">-</td>)";
        continue;
      }
      const std::string title =
          fmt::format("tile {} on {}: {}{}{}", row.physical_tile, display_path(matrix.devices[d]),
                      status_name(cell.status), cell.hint.empty() ? "" : ", ", cell.hint);
      const std::string code = html_escape(cell.code);
      out += fmt::format(
          R"(<td class="{}" data-status="{}" title="{}" style="border-left:4px solid {}">{}</td>)",
          status_name(cell.status), status_name(cell.status), html_escape(title),
          status_colour(status_name(cell.status)),
          cell.status == TileStatus::match
              ? code
              : fmt::format(R"(<a href="#{}">{}</a>)",
                            html_escape(tile_view_id(row.physical_tile, fmt::format("d{}-", d))),
                            code));
    }
    out += "</tr>";
  }
  out += "</table><p>Legend: ";
  std::string legend;
  for (const LegendEntry& entry : matrix.legend) {
    legend += fmt::format("{}<code>{}</code> {}", legend.empty() ? "" : ", ",
                          html_escape(entry.code), html_escape(entry.meaning));
  }
  out += legend + "; <code>-</code> not verified.</p>";
  out +=
      fmt::format("<p>On every device: {}.</p>",
                  matrix.on_every_device.empty() ? std::string("no tile")
                                                 : "tiles " + tile_ranges(matrix.on_every_device));
  std::string one;
  for (const OneDeviceTile& tile : matrix.on_one_device) {
    one += fmt::format("{}{} ({})", one.empty() ? "" : ", ", tile.physical_tile,
                       html_escape(display_path(matrix.devices[tile.device])));
  }
  out += fmt::format("<p>On one device only: {}.</p>", one.empty() ? "no tile" : "tiles " + one);
  return out + "</section>";
}

// What a device's tiles and records say as a whole.
std::string device_hints_html(const VerifiedDevice& device) {
  std::string out;
  if (const std::string counts = hint_counts_text(device.tally.hints); !counts.empty()) {
    out += "<p>Hints: " + html_escape(counts) + "</p>";
  }
  for (const DeviceHint& hint : device.result.hints) {
    out += R"(<p class="summary">Device hint: )" + html_escape(device_hint_text(hint)) + "</p>";
  }
  return out;
}

}  // namespace

std::string verify_page(const VerifyReport& report, const DeviceCheck& check, std::size_t columns) {
  const Package& package = check.package();
  const std::string package_name = toolkit::package_name(report.package);
  const std::span<const std::uint32_t> without_setup = report.without_setup;
  const std::size_t max = report.max;
  const PackageModel& model = package.model();
  const TileSlices slices(model);
  std::unordered_map<std::uint32_t, std::size_t> positions;
  for (std::size_t i = 0; i < model.tiles.size(); ++i) positions[model.tiles[i].physical_tile] = i;
  PageBudget budget;

  std::string body =
      fmt::format("<h1>Verify: package {}</h1><p>{} device{}", html_escape(package_name),
                  report.devices.size(), report.devices.size() == 1 ? "" : "s");
  if (!without_setup.empty()) {
    body += fmt::format("; no template setup: tiles {}", tile_ranges(without_setup));
  }
  body += ".</p>";
  std::size_t views_left_out = 0;
  std::size_t grids_left_out = 0;
  if (report.devices.size() > 1) {
    const std::string across = matrix_html(report.matrix);
    if (budget.take(across.size())) {
      body += across;
    } else {
      body +=
          R"(<p class="summary">The devices side by side do not fit the page: the lines and --json hold them.</p>)";
    }
  }
  // Every device's heading, grid and table of faults first; the tile views
  // then as far as they fit, so that a grid is never left out for a view.
  std::vector<std::string> sections;
  for (std::size_t d = 0; d < report.devices.size(); ++d) {
    const VerifiedDevice& device = report.devices[d];
    const std::string prefix = fmt::format("d{}-", d);
    std::vector<GridCell> cells;
    for (const TileVerdict& v : device.result.tiles) {
      const std::string_view status = status_name(v.status);
      cells.push_back(GridCell{
          v.physical_tile, std::string(status_colour(status)), std::string(status),
          cell_title(v, device),
          v.status == TileStatus::match ? std::string() : tile_view_id(v.physical_tile, prefix),
          true, v.status == TileStatus::match ? std::string() : cell_code(v)});
    }
    for (const std::uint32_t tile : without_setup) {
      cells.push_back(GridCell{tile, std::string(status_colour(no_setup_status)),
                               std::string(no_setup_status),
                               fmt::format("tile {}: no template setup", tile), "", false, ""});
    }
    std::ranges::sort(cells, {}, &GridCell::physical_tile);
    const std::string records = html_escape(display_path(device.records));
    std::string section = fmt::format(
        R"(<section class="device" data-device="{}" data-name="{}" data-records="{}"><h2>Device {}: {}</h2>)",
        d, html_escape(device.name), records, d + 1,
        device.named() ? fmt::format("{}, records {}", html_escape(device_label(device)), records)
                       : "records " + records);
    section += "<p>" + html_escape(device_summary(device, without_setup.size())) + "</p>" +
               device_hints_html(device);
    // A heading that no longer fits leaves its device out altogether.
    if (!budget.take(section.size())) {
      ++grids_left_out;
      sections.emplace_back();
      continue;
    }
    const std::string grid =
        device_grid(cells, columns) + status_legend() + faults_table(device, prefix);
    if (budget.take(grid.size())) {
      section += grid;
    } else {
      ++grids_left_out;
      section += R"(<p class="summary">This device view does not fit the page.</p>)";
    }
    sections.push_back(std::move(section));
  }
  for (std::size_t d = 0; d < report.devices.size(); ++d) {
    const VerifiedDevice& device = report.devices[d];
    if (sections[d].empty()) {
      for (const TileVerdict& v : device.result.tiles) {
        if (v.status != TileStatus::match) ++views_left_out;
      }
      continue;
    }
    const std::string prefix = fmt::format("d{}-", d);
    std::string& section = sections[d];
    for (const TileVerdict& v : device.result.tiles) {
      if (v.status == TileStatus::match) continue;
      if (views_left_out > 0) {
        ++views_left_out;
        continue;
      }
      const std::string id = tile_view_id(v.physical_tile, prefix);
      const std::string explained = notes(v, device, model, max);
      std::span<const ExplainedWord> words;
      if (v.diff) words = v.diff->differences;
      TileViewInput input;
      input.model = &model;
      input.tile = positions.at(v.physical_tile);
      input.slices = slices.of(v.physical_tile);
      std::optional<TemplateMarks> marks;
      if (const CheckedTile* checked = check.tile(v.physical_tile)) {
        marks = template_marks(*checked);
      }
      input.marks = marks ? &*marks : nullptr;
      input.id = id;
      input.status = status_name(v.status);
      input.differences = words.first(std::min(words.size(), max));
      input.notes_html = explained;
      const std::string view = tile_view(input);
      if (budget.take(view.size())) {
        section += view;
      } else {
        views_left_out = 1;
      }
    }
    body += section + "</section>";
  }
  if (views_left_out > 0 || grids_left_out > 0) {
    body += fmt::format(
        R"(<p class="summary" data-omitted="{}">{} tile views and {} device views do not fit the page; zem-package diff explains one tile.</p>)",
        views_left_out, views_left_out, grids_left_out);
  }
  return page_document(fmt::format("zem-package verify: {}", package_name), body);
}

}  // namespace zem::toolkit::pages

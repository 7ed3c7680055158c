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

namespace zem::toolkit::pages {
namespace {

std::string cell_title(const TileVerdict& v, const VerifiedDevice& device) {
  const std::string_view status = status_name(v.status);
  switch (v.status) {
    case TileStatus::match:
      return fmt::format("tile {}: match", v.physical_tile);
    case TileStatus::differ:
      return fmt::format("tile {}: differ, {} of {} words differ", v.physical_tile,
                         v.diff->differing_words, v.diff->expected_words);
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
  for (const std::string_view status :
       {std::string_view("match"), std::string_view("differ"), std::string_view("missing"),
        std::string_view("unreadable"), std::string_view("failed"), no_setup_status}) {
    out += fmt::format(
        R"(<li data-status="{0}"><span class="swatch" style="background:{1}"></span>{0}</li>)",
        status, status_colour(status));
  }
  return out + "</ul>";
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
          true});
    }
    for (const std::uint32_t tile : without_setup) {
      cells.push_back(GridCell{tile, std::string(status_colour(no_setup_status)),
                               std::string(no_setup_status),
                               fmt::format("tile {}: no template setup", tile), "", false});
    }
    std::ranges::sort(cells, {}, &GridCell::physical_tile);
    std::string section = fmt::format(
        R"(<section class="device" data-device="{}" data-records="{}"><h2>Device {}: records {}</h2><p>{}</p>)",
        d, html_escape(display_path(device.records)), d + 1,
        html_escape(display_path(device.records)),
        html_escape(device_summary(device, without_setup.size())));
    // A heading that no longer fits leaves its device out altogether.
    if (!budget.take(section.size())) {
      ++grids_left_out;
      continue;
    }
    const std::string grid = device_grid(cells, columns);
    if (budget.take(grid.size())) {
      section += grid + status_legend();
    } else {
      ++grids_left_out;
      section += R"(<p class="summary">This device view does not fit the page.</p>)";
    }
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

#include "toolkit/pages/verify_page.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

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

namespace rc = record_check;

std::string cell_title(const rc::TileVerdict& v, const DeviceVerdicts& device) {
  const std::string_view status = rc::status_name(v.status);
  switch (v.status) {
    case rc::TileStatus::match:
      return fmt::format("tile {}: match", v.physical_tile);
    case rc::TileStatus::differ:
      return fmt::format("tile {}: differ, {} of {} words differ", v.physical_tile,
                         v.diff->differing_words, v.diff->expected_words);
    case rc::TileStatus::missing:
      return fmt::format("tile {}: missing {}", v.physical_tile,
                         device.record_name(v.physical_tile));
    case rc::TileStatus::unreadable:
    case rc::TileStatus::failed:
      break;
  }
  return fmt::format("tile {}: {}, {}", v.physical_tile, status, v.reason);
}

// What explains a tile that does not match, as HTML.
std::string notes(const rc::TileVerdict& v, const DeviceVerdicts& device, const PackageModel& model,
                  std::size_t max) {
  switch (v.status) {
    case rc::TileStatus::match:
      return "";
    case rc::TileStatus::differ:
      return R"(<pre class="diff">)" + html_escape(record_diff_text(*v.diff, model, max)) +
             "</pre>";
    case rc::TileStatus::missing:
      return "<p>No record: " + html_escape(device.record_name(v.physical_tile)) + "</p>";
    case rc::TileStatus::unreadable:
      return "<p>" + html_escape(device.record_name(v.physical_tile)) + ": " +
             html_escape(v.reason) + "</p>";
    case rc::TileStatus::failed:
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

// Each tile's template marks, found once for all devices.
class MarksCache {
 public:
  explicit MarksCache(const Package& package) : package_(&package) {}
  const TemplateMarks* of(std::uint32_t physical_tile) {
    auto [at, added] = marks_.try_emplace(physical_tile);
    if (added) {
      if (auto memory = package_->tile_memory(physical_tile)) at->second = template_marks(*memory);
    }
    return at->second ? &*at->second : nullptr;
  }

 private:
  const Package* package_;
  std::unordered_map<std::uint32_t, std::optional<TemplateMarks>> marks_;
};

}  // namespace

std::string verify_page(const Package& package, std::string_view package_name,
                        std::span<const std::uint32_t> without_setup,
                        std::span<const DeviceVerdicts> devices, std::size_t max,
                        std::size_t columns) {
  const PackageModel& model = package.model();
  const TileSlices slices(model);
  std::unordered_map<std::uint32_t, std::size_t> positions;
  for (std::size_t i = 0; i < model.tiles.size(); ++i) positions[model.tiles[i].physical_tile] = i;
  MarksCache marks(package);
  PageBudget budget;

  std::string body = fmt::format("<h1>Verify: package {}</h1><p>{} devices",
                                 html_escape(package_name), devices.size());
  if (!without_setup.empty()) {
    body += fmt::format("; no template setup: tiles {}", tile_ranges(without_setup));
  }
  body += ".</p>";
  std::size_t views_left_out = 0;
  std::size_t grids_left_out = 0;
  for (std::size_t d = 0; d < devices.size(); ++d) {
    const DeviceVerdicts& device = devices[d];
    const std::string prefix = fmt::format("d{}-", d);
    std::vector<GridCell> cells;
    for (const rc::TileVerdict& v : device.verdicts) {
      const std::string_view status = rc::status_name(v.status);
      cells.push_back(GridCell{
          v.physical_tile, std::string(status_colour(status)), std::string(status),
          cell_title(v, device),
          v.status == rc::TileStatus::match ? std::string() : tile_view_id(v.physical_tile, prefix),
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
        d, html_escape(device.records), d + 1, html_escape(device.records),
        html_escape(device.summary));
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
    for (const rc::TileVerdict& v : device.verdicts) {
      if (v.status == rc::TileStatus::match) continue;
      if (views_left_out > 0) {
        ++views_left_out;
        continue;
      }
      const std::string id = tile_view_id(v.physical_tile, prefix);
      const std::string explained = notes(v, device, model, max);
      std::span<const rc::ExplainedWord> words;
      if (v.diff) words = v.diff->differences;
      TileViewInput input;
      input.model = &model;
      input.tile = positions.at(v.physical_tile);
      input.slices = slices.of(v.physical_tile);
      input.marks = marks.of(v.physical_tile);
      input.id = id;
      input.status = rc::status_name(v.status);
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

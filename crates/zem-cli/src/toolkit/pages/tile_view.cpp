#include "toolkit/pages/tile_view.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "format/hex.hpp"
#include "toolkit/pages/html_text.hpp"
#include "toolkit/pages/palette.hpp"
#include "toolkit/pages/setup_inset.hpp"

namespace zem::toolkit::pages {
namespace {

// The picture's coordinates: tile memory spans `width` units.
constexpr double width = 1000;
constexpr double bar_top = 20;
constexpr double bar_height = 40;
constexpr double axis_y = bar_top + bar_height + 4;
constexpr double bracket_top = axis_y + 22;
constexpr double lane_height = 18;
constexpr std::size_t max_lanes = 10;
constexpr std::uint32_t tick_step = 0x10000;
// A block narrower than this is widened to it, so that it still shows.
constexpr double min_block = 0.6;

double x_of(std::uint64_t address) {
  const std::uint64_t clamped =
      std::clamp<std::uint64_t>(address, tile_memory_base, tile_memory_end) - tile_memory_base;
  return static_cast<double>(clamped) * width / tile_memory_size;
}

std::string range_text(std::uint64_t start, std::uint64_t end) {
  return fmt::format("{}..{}", hex_address(start), hex_address(end));
}

// A rectangle over [start, end) of tile memory, between `top` and `top + h`.
std::string block(std::uint64_t start, std::uint64_t end, double top, double h,
                  std::string_view attributes, std::string_view title) {
  const double x = x_of(start);
  const double w = std::max(x_of(end) - x, min_block);
  return fmt::format(
      R"(<rect {} x="{:.1f}" y="{}" width="{:.1f}" height="{}"><title>{}</title></rect>)",
      attributes, x, top, w, h, title);
}

void draw_regions(std::string& svg, const TemplateMarks& marks) {
  for (const TemplateRange& r : template_ranges(marks)) {
    svg +=
        block(r.start, r.end, 4, 12, fmt::format(R"(class="region {0}" data-region="{0}")", r.name),
              fmt::format("{} {}", r.name, range_text(r.start, r.end)));
  }
}

// The slice's range in tile memory; a valid package keeps it inside.
struct SliceSpan {
  const SliceRef* ref;
  std::uint64_t start;
  std::uint64_t end;
};

std::string slice_attributes(const SliceRef& ref) {
  return fmt::format(R"(data-binding="{}" data-list="{}" data-slice="{}")",
                     shown_text(ref.binding->name), ref.list_number, ref.slice);
}

// Draws the brackets in lanes, each slice in the first lane whose last
// label ends before it starts; returns how many could not be placed.
std::size_t draw_brackets(std::string& svg, std::span<const SliceSpan> spans, std::size_t& lanes) {
  std::vector<double> lane_end;
  std::size_t left_out = 0;
  for (const SliceSpan& s : spans) {
    const double x1 = x_of(s.start);
    const double x2 = std::max(x_of(s.end), x1 + min_block);
    const std::string label = shown_text(s.ref->binding->name, 24);
    // About 6 units a character at the labels' size.
    const double reach = std::max(x2, x1 + 6.0 * static_cast<double>(label.size()) * 0.8);
    std::size_t lane = 0;
    while (lane < lane_end.size() && lane_end[lane] > x1) ++lane;
    if (lane == max_lanes) {
      ++left_out;
      continue;
    }
    if (lane == lane_end.size()) lane_end.push_back(0);
    lane_end[lane] = reach + 4;
    const double y = bracket_top + lane_height * static_cast<double>(lane);
    svg += fmt::format(
        R"(<g class="bracket" {0}><title>{1}[{2}] {3}</title><path d="M{4:.1f} {5}V{6}H{7:.1f}V{5}"/><text x="{4:.1f}" y="{8}">{9}</text></g>)",
        slice_attributes(*s.ref), shown_text(s.ref->binding->name), s.ref->slice,
        range_text(s.start, s.end), x1, y + 6, y, x2, y + 15, label);
  }
  lanes = lane_end.size();
  return left_out;
}

std::string segments_table(const TileImage& tile, const PackageModel& model) {
  std::string out =
      "<table class=\"segments\"><tr><th>segment</th><th>start</th><th>end</th><th>memory "
      "bytes</th><th>data bytes</th><th>zero-filled</th><th>blob</th></tr>";
  const std::size_t shown = std::min(tile.segments.size(), drawn_segments);
  for (std::size_t i = 0; i < shown; ++i) {
    const Segment& s = tile.segments[i];
    const std::uint64_t end = std::uint64_t{s.address} + s.memory_size;
    out += fmt::format(
        R"(<tr data-segment="{0}" data-blob="{1}"><td>{0}</td><td>{2}</td><td>{3}</td><td>{4}</td><td>{5}</td><td>{6}</td><td>{1} {7}</td></tr>)",
        i, s.blob, hex_address(s.address), hex_address(end), s.memory_size, s.data_size,
        s.memory_size - s.data_size,
        s.blob < model.blobs.size() ? short_digest(model.blobs[s.blob].digest) : "");
  }
  out += "</table>";
  if (shown < tile.segments.size()) {
    out += fmt::format(R"(<p class="summary">{} more segments not listed</p>)",
                       tile.segments.size() - shown);
  }
  return out;
}

std::string slices_table(std::span<const SliceSpan> spans, std::size_t total) {
  if (spans.empty()) return "<p>No binding slices.</p>";
  std::string out =
      "<table class=\"bindings\"><tr><th>list</th><th>binding</th><th>label</th><th>slice</th>"
      "<th>start</th><th>end</th><th>bytes</th></tr>";
  for (const SliceSpan& s : spans) {
    out += fmt::format(
        R"(<tr {}><td>bindings{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td></tr>)",
        slice_attributes(*s.ref), s.ref->list_number, shown_text(s.ref->binding->name),
        shown_text(s.ref->binding->label), s.ref->slice, hex_address(s.start), hex_address(s.end),
        s.end - s.start);
  }
  out += "</table>";
  if (spans.size() < total) {
    out += fmt::format(R"(<p class="summary">{} more binding slices not listed</p>)",
                       total - spans.size());
  }
  return out;
}

std::string legend(const TileImage& tile, const PackageModel& model, bool with_marks,
                   bool with_words) {
  std::string out = R"(<ul class="legend">)";
  std::set<std::uint64_t> blobs;
  for (std::size_t i = 0; i < std::min(tile.segments.size(), drawn_segments); ++i) {
    blobs.insert(tile.segments[i].blob);
  }
  std::size_t listed = 0;
  for (const std::uint64_t blob : blobs) {
    if (++listed > 24) {
      out += fmt::format("<li>and {} more blobs</li>", blobs.size() - 24);
      break;
    }
    out += fmt::format(
        R"(<li data-blob="{0}"><span class="swatch" style="background:{1}"></span>blob {0} {2}</li>)",
        blob, blob_colour(blob),
        blob < model.blobs.size() ? short_digest(model.blobs[blob].digest) : "");
  }
  out +=
      R"(<li><span class="swatch zero"></span>zero-filled</li><li><span class="swatch gap"></span>gap</li>)";
  if (with_marks) {
    for (const char* region :
         {"template-setup", "primary", "secondary", "patch-table", "patch-words"}) {
      out += fmt::format(R"(<li><span class="swatch region {0}"></span>{0}</li>)", region);
    }
    out += R"(<li><span class="swatch inset-range"></span>the span zoomed below</li>)";
  }
  if (with_words) out += R"(<li><span class="swatch word"></span>differing word</li>)";
  return out + "</ul>";
}

}  // namespace

// The address axis that every tile view shares: ticks every `tick_step` from the base, and one at
// the end.
std::string axis_group() {
  std::string svg = R"(<g id="tile-axis">)";
  svg += fmt::format(R"(<line class="axis" x1="0" y1="{0}" x2="{1}" y2="{0}"/>)", axis_y, width);
  std::vector<std::uint64_t> ticks;
  for (std::uint64_t a = tile_memory_base; a < tile_memory_end; a += tick_step) ticks.push_back(a);
  ticks.push_back(tile_memory_end);
  for (const std::uint64_t at : ticks) {
    const char* anchor = at == tile_memory_base  ? "start"
                         : at == tile_memory_end ? "end"
                                                 : "middle";
    svg += fmt::format(
        R"(<line class="axis" x1="{0:.1f}" y1="{1}" x2="{0:.1f}" y2="{2}"/><text class="tick" x="{0:.1f}" y="{3}" text-anchor="{4}">{5}</text>)",
        x_of(at), axis_y, axis_y + 4, axis_y + 14, anchor, hex_address(at));
  }
  return svg + "</g>";
}

std::string tile_view(const TileViewInput& input) {
  const PackageModel& model = *input.model;
  const TileImage& tile = model.tiles[input.tile];
  std::uint64_t loaded = 0;
  for (const Segment& s : tile.segments) loaded += s.memory_size;

  std::string out =
      fmt::format(R"(<section class="tile{}" id="{}" data-tile="{}")", input.shown ? " shown" : "",
                  html_escape(input.id), tile.physical_tile);
  if (!input.status.empty()) out += fmt::format(R"( data-status="{}")", input.status);
  out += fmt::format("><h2>Tile {}</h2><p>{} segments, {} of {} bytes loaded ({:.1f} %)",
                     tile.physical_tile, tile.segments.size(), loaded, tile_memory_size,
                     100 * loaded_share(loaded));
  if (input.marks) {
    out += fmt::format("; template setup at {}", hex_address(input.marks->setup_address));
  } else {
    out += "; no template setup";
  }
  if (!input.status.empty()) out += fmt::format("; {}", input.status);
  out += "</p>";

  std::vector<SliceSpan> spans;
  for (const SliceRef& ref : input.slices.first(std::min(input.slices.size(), drawn_slices))) {
    const RegionSlice& s = ref.binding->slices[ref.slice];
    spans.push_back({&ref, s.address, std::uint64_t{s.address} + s.length});
  }
  std::ranges::stable_sort(spans, {}, &SliceSpan::start);

  std::string svg = R"(<rect class="memory" x="0" y=")" + fmt::format("{}", bar_top) +
                    R"(" width="1000" height="40"><title>tile memory )" +
                    range_text(tile_memory_base, tile_memory_end) + "</title></rect>";
  const std::size_t drawn = std::min(tile.segments.size(), drawn_segments);
  for (std::size_t i = 0; i < drawn; ++i) {
    const Segment& s = tile.segments[i];
    const std::uint64_t data_end = std::uint64_t{s.address} + s.data_size;
    const std::uint64_t end = std::uint64_t{s.address} + s.memory_size;
    const std::string title =
        fmt::format("segment {} {} blob {}, {} data bytes, {} zero-filled", i,
                    range_text(s.address, end), s.blob, s.data_size, s.memory_size - s.data_size);
    svg += block(s.address, end, bar_top, bar_height,
                 fmt::format(R"(class="segment" data-segment="{}" data-blob="{}" fill="{}")", i,
                             s.blob, blob_colour(s.blob)),
                 title);
    if (data_end < end) {
      svg += block(data_end, end, bar_top, bar_height,
                   fmt::format(R"(class="zero" data-segment="{}")", i),
                   fmt::format("segment {} zero-filled {}", i, range_text(data_end, end)));
    }
  }
  std::optional<SetupInset> inset;
  if (input.marks) {
    draw_regions(svg, *input.marks);
    inset = setup_inset(*input.marks);
    // Where the inset below lies on the full axis, however narrow.
    const double x = x_of(inset->start);
    svg += fmt::format(
        R"(<rect class="inset-range" x="{:.1f}" y="1" width="{:.1f}" height="{}"><title>zoomed below: {}</title></rect>)",
        x, std::max(x_of(inset->end) - x, 2.0), axis_y - 1, range_text(inset->start, inset->end));
  }
  for (const ExplainedWord& word : input.differences) {
    const double x = x_of(word.place.address);
    svg += fmt::format(
        R"(<line class="word" data-word="{0}" x1="{1:.1f}" y1="2" x2="{1:.1f}" y2="{2}"><title>word {0} at {3}: {4} expected {5}</title></line>)",
        word.index, x, bar_top + bar_height + 2, hex_address(word.place.address),
        hex_word(word.actual), hex_word(word.expected));
  }
  svg += R"(<use href="#tile-axis"/>)";
  std::size_t lanes = 0;
  const std::size_t unplaced = draw_brackets(svg, spans, lanes);
  double height = bracket_top + lane_height * static_cast<double>(lanes) + 4;
  if (inset) {
    const InsetDrawing drawing =
        inset_drawing(*inset, axis_y, height + 4, x_of(inset->start), x_of(inset->end));
    svg += drawing.svg;
    height += 4 + drawing.height;
  }
  out += fmt::format(
      R"(<svg class="tile-map" viewBox="-2 0 1004 {0}" width="100%" role="img" aria-label="tile {1} memory map">)",
      height, tile.physical_tile);
  out += svg + "</svg>";
  if (drawn < tile.segments.size()) {
    out += fmt::format(R"(<p class="summary">{} of {} segments drawn</p>)", drawn,
                       tile.segments.size());
  }
  const std::size_t drawn_brackets = spans.size() - unplaced;
  if (drawn_brackets < input.slices.size()) {
    out += fmt::format(R"(<p class="summary">{} of {} binding slices drawn</p>)", drawn_brackets,
                       input.slices.size());
  }
  out += legend(tile, model, input.marks != nullptr, !input.differences.empty());
  out += input.notes_html;
  out += segments_table(tile, model);
  out += slices_table(spans, input.slices.size());
  return out + "</section>";
}

}  // namespace zem::toolkit::pages

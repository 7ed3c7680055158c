#include "toolkit/pages/setup_inset.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "format/hex.hpp"
#include "toolkit/pages/html_text.hpp"

namespace zem::toolkit::pages {
namespace {

constexpr double funnel_height = 20;
constexpr double row_height = 14;
constexpr double block_height = 10;
// About how wide a character of the labels is, at their 10px.
constexpr double char_width = 5.6;

std::string range_text(const TemplateRange& r) {
  return fmt::format("{} {}..{}", r.name, hex_address(r.start), hex_address(r.end));
}

std::uint64_t clip(std::uint64_t address) {
  return std::clamp<std::uint64_t>(address, tile_memory_base, tile_memory_end);
}

// Whether any of `r` lies in tile memory; an empty range counts where it
// stands.
bool in_memory(const TemplateRange& r) {
  return r.start < tile_memory_end && std::max(r.end, r.start + 1) > tile_memory_base;
}

std::string row(const InsetBlock& b, double y) {
  const std::string title = range_text(b.range);
  std::string out =
      fmt::format(R"(<g class="inset-row" data-inset-region="{0}"><title>{1} ({2} bytes)</title>)",
                  html_escape(b.range.name), html_escape(title), b.range.end - b.range.start);
  if (!b.drawn) {
    return out +
           fmt::format(
               R"(<text class="inset-label" x="4" y="{:.1f}">{}, outside tile memory</text></g>)",
               y + 9, html_escape(title));
  }
  out +=
      fmt::format(R"(<rect class="region {}" x="{:.1f}" y="{:.1f}" width="{:.1f}" height="{}"/>)",
                  html_escape(b.range.name), b.x, y, b.width, block_height);
  // The label stands right of its block where it fits, else left of it.
  const double label = char_width * static_cast<double>(title.size());
  const double right = b.x + b.width + 4;
  const bool fits_right = right + label <= inset_width;
  return out +
         fmt::format(
             R"(<text class="inset-label" x="{:.1f}" y="{:.1f}" text-anchor="{}">{}</text></g>)",
             fits_right ? right : std::max(b.x - 4, label), y + 9, fits_right ? "start" : "end",
             html_escape(title));
}

}  // namespace

std::vector<TemplateRange> template_ranges(const TemplateMarks& marks) {
  const TemplateSetup& s = marks.setup;
  std::vector<TemplateRange> ranges = {
      {"template-setup", marks.setup_address,
       std::uint64_t{marks.setup_address} + template_setup_bytes},
      {"primary", s.primary, s.primary + 4ULL * s.primary_words},
      {"secondary", s.secondary, s.secondary + 4ULL * s.secondary_words},
      {"patch-table", s.patch_table, s.patch_table + 4ULL},
  };
  if (marks.table_start) {
    ranges.push_back({"patch-words", *marks.table_start,
                      *marks.table_start + 4ULL * std::max<std::size_t>(marks.table_words, 1)});
  }
  return ranges;
}

SetupInset setup_inset(const TemplateMarks& marks) {
  SetupInset inset;
  std::uint64_t low = tile_memory_end;
  std::uint64_t high = tile_memory_base;
  for (const TemplateRange& r : template_ranges(marks)) {
    const bool drawn = in_memory(r);
    inset.blocks.push_back({r, drawn});
    if (!drawn) continue;
    low = std::min(low, clip(r.start));
    high = std::max(high, clip(r.end));
  }
  if (low > high) return inset;  // nothing in tile memory: only names
  const std::uint64_t margin = std::max<std::uint64_t>((high - low) / 16, 16);
  inset.start = low - std::min(margin, low - tile_memory_base);
  inset.end = high + std::min(margin, tile_memory_end - high);
  const double scale = inset_width / static_cast<double>(inset.end - inset.start);
  for (InsetBlock& b : inset.blocks) {
    if (!b.drawn) continue;
    const std::uint64_t start = clip(b.range.start);
    const std::uint64_t end = std::max(clip(b.range.end), start);
    b.width = std::max(static_cast<double>(end - start) * scale, min_inset_block);
    // A block widened at the inset's right end is moved left to stay in it.
    b.x = std::min(static_cast<double>(start - inset.start) * scale, inset_width - b.width);
  }
  return inset;
}

InsetDrawing inset_drawing(const SetupInset& inset, double guide_top, double top, double from_x,
                           double to_x) {
  const double rows_top = top + funnel_height;
  const double rows_height = row_height * static_cast<double>(inset.blocks.size());
  const double axis = rows_top + rows_height + 2;
  InsetDrawing d;
  d.svg = fmt::format(
      R"(<g class="setup-inset" data-start="{0}" data-end="{1}"><title>template setup zoomed: {0}..{1}</title>)",
      hex_address(inset.start), hex_address(inset.end));
  // Guides from the span on the full axis down past the brackets, then
  // widening to the inset's ends.
  d.svg += fmt::format(
      R"(<path class="inset-guide" d="M{0:.1f} {2}V{3}L0 {4}M{1:.1f} {2}V{3}L{5} {4}"/>)", from_x,
      to_x, guide_top, top, rows_top - 2, inset_width);
  d.svg += fmt::format(R"(<rect class="inset-frame" x="0" y="{}" width="{}" height="{}"/>)",
                       rows_top - 2, inset_width, rows_height + 4);
  for (std::size_t i = 0; i < inset.blocks.size(); ++i) {
    d.svg += row(inset.blocks[i], rows_top + row_height * static_cast<double>(i));
  }
  d.svg += fmt::format(
      R"(<line class="axis" x1="0" y1="{0}" x2="{1}" y2="{0}"/><line class="axis" x1="0" y1="{0}" x2="0" y2="{2}"/><line class="axis" x1="{1}" y1="{0}" x2="{1}" y2="{2}"/>)",
      axis, inset_width, axis + 4);
  d.svg += fmt::format(
      R"(<text class="tick" x="0" y="{0}">{1}</text><text class="tick" x="{2}" y="{0}" text-anchor="middle">template setup zoomed: {4} bytes</text><text class="tick" x="{3}" y="{0}" text-anchor="end">{5}</text></g>)",
      axis + 14, hex_address(inset.start), inset_width / 2, inset_width, inset.end - inset.start,
      hex_address(inset.end));
  d.height = axis + 16 - top;
  return d;
}

}  // namespace zem::toolkit::pages

#include "toolkit/pages/page_document.hpp"

#include <fmt/format.h>

#include "toolkit/pages/html_text.hpp"
#include "toolkit/pages/tile_view.hpp"

namespace zem::toolkit::pages {
namespace {

// Tile views stay hidden until a cell's link names them (:target), so a
// device page needs no script; a page of one tile shows its view at once.
// Colours are kept when printed, and every tile view is printed.
constexpr std::string_view style = R"(
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{font:14px/1.4 sans-serif;margin:1em 2em;color:#222;background:#fff}
h1{font-size:1.3em}h2{font-size:1.1em}
.grid{width:100%;height:auto;display:block}
.grid text{text-anchor:middle;fill:#000;stroke:#fff;stroke-width:2px;paint-order:stroke;font-family:sans-serif}
.grid a:hover rect{stroke:#000;stroke-width:2}
.tile-map{height:auto;display:block;font:10px sans-serif}
.memory{fill:#fff;stroke:#888}
.zero{fill:url(#hatch)}
.template-setup{fill:#222;background:#222}
.primary{fill:#1f77b4;background:#1f77b4}
.secondary{fill:#17becf;background:#17becf}
.patch-table{fill:#8c564b;background:#8c564b}
.patch-words{fill:#bcbd22;background:#bcbd22}
.word{stroke:#d62728;stroke-width:2}
.inset-range{fill:none;stroke:#000;stroke-width:1.5;stroke-dasharray:4 2}
.swatch.inset-range{border:1.5px dashed #000}
.inset-guide{fill:none;stroke:#666;stroke-dasharray:2 3}
.inset-frame{fill:#fafafa;stroke:#bbb}
.inset-label{fill:#222;stroke:#fff;stroke-width:3px;paint-order:stroke}
.grid .no-setup{fill:url(#no-setup-hatch)}
.swatch.no-setup{background-image:repeating-linear-gradient(-45deg,transparent 0 3px,#444 3px 5px)}
.swatch.word{background:#d62728}
.axis{stroke:#555}
.tick{fill:#333}
.bracket path{fill:none;stroke:#333}
.bracket text{fill:#333}
.tile{display:none;border-top:1px solid #ccc;margin-top:1em}
.tile:target,.tile.shown{display:block}
table{border-collapse:collapse;margin:.5em 0}
td,th{border:1px solid #ccc;padding:1px 6px;font:12px monospace;text-align:right}
.legend{list-style:none;padding:0;display:flex;flex-wrap:wrap;gap:.3em 1em}
.swatch{display:inline-block;width:1em;height:1em;margin-right:.3em;vertical-align:middle;border:1px solid #999}
.swatch.zero{background:repeating-linear-gradient(45deg,#fff 0 2px,#555 2px 4px)}
.swatch.gap{background:#fff}
pre.diff{background:#f6f6f6;padding:.5em;overflow:auto}
.summary{color:#a33}
.grid .mark{font-size:9px;font-weight:bold}
table.faults td,table.matrix td{text-align:left}
table.matrix td.match{color:#888}
@media print{.tile{display:block}}
)";

constexpr std::string_view definitions =
    R"(<svg width="0" height="0" style="position:absolute" aria-hidden="true"><defs>)"
    R"svg(<pattern id="hatch" width="6" height="6" patternUnits="userSpaceOnUse" patternTransform="rotate(45)">)svg"
    R"(<rect width="6" height="6" fill="#fff" fill-opacity=".6"/>)"
    R"(<line x1="0" y1="0" x2="0" y2="6" stroke="#333" stroke-width="2"/></pattern>)"
    R"svg(<pattern id="no-setup-hatch" width="8" height="8" patternUnits="userSpaceOnUse" patternTransform="rotate(-45)">)svg"
    R"(<line x1="0" y1="0" x2="0" y2="8" stroke="#444" stroke-width="2"/></pattern>)";

}  // namespace

std::string page_document(std::string_view title, std::string_view body) {
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\"><title>{}</title><style>{}</style>"
      "</head><body>{}{}</body></html>\n",
      html_escape(title), style, std::string(definitions) + axis_group() + "</defs></svg>", body);
}

}  // namespace zem::toolkit::pages

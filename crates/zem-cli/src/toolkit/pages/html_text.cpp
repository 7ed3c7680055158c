#include "toolkit/pages/html_text.hpp"

#include "toolkit/output/text_table.hpp"

namespace zem::toolkit::pages {

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string shown_text(std::string_view text, std::size_t max_bytes) {
  // Only the start of a long text is looked at: escaping may make it grow
  // up to ten times, and the page never shows more than `max_bytes`.
  const bool long_text = text.size() > max_bytes;
  std::string shown = cell_text(long_text ? text.substr(0, max_bytes) : text);
  if (long_text || shown.size() > max_bytes) {
    std::size_t cut = std::min(shown.size(), max_bytes);
    // Back to the start of a UTF-8 character; the escaped form is ASCII or
    // valid UTF-8 taken from the text.
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xc0U) == 0x80U) --cut;
    shown.resize(cut);
    shown += "\u2026";
  }
  return html_escape(shown);
}

}  // namespace zem::toolkit::pages

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

namespace {

// The length of `text` cut to at most `max` bytes without splitting a UTF-8
// character.
std::size_t boundary(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0U) == 0x80U) --cut;
  return cut;
}

}  // namespace

std::string shown_text(std::string_view text, std::size_t max_bytes) {
  // Only the start of a long text is looked at: escaping may make it grow
  // up to ten times, and the page never shows more than `max_bytes` of it.
  const bool long_text = text.size() > max_bytes;
  std::string shown = cell_text(text.substr(0, boundary(text, max_bytes)));
  if (long_text || shown.size() > max_bytes) {
    shown.resize(boundary(shown, max_bytes));
    shown += "\u2026";
  }
  return html_escape(shown);
}

}  // namespace zem::toolkit::pages

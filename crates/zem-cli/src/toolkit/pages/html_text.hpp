#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zem::toolkit::pages {

// `text` with the five characters that HTML gives a meaning (& < > " ') as
// character references, fit for element content and for attribute values
// between double quotes alike.
[[nodiscard]] std::string html_escape(std::string_view text);

// The most bytes of a package text (a name, a label) that a page shows: a
// longer one is cut, on a character boundary, and ends in an ellipsis.
inline constexpr std::size_t shown_text_bytes = 96;

// A package text as a page shows it: as a table cell shows it (quoted, with
// every character that would not show as itself, a direction mark say,
// written as \u{hex}), cut to `max_bytes`, then escaped for HTML. Whatever
// the text holds, the result is inert text of bounded length.
[[nodiscard]] std::string shown_text(std::string_view text,
                                     std::size_t max_bytes = shown_text_bytes);

}  // namespace zem::toolkit::pages

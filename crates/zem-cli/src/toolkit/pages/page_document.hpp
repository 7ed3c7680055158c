#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zem::toolkit::pages {

// The most bytes a page may take, whatever the package holds: what cannot
// be drawn within it is summarised instead.
inline constexpr std::size_t page_bound = std::size_t{2} << 20;
// What the document's frame (head, style, heading, closing notes) is kept
// within, so that the parts drawn may fill the rest.
inline constexpr std::size_t frame_reserve = std::size_t{64} << 10;

// Parts added to a page while they fit its bound.
class PageBudget {
 public:
  PageBudget() = default;
  // Whether `bytes` more still fit; if so they are counted.
  [[nodiscard]] bool take(std::size_t bytes) noexcept {
    if (bytes > left_) return false;
    left_ -= bytes;
    return true;
  }

 private:
  std::size_t left_ = page_bound - frame_reserve;
};

// A whole HTML document: self-contained (its style inline; no script, font,
// image or link to anything outside it), titled `title` (plain text,
// escaped here), with `body` (HTML) as its body. The shared SVG definitions
// (the hatching of zero-filled memory and of the device view's tiles
// without a template setup, the tile views' address axis) come first in it.
[[nodiscard]] std::string page_document(std::string_view title, std::string_view body);

}  // namespace zem::toolkit::pages

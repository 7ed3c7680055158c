#pragma once

// How often a piece of text stands in a page or a report, for tests that
// hold a count a document shows to what it holds.

#include <cstddef>
#include <string_view>

namespace zem::testing {

// The occurrences of `part` in `text` that do not overlap.
inline std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

}  // namespace zem::testing

#pragma once

#include <cstddef>
#include <string_view>

#include "zem_package/api.hpp"

namespace zem {

// Where a byte of a text stands, as an editor counts: lines and columns
// from 1, a column being a byte of its line.
struct TextPlace {
  std::size_t line = 1;
  std::size_t column = 1;
};

// The place of the byte at `offset` (0-based) of `text`; an offset past the
// end is the place just after its last byte.
[[nodiscard]] ZEM_PACKAGE_API TextPlace text_place(std::string_view text,
                                                   std::size_t offset) noexcept;

}  // namespace zem

#include "zem_package/text_place.hpp"

#include <algorithm>

namespace zem {

TextPlace text_place(std::string_view text, std::size_t offset) noexcept {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const std::size_t line_start = before.rfind('\n');
  return TextPlace{1 + static_cast<std::size_t>(std::ranges::count(before, '\n')),
                   1 + before.size() - (line_start == std::string_view::npos ? 0 : line_start + 1)};
}

}  // namespace zem

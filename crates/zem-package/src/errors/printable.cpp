#include <algorithm>
#include <iterator>

#include "errors/nonprintable_table.hpp"
#include "zem_package/package_error.hpp"
#include "zem_package/utf8.hpp"

namespace zem {
namespace {

constexpr char32_t last_code_point = 0x10ffff;

// The lookup below relies on the generated runs being sorted and apart.
constexpr bool runs_are_ordered() {
  const auto& runs = unicode::nonprintable_runs;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].first > runs[i].last || runs[i].last > last_code_point) return false;
    if (i > 0 && runs[i - 1].last + 1 >= runs[i].first) return false;
  }
  return true;
}
static_assert(runs_are_ordered(), "nonprintable_table.hpp must hold ordered, separate runs");

}  // namespace

bool is_printable(char32_t c) noexcept {
  if (c >= U' ' && c < 0x7f) return true;  // printable ASCII, by far the most common
  if (c > last_code_point) return false;
  // The last run that starts at or before `c` holds it, if any does.
  const auto after =
      std::ranges::upper_bound(unicode::nonprintable_runs, c, {}, &unicode::CodePointRun::first);
  return after == unicode::nonprintable_runs.begin() || c > std::prev(after)->last;
}

bool is_printable(std::string_view text) noexcept {
  if (check_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) return false;
  while (!text.empty()) {
    if (!is_printable(next_code_point(text))) return false;
  }
  return true;
}

}  // namespace zem

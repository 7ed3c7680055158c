#include "run_statistics.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace zem::bench {

Spread spread_of(std::vector<double> values) {
  if (values.empty()) throw std::invalid_argument("no timings to summarise");
  std::ranges::sort(values);
  const std::size_t mid = values.size() / 2;
  const double median = values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
  return Spread{values.front(), median, values.back()};
}

std::string spread_text(const Spread& spread) {
  return fmt::format("median {:.1f} ms (min {:.1f}, max {:.1f})", spread.median * 1e3,
                     spread.min * 1e3, spread.max * 1e3);
}

}  // namespace zem::bench

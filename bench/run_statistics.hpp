#pragma once

// The spread of repeated timings: the slowest run matters as much as the
// median when a tool is run many times over.

#include <string>
#include <vector>

namespace zem::bench {

struct Spread {
  double min = 0;
  double median = 0;
  double max = 0;
};

// Of at least one value.
[[nodiscard]] Spread spread_of(std::vector<double> values);

// "median 512.3 ms (min 498.1, max 530.9)".
[[nodiscard]] std::string spread_text(const Spread& spread);

}  // namespace zem::bench

#include "toolkit/verify/verify_junit.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/record_diff.hpp"

namespace zem::toolkit {
namespace {

// A tile that does not match: its status and what says why in one line,
// then the explanation `verify` gives under the tile.
JunitCase failed_case(const VerifiedDevice& device, const TileVerdict& verdict,
                      const PackageModel& model, std::size_t max) {
  JunitCase c{fmt::format("tile {}", verdict.physical_tile), JunitCase::Outcome::failure,
              std::string(status_name(verdict.status)), ""};
  switch (verdict.status) {
    case TileStatus::match:
      break;
    case TileStatus::differ:
      c.message += ": " + differ_text(*verdict.diff);
      c.text = record_diff_text(*verdict.diff, model, max, "");
      break;
    case TileStatus::missing:
      c.message += ": " + record_name(device, verdict.physical_tile);
      break;
    case TileStatus::unreadable:
      c.message +=
          fmt::format(": {}: {}", record_name(device, verdict.physical_tile), verdict.reason);
      break;
    case TileStatus::failed:
      c.message += ": " + verdict.reason;
      break;
  }
  if (c.text.empty()) c.text = c.message + '\n';
  return c;
}

}  // namespace

std::vector<JunitSuite> verify_junit(const VerifyReport& report, const PackageModel& model) {
  std::vector<JunitSuite> suites;
  for (const VerifiedDevice& device : report.devices) {
    // In tile number order, the skipped tiles among the verified ones.
    std::vector<std::pair<std::uint32_t, JunitCase>> cases;
    for (const TileVerdict& verdict : device.result.tiles) {
      cases.emplace_back(verdict.physical_tile,
                         verdict.status == TileStatus::match
                             ? JunitCase{fmt::format("tile {}", verdict.physical_tile),
                                         JunitCase::Outcome::passed, "", ""}
                             : failed_case(device, verdict, model, report.max));
    }
    for (const std::uint32_t tile : report.without_setup) {
      cases.emplace_back(tile, JunitCase{fmt::format("tile {}", tile), JunitCase::Outcome::skipped,
                                         "no template setup", ""});
    }
    std::ranges::stable_sort(cases, {}, &std::pair<std::uint32_t, JunitCase>::first);
    JunitSuite& suite = suites.emplace_back();
    suite.name = device.records == standard_input_argument && !device.named() ? "standard input"
                                                                              : device.name;
    for (auto& [tile, c] : cases) suite.cases.push_back(std::move(c));
  }
  return suites;
}

}  // namespace zem::toolkit

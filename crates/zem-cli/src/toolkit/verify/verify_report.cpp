#include "toolkit/verify/verify_report.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "format/hex.hpp"
#include "format/record_json.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/record_input.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::toolkit {
namespace {

// "243 match, 9 differ, 1 missing": the statuses that occur, in their order.
std::string counts_text(const StatusCounts& counts) {
  std::string text;
  for (const TileStatus status : all_tile_statuses) {
    const std::uint64_t count = counts.of(status);
    if (count == 0) continue;
    text += fmt::format("{} {} {}", text.empty() ? "" : ",", count, status_name(status));
  }
  return text.empty() ? " none verified" : text;
}

// One device's lines: a line per tile in tile number order (the matching
// ones unless quiet), each difference explained under its tile, then the
// summary.
std::string device_text(const VerifiedDevice& device, std::size_t without_setup,
                        const PackageModel& model, std::size_t max, bool quiet) {
  std::size_t width = 0;
  for (const TileVerdict& v : device.result.tiles) {
    width = std::max(width, fmt::format("{}", v.physical_tile).size());
  }
  std::string out;
  for (const TileVerdict& v : device.result.tiles) {
    if (quiet && v.status == TileStatus::match) continue;
    out += fmt::format("tile {:<{}}  {}", v.physical_tile, width, status_name(v.status));
    switch (v.status) {
      case TileStatus::match:
        break;
      case TileStatus::differ:
        out += fmt::format("  {}", differ_text(*v.diff));
        break;
      case TileStatus::missing:
        out += fmt::format("  {}", record_name(device, v.physical_tile));
        break;
      case TileStatus::unreadable:
        out += fmt::format("  {}: {}", record_name(device, v.physical_tile), v.reason);
        break;
      case TileStatus::failed:
        out += fmt::format("  {}", v.reason);
        break;
    }
    out += '\n';
    if (v.status == TileStatus::differ) out += record_diff_text(*v.diff, model, max, "    ");
  }
  return out + device_summary(device, without_setup) + '\n';
}

}  // namespace

VerifyReport verify_devices(const DeviceCheck& check, std::string package,
                            std::span<const std::string> patterns, std::size_t max,
                            unsigned threads, std::chrono::milliseconds pipe_wait,
                            std::atomic<std::uint64_t>* tiles_done) {
  VerifyReport report;
  report.package = std::move(package);
  report.without_setup.assign(check.tiles_without_setup().begin(),
                              check.tiles_without_setup().end());
  report.max = max;
  for (const std::string& pattern : patterns) {
    VerifiedDevice& device = report.devices.emplace_back();
    device.records = pattern;
    device.result = check.verify(record_source(pattern, pipe_wait), max, threads, tiles_done);
    report.total += device.result.counts;
  }
  return report;
}

std::string record_name(const VerifiedDevice& device, std::uint32_t physical_tile) {
  if (device.records == standard_input_argument) return "standard input";
  return display_path(record_path(device.records, physical_tile));
}

std::string device_summary(const VerifiedDevice& device, std::size_t without_setup) {
  std::string text =
      fmt::format("tiles {}:{}", device.result.counts.tiles(), counts_text(device.result.counts));
  if (without_setup > 0) {
    text += fmt::format("; {} tile{} no template setup", without_setup,
                        without_setup == 1 ? " has" : "s have");
  }
  return text;
}

std::string verify_text(const VerifyReport& report, const PackageModel& model, bool quiet) {
  std::string out;
  if (!report.without_setup.empty()) {
    out +=
        fmt::format("no template setup: tile{} {}\n", report.without_setup.size() == 1 ? "" : "s",
                    tile_ranges(report.without_setup));
  }
  const bool many = report.devices.size() > 1;
  for (const VerifiedDevice& device : report.devices) {
    if (many) out += fmt::format("records {}\n", display_path(device.records));
    out += device_text(device, report.without_setup.size(), model, report.max, quiet);
  }
  if (many) {
    out += fmt::format("devices {}:\n", report.devices.size());
    for (const VerifiedDevice& device : report.devices) {
      out += fmt::format("  {}: {}\n", display_path(device.records),
                         device_summary(device, report.without_setup.size()));
    }
  }
  return out;
}

Json verify_json(const VerifyReport& report, const PackageModel& model) {
  Json devices = Json::array();
  for (const VerifiedDevice& device : report.devices) {
    devices.push_back(
        device_json(device.result, device.records, report.without_setup.size(), model, report.max));
  }
  Json summary{{"devices", report.devices.size()}};
  summary.update(status_counts_json(report.total));
  summary["noTemplateSetup"] = report.without_setup.size();
  return Json{{"format", verify_json_format},
              {"package", report.package},
              {"buildDigest", hex_bytes(model.build_digest())},
              {"noTemplateSetup", tiles_json(report.without_setup)},
              {"devices", std::move(devices)},
              {"summary", std::move(summary)}};
}

}  // namespace zem::toolkit

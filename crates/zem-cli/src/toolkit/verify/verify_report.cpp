#include "toolkit/verify/verify_report.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <variant>

#include "format/hex.hpp"
#include "format/record_json.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/record_input.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "zem_package/fleet_check.hpp"
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
  out += device_summary(device, without_setup) + '\n';
  if (const std::string hints = hint_counts_text(device.tally.hints); !hints.empty()) {
    out += fmt::format("hints: {}\n", hints);
  }
  for (const DeviceHint& hint : device.result.hints) {
    out += fmt::format("device hint: {}\n", device_hint_text(hint));
  }
  return out;
}

}  // namespace

VerifyReport verify_devices(const DeviceCheck& check, std::string package,
                            std::span<const DeviceRecords> devices, std::size_t max,
                            unsigned threads, std::chrono::milliseconds pipe_wait,
                            std::atomic<std::uint64_t>* tiles_done) {
  VerifyReport report;
  report.package = std::move(package);
  report.without_setup.assign(check.tiles_without_setup().begin(),
                              check.tiles_without_setup().end());
  report.max = max;
  std::vector<FleetDevice> fleet;
  for (const DeviceRecords& given : devices) {
    std::optional<std::string> pattern;
    if (given.records != standard_input_argument) pattern = given.records;
    fleet.push_back({given.name, record_source(given.records, pipe_wait), std::move(pattern)});
  }
  FleetResult checked = verify_fleet(check, fleet, max, threads, tiles_done);
  report.matrix = std::move(checked.matrix);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    VerifiedDevice& device = report.devices.emplace_back();
    device.name = devices[i].name;
    device.records = devices[i].records;
    device.result = std::move(checked.devices[i]);
    device.tally = device_tally(device.result);
    report.total += device.result.counts;
    report.hints += device.tally.hints;
  }
  return report;
}

std::string device_label(const VerifiedDevice& device) { return display_path(device.name); }

std::string hint_counts_text(const HintCounts& counts) {
  std::string text;
  for (std::size_t i = 0; i < hint_kinds.size(); ++i) {
    if (counts.counts[i] == 0) continue;
    text += fmt::format("{}{} {}", text.empty() ? "" : ", ", counts.counts[i], hint_kinds[i]);
  }
  return text;
}

std::string device_hint_text(const DeviceHint& hint) {
  struct Text {
    std::string operator()(const device_hint::NoRecords& h) const {
      return fmt::format("no-records: no record file was found for any tile; the directory {} {}",
                         display_path(h.directory),
                         h.directory_exists ? "exists" : "does not exist");
    }
    std::string operator()(const device_hint::OffBy& h) const {
      return fmt::format(
          "off-by: no record matches its own tile, but each of the {} records read is the "
          "expected record of the tile numbered {} {}: the records are numbered off by {}",
          h.records, h.tiles < 0 ? -h.tiles : h.tiles, h.tiles < 0 ? "lower" : "higher", h.tiles);
    }
    std::string operator()(const device_hint::ForeignRecords& h) const {
      if (h.records == 1) {
        return "foreign-records: the one record read is not the expected record of any verified "
               "tile of this package";
      }
      return fmt::format(
          "foreign-records: none of the {} records read is the expected record of any verified "
          "tile of this package",
          h.records);
    }
    std::string operator()(const device_hint::SameRecords& h) const {
      return fmt::format("same-records: every record is byte for byte the one of device {}",
                         display_path(h.name));
    }
  };
  return std::visit(Text{}, hint);
}

std::string matrix_text(const FleetMatrix& matrix) {
  if (matrix.rows.empty()) return "across devices: every tile matches on every device\n";
  std::string out = fmt::format("across devices: {} tile{} not match on some device\n",
                                matrix.rows.size(), matrix.rows.size() == 1 ? " does" : "s do");
  std::size_t tile_width = 4;
  for (const MatrixRow& row : matrix.rows) {
    tile_width = std::max(tile_width, fmt::format("{}", row.physical_tile).size());
  }
  std::vector<std::string> labels;
  std::vector<std::size_t> widths;
  for (std::size_t d = 0; d < matrix.devices.size(); ++d) {
    labels.push_back(display_path(matrix.devices[d]));
    std::size_t width = labels.back().size();
    for (const MatrixRow& row : matrix.rows) width = std::max(width, row.cells[d].code.size());
    widths.push_back(width);
  }
  const auto line = [&](std::string first, const auto& cell) {
    std::string text = fmt::format("  {:<{}}", first, tile_width);
    for (std::size_t d = 0; d < widths.size(); ++d) {
      text += fmt::format("  {:<{}}", cell(d), widths[d]);
    }
    while (text.ends_with(' ')) text.pop_back();
    return text + '\n';
  };
  out += line("tile", [&](std::size_t d) { return labels[d]; });
  for (const MatrixRow& row : matrix.rows) {
    out += line(fmt::format("{}", row.physical_tile), [&](std::size_t d) {
      return row.cells[d].verified ? row.cells[d].code : std::string("-");
    });
  }
  std::string legend;
  for (const LegendEntry& entry : matrix.legend) {
    legend += fmt::format("{}{} {}", legend.empty() ? "" : ", ", entry.code, entry.meaning);
  }
  out += fmt::format("legend: {}; - not verified; a code after : is the strongest hint\n", legend);
  out += fmt::format("on every device: {}\n",
                     matrix.on_every_device.empty()
                         ? std::string("no tile")
                         : fmt::format("tile{} {}", matrix.on_every_device.size() == 1 ? "" : "s",
                                       tile_ranges(matrix.on_every_device)));
  if (matrix.on_one_device.empty()) {
    out += "on one device only: no tile\n";
  } else {
    std::string tiles;
    for (const OneDeviceTile& tile : matrix.on_one_device) {
      tiles += fmt::format("{}{} ({})", tiles.empty() ? "" : ", ", tile.physical_tile,
                           display_path(matrix.devices[tile.device]));
    }
    out += fmt::format("on one device only: tile{} {}\n",
                       matrix.on_one_device.size() == 1 ? "" : "s", tiles);
  }
  return out;
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
    if (device.named()) {
      out += fmt::format("device {}: records {}\n", device_label(device),
                         display_path(device.records));
    } else if (many) {
      out += fmt::format("records {}\n", display_path(device.records));
    }
    out += device_text(device, report.without_setup.size(), model, report.max, quiet);
  }
  if (many) {
    out += fmt::format("devices {}:\n", report.devices.size());
    for (const VerifiedDevice& device : report.devices) {
      out += fmt::format("  {}: {}\n", device_label(device),
                         device_summary(device, report.without_setup.size()));
      if (const std::string hints = hint_counts_text(device.tally.hints); !hints.empty()) {
        out += fmt::format("    hints: {}\n", hints);
      }
    }
    out += matrix_text(report.matrix);
  }
  return out;
}

Json verify_json(const VerifyReport& report, const PackageModel& model) {
  Json devices = Json::array();
  for (const VerifiedDevice& device : report.devices) {
    devices.push_back(device_json(device.result, device.name, device.records,
                                  report.without_setup.size(), model, report.max));
  }
  Json summary{{"devices", report.devices.size()}};
  summary.update(status_counts_json(report.total));
  summary["noTemplateSetup"] = report.without_setup.size();
  summary["hints"] = hint_counts_json(report.hints);
  return Json{{"format", verify_json_format},
              {"package", report.package},
              {"buildDigest", hex_bytes(model.build_digest())},
              {"noTemplateSetup", tiles_json(report.without_setup)},
              {"devices", std::move(devices)},
              {"summary", std::move(summary)},
              {"acrossDevices", fleet_matrix_json(report.matrix)}};
}

}  // namespace zem::toolkit

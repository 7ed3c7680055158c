#include "toolkit/report/fleet_report.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "format/record_json.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/pages/html_text.hpp"
#include "toolkit/pages/page_document.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "toolkit/verify/verify_report.hpp"

namespace zem::toolkit {
namespace {

// "2 differ, 1 missing": the statuses that occur, in their order.
std::string statuses_text(const StatusCounts& counts) {
  std::string text;
  for (const TileStatus status : all_tile_statuses) {
    if (counts.of(status) == 0) continue;
    text +=
        fmt::format("{}{} {}", text.empty() ? "" : ", ", counts.of(status), status_name(status));
  }
  return text.empty() ? "none verified" : text;
}

std::string tally_text(const DeviceTally& tally) {
  std::string text =
      fmt::format("tiles {}: {}", tally.statuses.tiles(), statuses_text(tally.statuses));
  if (const std::string hints = hint_counts_text(tally.hints); !hints.empty()) {
    text += "; hints: " + hints;
  }
  return text;
}

Json tally_json(const DeviceTally& tally) {
  Json json = status_counts_json(tally.statuses);
  json["hints"] = hint_counts_json(tally.hints);
  return json;
}

// A tile that does not match, as a JUnit failure.
JunitCase failed_case(const ReportedTile& tile) {
  JunitCase c{fmt::format("tile {}", tile.physical_tile), JunitCase::Outcome::failure,
              std::string(status_name(tile.status)), ""};
  if (!tile.reason.empty()) c.message += ": " + tile.reason;
  if (tile.status == TileStatus::differ) {
    c.message += fmt::format(": {} word{} differ", tile.differing_words,
                             tile.differing_words == 1 ? "" : "s");
  }
  c.text = c.message + '\n';
  for (const std::string& hint : tile.hints) c.text += "hint: " + hint + '\n';
  if (!tile.first_difference.empty()) c.text += "first difference: " + tile.first_difference + '\n';
  return c;
}

}  // namespace

Outcome<FleetReport> merge_documents(std::vector<VerifyDocument> documents) {
  FleetReport report;
  if (documents.empty()) return report;
  report.package = documents.front().package;
  report.build_digest = documents.front().build_digest;
  std::map<std::string, std::string> device_files;  // name, the document that has it
  std::vector<DeviceOutcome> outcomes;
  for (VerifyDocument& document : documents) {
    if (document.build_digest != report.build_digest) {
      return std::unexpected(Failure{fmt::format(
          "{} and {} are verify documents of different packages: build digest {} and {}",
          display_path(documents.front().file), display_path(document.file), report.build_digest,
          document.build_digest)});
    }
    report.files.push_back(document.file);
    report.without_setup.insert(report.without_setup.end(), document.without_setup.begin(),
                                document.without_setup.end());
    for (ReportedDevice& device : document.devices) {
      const auto [at, added] = device_files.emplace(device.name, document.file);
      if (!added) {
        return std::unexpected(
            Failure{fmt::format("device {} is in both {} and {}", display_path(device.name),
                                display_path(at->second), display_path(document.file))});
      }
      ReportDevice& merged = report.devices.emplace_back();
      merged.tally = device_tally(device.outcome);
      report.total.statuses += merged.tally.statuses;
      report.total.hints += merged.tally.hints;
      outcomes.push_back(device.outcome);
      merged.device = std::move(device);
    }
  }
  std::ranges::sort(report.without_setup);
  report.without_setup.erase(std::ranges::unique(report.without_setup).begin(),
                             report.without_setup.end());
  report.matrix = fleet_matrix(outcomes);
  return report;
}

std::string report_text(const FleetReport& report) {
  std::string out =
      fmt::format("package {} (build digest {}), {} document{}\n", display_path(report.package),
                  report.build_digest, report.files.size(), report.files.size() == 1 ? "" : "s");
  if (!report.without_setup.empty()) {
    out +=
        fmt::format("no template setup: tile{} {}\n", report.without_setup.size() == 1 ? "" : "s",
                    tile_ranges(report.without_setup));
  }
  out += fmt::format("devices {}:\n", report.devices.size());
  for (const ReportDevice& device : report.devices) {
    out += fmt::format("  {}: {} (from {})\n", display_path(device.device.name),
                       tally_text(device.tally), display_path(device.device.file));
  }
  out += fmt::format("all devices: {}\n", tally_text(report.total));
  if (report.devices.size() > 1) out += matrix_text(report.matrix);
  return out;
}

Json report_json(const FleetReport& report) {
  Json devices = Json::array();
  for (const ReportDevice& device : report.devices) {
    devices.push_back({{"name", device.device.name},
                       {"records", device.device.records},
                       {"document", device.device.file},
                       {"summary", tally_json(device.tally)}});
  }
  Json summary{{"devices", report.devices.size()}};
  summary.update(tally_json(report.total));
  return Json{{"format", report_json_format},
              {"package", report.package},
              {"buildDigest", report.build_digest},
              {"documents", report.files},
              {"noTemplateSetup", tiles_json(report.without_setup)},
              {"devices", std::move(devices)},
              {"summary", std::move(summary)},
              {"acrossDevices", fleet_matrix_json(report.matrix)}};
}

std::vector<JunitSuite> report_junit(const FleetReport& report) {
  std::vector<JunitSuite> suites;
  for (const ReportDevice& device : report.devices) {
    // In tile number order, the skipped tiles among the verified ones.
    std::vector<std::pair<std::uint32_t, JunitCase>> cases;
    for (const ReportedTile& tile : device.device.tiles) {
      cases.emplace_back(tile.physical_tile,
                         tile.status == TileStatus::match
                             ? JunitCase{fmt::format("tile {}", tile.physical_tile),
                                         JunitCase::Outcome::passed, "", ""}
                             : failed_case(tile));
    }
    for (const std::uint32_t tile : report.without_setup) {
      cases.emplace_back(tile, JunitCase{fmt::format("tile {}", tile), JunitCase::Outcome::skipped,
                                         "no template setup", ""});
    }
    std::ranges::stable_sort(cases, {}, &std::pair<std::uint32_t, JunitCase>::first);
    JunitSuite& suite = suites.emplace_back();
    suite.name = device.device.name;
    for (auto& [tile, c] : cases) suite.cases.push_back(std::move(c));
  }
  return suites;
}

std::string report_page(const FleetReport& report) {
  using pages::html_escape;
  std::string body = fmt::format(
      "<h1>Fleet report</h1>\n<p>Package {} (build digest <code>{}</code>), {} document{}, {} "
      "device{}: {}.</p>\n",
      html_escape(report.package), html_escape(report.build_digest), report.files.size(),
      report.files.size() == 1 ? "" : "s", report.devices.size(),
      report.devices.size() == 1 ? "" : "s", html_escape(tally_text(report.total)));
  body += "<table class=\"devices\">\n<tr><th>device</th><th>document</th>";
  for (const TileStatus status : all_tile_statuses) {
    body += fmt::format("<th>{}</th>", status_name(status));
  }
  body += "<th>hints</th></tr>\n";
  for (const ReportDevice& device : report.devices) {
    body += fmt::format("<tr data-device=\"{}\"><td>{}</td><td>{}</td>",
                        html_escape(device.device.name), pages::shown_text(device.device.name),
                        pages::shown_text(device.device.file));
    for (const TileStatus status : all_tile_statuses) {
      body += fmt::format("<td>{}</td>", device.tally.statuses.of(status));
    }
    body += fmt::format("<td>{}</td></tr>\n", html_escape(hint_counts_text(device.tally.hints)));
  }
  body += "</table>\n";
  const FleetMatrix& matrix = report.matrix;
  if (!matrix.rows.empty()) {
    body +=
        "<h2>Tiles that do not match on some device</h2>\n<table class=\"matrix\">\n<tr>"
        "<th>tile</th>";
    for (const std::string& device : matrix.devices) {
      body += fmt::format("<th>{}</th>", pages::shown_text(device));
    }
    body += "</tr>\n";
    // A page is bounded: rows past its budget are counted instead.
    pages::PageBudget budget;
    std::size_t left_out = 0;
    for (const MatrixRow& row : matrix.rows) {
      std::string line =
          fmt::format("<tr data-tile=\"{}\"><td>{}</td>", row.physical_tile, row.physical_tile);
      for (const MatrixCell& cell : row.cells) {
        line += fmt::format("<td>{}</td>", cell.verified ? html_escape(cell.code) : "-");
      }
      line += "</tr>\n";
      if (budget.take(line.size())) {
        body += line;
      } else {
        ++left_out;
      }
    }
    body += "</table>\n";
    if (left_out > 0) body += fmt::format("<p>{} more rows do not fit this page.</p>\n", left_out);
    body += "<p>Legend: ";
    for (std::size_t i = 0; i < matrix.legend.size(); ++i) {
      body +=
          fmt::format("{}<code>{}</code> {}", i == 0 ? "" : ", ",
                      html_escape(matrix.legend[i].code), html_escape(matrix.legend[i].meaning));
    }
    body += "; - not verified.</p>\n";
  }
  return pages::page_document("zem-package report", body);
}

}  // namespace zem::toolkit

#pragma once

// `report`'s one value: `verify` documents of one package merged, every
// device once, with what the fleet says together (the summary, the hint
// counts per device and in all, the matrix of devices side by side). Its
// lines, JSON, page and JUnit XML are each written from it.

#include <span>
#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "toolkit/report/verify_documents.hpp"
#include "toolkit/tool_error.hpp"
#include "toolkit/verify/junit_xml.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem::toolkit {

struct ReportDevice {
  ReportedDevice device;
  DeviceTally tally;
};

struct FleetReport {
  std::vector<std::string> files;  // the documents merged, in the order given
  std::string package;             // the package argument of the first document
  std::string build_digest;
  std::vector<std::uint32_t> without_setup;  // every document's, each tile once
  std::vector<ReportDevice> devices;         // in the order of the documents
  DeviceTally total;
  FleetMatrix matrix;

  [[nodiscard]] bool all_match() const noexcept {
    return total.statuses.of(TileStatus::match) == total.statuses.tiles();
  }
};

// Merges `documents`: refused when two are of different packages (naming
// both files and build digests) or name the same device (naming it and
// both files).
[[nodiscard]] Outcome<FleetReport> merge_documents(std::vector<VerifyDocument> documents);

// The lines: a line per device with its counts and hint counts, the fleet's
// total, then the matrix with its legend and what it says.
[[nodiscard]] std::string report_text(const FleetReport& report);

// The JSON document, of format `report_json_format`.
[[nodiscard]] Json report_json(const FleetReport& report);

// The JUnit suites: one per device, as `verify --junit` writes them, from
// what its document says.
[[nodiscard]] std::vector<JunitSuite> report_junit(const FleetReport& report);

// The page: one self-contained HTML file with the devices' table and the
// matrix; every text escaped.
[[nodiscard]] std::string report_page(const FleetReport& report);

inline constexpr int report_json_format = 1;

}  // namespace zem::toolkit

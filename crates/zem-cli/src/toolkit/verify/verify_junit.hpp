#pragma once

// What `verify` found, as JUnit test suites: one per device, a test case
// per verified tile, failed unless it matches, and a skipped one per tile
// without a template setup.

#include <vector>

#include "toolkit/verify/junit_xml.hpp"
#include "toolkit/verify/verify_report.hpp"

namespace zem::toolkit {

[[nodiscard]] std::vector<JunitSuite> verify_junit(const VerifyReport& report,
                                                   const PackageModel& model);

}  // namespace zem::toolkit

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/verify/verify_report.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit::pages {

// The page of a `verify` run: a section per device with its device view,
// each tile's cell coloured by its status (or as having no template setup),
// and the view of each tile that does not match, its differing words marked
// at their addresses and explained as `verify` explains them, with the
// hints that hold. Views that do not fit the page's bound are left out and
// counted.
// `check` is the check that made the report.
[[nodiscard]] std::string verify_page(const VerifyReport& report, const DeviceCheck& check,
                                      std::size_t columns);

}  // namespace zem::toolkit::pages

#pragma once

#include <string>

#include "toolkit/inspect/inspection.hpp"

namespace zem::toolkit {

// The human form of `inspect`: a summary of the package and its check, then
// one section per part of the package, lists as aligned tables.
[[nodiscard]] std::string inspection_text(const Inspection& inspection);

}  // namespace zem::toolkit

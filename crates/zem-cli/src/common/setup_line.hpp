#pragma once

#include <cstdint>
#include <string>

#include "zem_package/template_setup.hpp"

namespace zem::cli {

// The line both tools print for a located setup, without a newline:
// "physicalTile=5 primary=0x4c100 primaryWords=16 secondary=0x4c200
// secondaryWords=8 patchTable=0x4d000".
[[nodiscard]] std::string template_setup_line(std::uint32_t physical_tile,
                                              const TemplateSetup& setup);

}  // namespace zem::cli

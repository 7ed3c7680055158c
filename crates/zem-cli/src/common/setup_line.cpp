#include "common/setup_line.hpp"

#include <fmt/format.h>

namespace zem::cli {

std::string template_setup_line(std::uint32_t physical_tile, const TemplateSetup& setup) {
  return fmt::format(
      "physicalTile={} primary=0x{:x} primaryWords={} secondary=0x{:x} secondaryWords={} "
      "patchTable=0x{:x}",
      physical_tile, setup.primary, setup.primary_words, setup.secondary, setup.secondary_words,
      setup.patch_table);
}

}  // namespace zem::cli

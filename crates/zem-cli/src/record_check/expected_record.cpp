#include "record_check/expected_record.hpp"

#include <algorithm>

namespace zem::record_check {

namespace tr = template_record;

cli::Outcome<ExpectedRecord> expected_record(const TileMemory& memory) {
  ZEM_ASSIGN_OR_RETURN(const tr::TemplateSetup setup, tr::locate_template_setup(memory.bytes));
  ZEM_ASSIGN_OR_RETURN(tr::PatchedTemplate words,
                       tr::patch_template(memory.bytes, memory.load_base, setup));
  return ExpectedRecord{memory.physical_tile, memory.load_base, setup, std::move(words)};
}

std::string_view region_name(Region region) noexcept {
  return region == Region::primary ? "primary" : "secondary";
}

WordPlace word_place(const tr::TemplateSetup& setup, std::size_t index) noexcept {
  // Offsets and addresses are 32-bit, as the verifier reads them.
  if (index < setup.primary_words) {
    const auto offset = static_cast<std::uint32_t>(4 * index);
    return {Region::primary, offset, setup.primary + offset};
  }
  const auto offset = static_cast<std::uint32_t>(4 * (index - setup.primary_words));
  return {Region::secondary, offset, setup.secondary + offset};
}

std::optional<WordPatch> word_patch(const ExpectedRecord& record, std::size_t index) {
  const std::size_t primary = record.setup.primary_words;
  const unsigned group = index < primary ? 0 : 1;
  const std::size_t position = group == 0 ? index : index - primary;
  const std::vector<tr::AppliedPatch>& patches =
      group == 0 ? record.words.primary_patches : record.words.secondary_patches;
  // A group patches each position at most once.
  const auto found = std::ranges::find(patches, position, &tr::AppliedPatch::position);
  if (found == patches.end()) return std::nullopt;
  return WordPatch{group, *found};
}

}  // namespace zem::record_check

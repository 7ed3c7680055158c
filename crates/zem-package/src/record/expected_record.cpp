#include "zem_package/expected_record.hpp"

#include <algorithm>

namespace zem {

TemplateResult<std::optional<ExpectedRecord>> expected_record(const TileMemory& memory) {
  const std::optional<FoundSetup> found = find_template_setup(memory.bytes);
  if (!found) return std::nullopt;
  auto record = expected_record(memory, found->setup);
  if (!record) return std::unexpected(record.error());
  return std::move(*record);
}

TemplateResult<ExpectedRecord> expected_record(const TileMemory& memory,
                                               const TemplateSetup& setup) {
  auto words = patch_template(memory.bytes, memory.load_base, setup);
  if (!words) return std::unexpected(words.error());
  return ExpectedRecord{memory.physical_tile, memory.load_base, setup, std::move(*words)};
}

std::vector<std::uint8_t> record_bytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(4 * words.size());
  for (const std::uint32_t word : words) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return bytes;
}

std::string_view region_name(Region region) noexcept {
  return region == Region::primary ? "primary" : "secondary";
}

WordPlace word_place(const TemplateSetup& setup, std::size_t index) noexcept {
  // Offsets and addresses are 32-bit, as the template words are read.
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
  const std::vector<AppliedPatch>& patches =
      group == 0 ? record.words.primary_patches : record.words.secondary_patches;
  // A group patches each position at most once.
  const auto found = std::ranges::find(patches, position, &AppliedPatch::position);
  if (found == patches.end()) return std::nullopt;
  return WordPatch{group, *found};
}

}  // namespace zem

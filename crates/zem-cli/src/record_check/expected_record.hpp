#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/failure.hpp"
#include "template_record/patching.hpp"
#include "template_record/template_setup.hpp"
#include "zem_package/tile_memory.hpp"

namespace zem::record_check {

// The record a tile expects, and how each of its words came to be: gathered
// from the template regions, then patched.
struct ExpectedRecord {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  template_record::TemplateSetup setup;
  template_record::PatchedTemplate words;

  [[nodiscard]] std::size_t size() const noexcept { return words.words.size(); }
};

// The verifier's stages on one tile's memory: the template setup, then the
// gathered and patched words. Fails with the verifier's own text ("template
// setup was not found", "index 5 out of range for slice of length 3").
[[nodiscard]] cli::Outcome<ExpectedRecord> expected_record(const TileMemory& memory);

enum class Region : std::uint8_t { primary, secondary };

// "primary" or "secondary".
[[nodiscard]] std::string_view region_name(Region region) noexcept;

// Where template word `index` was read from.
struct WordPlace {
  Region region = Region::primary;
  std::uint32_t offset = 0;   // byte offset from its region's first word
  std::uint32_t address = 0;  // tile address

  friend bool operator==(const WordPlace&, const WordPlace&) = default;
};
[[nodiscard]] WordPlace word_place(const template_record::TemplateSetup& setup,
                                   std::size_t index) noexcept;

// The patch that changed template word `index`, and the group it belongs
// to: 0 for the primary part, 1 for the secondary; none when no patch
// changed the word.
struct WordPatch {
  unsigned group = 0;
  template_record::AppliedPatch patch;

  friend bool operator==(const WordPatch&, const WordPatch&) = default;
};
[[nodiscard]] std::optional<WordPatch> word_patch(const ExpectedRecord& record, std::size_t index);

}  // namespace zem::record_check

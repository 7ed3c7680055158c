#pragma once

// The record a tile expects of a device, and how each of its words came to
// be: found through the template setup, gathered from the template regions,
// then patched.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/template_patching.hpp"
#include "zem_package/template_setup.hpp"
#include "zem_package/tile_memory.hpp"

namespace zem {

struct ExpectedRecord {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  TemplateSetup setup;
  PatchedTemplate words;

  // Words the record holds.
  [[nodiscard]] std::size_t size() const noexcept { return words.words.size(); }

  friend bool operator==(const ExpectedRecord&, const ExpectedRecord&) = default;
};

// The record a tile with this memory expects: its template setup found, its
// template words gathered and patched. Nothing when the memory holds no
// template setup; a failure when the setup names words or a patch table
// that the memory does not hold.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<std::optional<ExpectedRecord>> expected_record(
    const TileMemory& memory);

// The same for a setup already found in the memory.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<ExpectedRecord> expected_record(
    const TileMemory& memory, const TemplateSetup& setup);

// The little-endian bytes of `words`: what a matching device record holds.
[[nodiscard]] ZEM_PACKAGE_API std::vector<std::uint8_t> record_bytes(
    std::span<const std::uint32_t> words);

enum class Region : std::uint8_t { primary, secondary };

// "primary" or "secondary".
[[nodiscard]] ZEM_PACKAGE_API std::string_view region_name(Region region) noexcept;

// Where template word `index` was read from.
struct WordPlace {
  Region region = Region::primary;
  std::uint32_t offset = 0;   // byte offset from its region's first word
  std::uint32_t address = 0;  // tile address

  friend bool operator==(const WordPlace&, const WordPlace&) = default;
};
[[nodiscard]] ZEM_PACKAGE_API WordPlace word_place(const TemplateSetup& setup,
                                                   std::size_t index) noexcept;

// The patch that changed template word `index`, and the group it belongs
// to: 0 for the primary part, 1 for the secondary.
struct WordPatch {
  unsigned group = 0;
  AppliedPatch patch;

  friend bool operator==(const WordPatch&, const WordPatch&) = default;
};
// Nothing when no patch changed the word.
[[nodiscard]] ZEM_PACKAGE_API std::optional<WordPatch> word_patch(const ExpectedRecord& record,
                                                                  std::size_t index);

}  // namespace zem

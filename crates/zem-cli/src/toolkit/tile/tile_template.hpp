#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "template_record/template_setup.hpp"
#include "toolkit/output/json_values.hpp"
#include "toolkit/tool_error.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// The template of one tile: its memory and the template setup found in it.
struct TileTemplate {
  TileMemory memory;
  template_record::TemplateSetup setup;
};

// The memory of tile `physical_tile` and its template setup, as the verifier
// finds them. Failures are said of the package `package_argument` names:
// "<package>: no tile has physical tile number 9", "<package>: tile 3:
// template setup was not found".
[[nodiscard]] Outcome<TileTemplate> find_tile_template(const CheckedPackage& package,
                                                       std::string_view package_argument,
                                                       std::uint32_t physical_tile);

// A tile that holds a template setup.
struct TileSetup {
  std::uint32_t physical_tile = 0;
  template_record::TemplateSetup setup;
};

// Every tile that holds a template setup, in the package's order of tiles.
// A tile without segments holds none.
[[nodiscard]] Outcome<std::vector<TileSetup>> all_tile_setups(const CheckedPackage& package,
                                                              std::string_view package_argument);

// The template words of a tile, as stored in its image and as patched: the
// words a matching device record holds.
struct TemplateWords {
  std::vector<std::uint32_t> stored;
  std::vector<std::uint32_t> patched;
};
[[nodiscard]] Outcome<TemplateWords> stored_and_patched_words(const TileTemplate& tile,
                                                              std::string_view package_argument);

enum class Region { primary, secondary };

// Where template word `index` was read from.
struct WordPlace {
  Region region = Region::primary;
  std::uint32_t offset = 0;   // byte offset from its region's first word
  std::uint32_t address = 0;  // tile address

  friend bool operator==(const WordPlace&, const WordPlace&) = default;
};
[[nodiscard]] WordPlace word_place(const template_record::TemplateSetup& setup,
                                   std::size_t index) noexcept;

// "primary" or "secondary".
[[nodiscard]] std::string_view region_name(Region region) noexcept;

// `template`'s table of the words: index, region, offset, address, the word
// as stored, as patched (the record's word) and whether the patch table
// changed it; then "templateRecordWords=10". Every line ends in a newline.
[[nodiscard]] std::string template_words_text(const template_record::TemplateSetup& setup,
                                              const TemplateWords& words);

// {"primary": "0x4c400", "primaryWords": 6, "secondary": ..., "secondaryWords": 4,
//  "patchTable": "0x4cc00"}.
[[nodiscard]] Json setup_json(const template_record::TemplateSetup& setup);

// [{"word": 0, "region": "primary", "offset": "0x0", "address": "0x4c400",
//   "stored": 100, "expected": 98, "patched": true}, ...].
[[nodiscard]] Json template_words_json(const template_record::TemplateSetup& setup,
                                       const TemplateWords& words);

// The record as a device holds it: each patched word, little-endian.
[[nodiscard]] std::vector<std::uint8_t> record_bytes(const std::vector<std::uint32_t>& words);

}  // namespace zem::toolkit

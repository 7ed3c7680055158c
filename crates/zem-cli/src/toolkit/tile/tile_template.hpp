#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "record_check/expected_record.hpp"
#include "template_record/template_setup.hpp"
#include "format/json_values.hpp"
#include "toolkit/tool_error.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// The template of one tile: its memory and the template setup found in it.
struct TileTemplate {
  TileMemory memory;
  template_record::TemplateSetup setup;
};

// The memory of tile `physical_tile`, or the failure the verifier gives for
// it, with a hint that names the tiles there are when there is no such tile:
// "the package has tiles 3, 7".
[[nodiscard]] Outcome<TileMemory> find_tile_memory(const Package& package,
                                                   std::uint32_t physical_tile);

// The memory of tile `physical_tile` and its template setup, as the verifier
// finds them. Failures are said of the package `package_argument` names:
// "<package>: no tile has physical tile number 9", "<package>: tile 3:
// template setup was not found", each with a hint that names the tiles there
// are, or those that hold a template setup ("tile 7 has a template setup").
[[nodiscard]] Outcome<TileTemplate> find_tile_template(const Package& package,
                                                       std::string_view package_argument,
                                                       std::uint32_t physical_tile);

// A tile that holds a template setup.
struct TileSetup {
  std::uint32_t physical_tile = 0;
  template_record::TemplateSetup setup;
};

// Every tile that holds a template setup, in the package's order of tiles.
// A tile without segments holds none.
[[nodiscard]] Outcome<std::vector<TileSetup>> all_tile_setups(const Package& package,
                                                              std::string_view package_argument);

// The record the tile expects, with its template words as gathered and as
// patched. A failure of the verifier's stages is said of the package and
// tile: "<package>: tile 7: index 5 out of range for slice of length 3".
[[nodiscard]] Outcome<record_check::ExpectedRecord> expected_record_of(
    const TileTemplate& tile, std::string_view package_argument);

// `template`'s table of the words: index, region, offset, address, the word
// as stored, as patched (the record's word) and whether the patch table
// changed it; then "templateRecordWords=10". Every line ends in a newline.
[[nodiscard]] std::string template_words_text(const record_check::ExpectedRecord& record);

// {"primary": "0x4c400", "primaryWords": 6, "secondary": ..., "secondaryWords": 4,
//  "patchTable": "0x4cc00"}.
[[nodiscard]] Json setup_json(const template_record::TemplateSetup& setup);

// [{"word": 0, "region": "primary", "offset": "0x0", "address": "0x4c400",
//   "stored": 100, "expected": 98, "patched": true}, ...].
[[nodiscard]] Json template_words_json(const record_check::ExpectedRecord& record);

}  // namespace zem::toolkit

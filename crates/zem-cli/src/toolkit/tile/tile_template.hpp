#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/package.hpp"
#include "zem_package/template_setup.hpp"

namespace zem::toolkit {

// The template of one tile: its memory and the template setup found in it.
struct TileTemplate {
  TileMemory memory;
  TemplateSetup setup;
};

// "the package has tiles 3, 7": what to ask for instead of a tile the
// package does not have.
[[nodiscard]] std::string package_tiles(const PackageModel& model);

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

// The device check of tiles `tiles` of the valid package that
// `package_argument` names (every tile when empty), prepared on `threads`
// threads; a tile it does not have fails as `find_tile_memory` says.
[[nodiscard]] Outcome<DeviceCheck> prepare_check(const Package& package,
                                                 std::string_view package_argument,
                                                 std::span<const std::uint32_t> tiles,
                                                 unsigned threads);

// The device check `check` of tiles `tiles` of the valid package that
// `package_argument` names, as `DeviceCheck::prepare` or
// `DeviceCheck::read_and_prepare` gave it, made what `prepare_check` makes.
[[nodiscard]] Outcome<DeviceCheck> prepared_check(const Package& package,
                                                  std::string_view package_argument,
                                                  std::span<const std::uint32_t> tiles,
                                                  ReadResult<DeviceCheck> check);

// A tile that holds a template setup.
struct TileSetup {
  std::uint32_t physical_tile = 0;
  TemplateSetup setup;
};

// Every tile that holds a template setup, in the package's order of tiles.
// A tile without segments holds none.
[[nodiscard]] Outcome<std::vector<TileSetup>> all_tile_setups(const Package& package,
                                                              std::string_view package_argument);

// The record the tile expects, with its template words as gathered and as
// patched. A failure of the verifier's stages is said of the package and
// tile: "<package>: tile 7: index 5 out of range for slice of length 3".
[[nodiscard]] Outcome<ExpectedRecord> expected_record_of(const TileTemplate& tile,
                                                         std::string_view package_argument);

// `template`'s table of the words: index, region, offset, address, the word
// as stored, as patched (the record's word) and whether the patch table
// changed it; then "templateRecordWords=10". Every line ends in a newline.
[[nodiscard]] std::string template_words_text(const ExpectedRecord& record);

}  // namespace zem::toolkit

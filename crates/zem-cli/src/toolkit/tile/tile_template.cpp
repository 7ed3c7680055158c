#include "toolkit/tile/tile_template.hpp"

#include <fmt/format.h>

#include "common/tile_lookup.hpp"
#include "template_record/patching.hpp"
#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/tile_list.hpp"

namespace zem::toolkit {
namespace {

namespace tr = template_record;
using record_check::region_name;
using record_check::word_place;
using record_check::WordPlace;

// A verifier stage's failure, said of the package and tile it concerns.
Failure stage_error(std::string_view package_argument, std::uint32_t tile,
                    const tr::Failure& failure) {
  return {fmt::format("{}: tile {}: {}", package_name(package_argument), tile, failure.message)};
}

Failure package_error(std::string_view package_argument, const Failure& failure) {
  return {fmt::format("{}: {}", package_name(package_argument), failure.message), failure.hints};
}

std::string image_context(std::uint32_t physical_tile) {
  return fmt::format("cannot rebuild the image of tile {}", physical_tile);
}

// "tiles 7-9 have a template setup", or that none has: what to ask for
// instead of a tile without one.
std::string setup_hint(std::span<const TileSetup> setups) {
  std::vector<std::uint32_t> tiles;
  for (const TileSetup& setup : setups) tiles.push_back(setup.physical_tile);
  if (tiles.empty()) return "no tile of the package has a template setup";
  return fmt::format("tile{} {} {} a template setup", tiles.size() == 1 ? "" : "s",
                     tile_ranges(tiles), tiles.size() == 1 ? "has" : "have");
}

}  // namespace

Outcome<TileMemory> find_tile_memory(const Package& package, std::uint32_t physical_tile) {
  auto memory = package.tile_memory(physical_tile);
  if (memory) return std::move(*memory);
  Failure failure =
      cli::tile_memory_failure(memory.error(), physical_tile, image_context(physical_tile));
  if (memory.error().kind == TileMemoryError::Kind::unknown_tile) {
    std::vector<std::uint32_t> tiles;
    for (const TileImage& tile : package.model().tiles) tiles.push_back(tile.physical_tile);
    failure.hints.push_back(
        fmt::format("the package has tile{} {}", tiles.size() == 1 ? "" : "s", tile_ranges(tiles)));
  }
  return std::unexpected(std::move(failure));
}

Outcome<TileTemplate> find_tile_template(const Package& package,
                                         std::string_view package_argument,
                                         std::uint32_t physical_tile) {
  auto memory = find_tile_memory(package, physical_tile);
  if (!memory) return std::unexpected(package_error(package_argument, memory.error()));
  auto setup = tr::locate_template_setup(memory->bytes);
  if (!setup) {
    Failure failure = stage_error(package_argument, physical_tile, setup.error());
    // Only the search for a setup fails here, so the other tiles are looked at.
    if (auto setups = all_tile_setups(package, package_argument)) {
      failure.hints.push_back(setup_hint(*setups));
    }
    return std::unexpected(std::move(failure));
  }
  return TileTemplate{std::move(*memory), *setup};
}

Outcome<std::vector<TileSetup>> all_tile_setups(const Package& package,
                                                std::string_view package_argument) {
  // One image at a time: a package of many tiles never holds them all.
  std::vector<TileSetup> found;
  for (const TileImage& tile : package.model().tiles) {
    if (tile.segments.empty()) continue;
    auto memory =
        cli::find_tile_memory(package, tile.physical_tile, image_context(tile.physical_tile));
    if (!memory) return std::unexpected(package_error(package_argument, memory.error()));
    if (auto setup = tr::locate_template_setup(memory->bytes)) {
      found.push_back(TileSetup{tile.physical_tile, *setup});
    }
  }
  return found;
}

Outcome<record_check::ExpectedRecord> expected_record_of(const TileTemplate& tile,
                                                         std::string_view package_argument) {
  const TileMemory& memory = tile.memory;
  auto patched = tr::patch_template(memory.bytes, memory.load_base, tile.setup);
  if (!patched) {
    return std::unexpected(stage_error(package_argument, memory.physical_tile, patched.error()));
  }
  return record_check::ExpectedRecord{memory.physical_tile, memory.load_base, tile.setup,
                                      std::move(*patched)};
}

std::string template_words_text(const record_check::ExpectedRecord& record) {
  const tr::TemplateSetup& setup = record.setup;
  const std::vector<std::uint32_t>& gathered = record.words.gathered;
  const std::vector<std::uint32_t>& patched = record.words.words;
  std::string out;
  if (!patched.empty()) {
    using Align = TextTable::Align;
    TextTable table({{"word", Align::right},
                     {"region"},
                     {"offset", Align::right},
                     {"address"},
                     {"unpatched"},
                     {"expected"},
                     {"patched"}});
    for (std::size_t n = 0; n < patched.size(); ++n) {
      const WordPlace place = word_place(setup, n);
      const bool changed = n < gathered.size() && gathered[n] != patched[n];
      table.add_row({fmt::format("{}", n), std::string(region_name(place.region)),
                     fmt::format("{}", place.offset), hex_address(place.address),
                     n < gathered.size() ? hex_word(gathered[n]) : "-", hex_word(patched[n]),
                     changed ? "yes" : "no"});
    }
    out += table.render();
  }
  return out + fmt::format("templateRecordWords={}\n", patched.size());
}

Json setup_json(const tr::TemplateSetup& setup) {
  return Json{{"primary", json_address(setup.primary)},
              {"primaryWords", setup.primary_words},
              {"secondary", json_address(setup.secondary)},
              {"secondaryWords", setup.secondary_words},
              {"patchTable", json_address(setup.patch_table)}};
}

Json template_words_json(const record_check::ExpectedRecord& record) {
  const tr::TemplateSetup& setup = record.setup;
  const std::vector<std::uint32_t>& gathered = record.words.gathered;
  const std::vector<std::uint32_t>& patched = record.words.words;
  Json list = Json::array();
  for (std::size_t n = 0; n < patched.size(); ++n) {
    const WordPlace place = word_place(setup, n);
    const bool was_gathered = n < gathered.size();
    list.push_back(Json{{"word", n},
                        {"region", region_name(place.region)},
                        {"regionOffset", place.offset},
                        {"address", json_address(place.address)},
                        {"unpatched", was_gathered ? json_word(gathered[n]) : Json()},
                        {"expected", json_word(patched[n])},
                        {"patched", was_gathered && gathered[n] != patched[n]}});
  }
  return list;
}

}  // namespace zem::toolkit

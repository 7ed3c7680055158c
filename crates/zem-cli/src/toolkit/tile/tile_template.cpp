#include "toolkit/tile/tile_template.hpp"

#include <fmt/format.h>

#include "common/tile_lookup.hpp"
#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/tile_list.hpp"

namespace zem::toolkit {
namespace {

// A verifier stage's failure, said of the package and tile it concerns.
Failure stage_error(std::string_view package_argument, std::uint32_t tile, std::string_view what) {
  return {fmt::format("{}: tile {}: {}", package_name(package_argument), tile, what)};
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

std::string package_tiles(const PackageModel& model) {
  std::vector<std::uint32_t> tiles;
  for (const TileImage& tile : model.tiles) tiles.push_back(tile.physical_tile);
  return fmt::format("the package has tile{} {}", tiles.size() == 1 ? "" : "s", tile_ranges(tiles));
}

Outcome<TileMemory> find_tile_memory(const Package& package, std::uint32_t physical_tile) {
  auto memory = package.tile_memory(physical_tile);
  if (memory) return std::move(*memory);
  Failure failure =
      cli::tile_memory_failure(memory.error(), physical_tile, image_context(physical_tile));
  if (memory.error().subject == FailureSubject::unknown_tile) {
    failure.hints.push_back(package_tiles(package.model()));
  }
  return std::unexpected(std::move(failure));
}

Outcome<DeviceCheck> prepare_check(const Package& package, std::string_view package_argument,
                                   std::span<const std::uint32_t> tiles, unsigned threads) {
  return prepared_check(package, package_argument, tiles,
                        DeviceCheck::prepare(package, tiles, threads));
}

Outcome<DeviceCheck> prepared_check(const Package& package, std::string_view package_argument,
                                    std::span<const std::uint32_t> tiles,
                                    ReadResult<DeviceCheck> check) {
  for (const std::uint32_t tile : tiles) {
    if (find_tile(package.model().tiles, tile) == nullptr) {
      return std::unexpected(package_error(
          package_argument, Failure{fmt::format("no tile has physical tile number {}", tile),
                                    {package_tiles(package.model())}}));
    }
  }
  if (check) return std::move(*check);
  // What is left is a tile whose image cannot be rebuilt.
  const ReadFailure& failure = check.error();
  const std::vector<TileImage>& model_tiles = package.model().tiles;
  const std::optional<std::size_t> index = failure.element.index_in(PackageField::tiles);
  const std::uint32_t tile =
      index && *index < model_tiles.size() ? model_tiles[*index].physical_tile : 0;
  return std::unexpected(package_error(
      package_argument, cli::tile_memory_failure(failure, tile, image_context(tile))));
}

Outcome<TileTemplate> find_tile_template(const Package& package, std::string_view package_argument,
                                         std::uint32_t physical_tile) {
  auto memory = find_tile_memory(package, physical_tile);
  if (!memory) return std::unexpected(package_error(package_argument, memory.error()));
  const std::optional<FoundSetup> found = find_template_setup(memory->bytes);
  if (!found) {
    Failure failure = stage_error(package_argument, physical_tile, "template setup was not found");
    // Only the search for a setup fails here, so the other tiles are looked at.
    if (auto setups = all_tile_setups(package, package_argument)) {
      failure.hints.push_back(setup_hint(*setups));
    }
    return std::unexpected(std::move(failure));
  }
  return TileTemplate{std::move(*memory), found->setup};
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
    if (const std::optional<FoundSetup> setup = find_template_setup(memory->bytes)) {
      found.push_back(TileSetup{tile.physical_tile, setup->setup});
    }
  }
  return found;
}

Outcome<ExpectedRecord> expected_record_of(const TileTemplate& tile,
                                           std::string_view package_argument) {
  auto expected = expected_record(tile.memory, tile.setup);
  if (!expected) {
    return std::unexpected(
        stage_error(package_argument, tile.memory.physical_tile, to_string(expected.error())));
  }
  return std::move(*expected);
}

std::string template_words_text(const ExpectedRecord& record) {
  const TemplateSetup& setup = record.setup;
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

}  // namespace zem::toolkit

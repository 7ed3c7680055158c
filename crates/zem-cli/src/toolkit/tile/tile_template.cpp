#include "toolkit/tile/tile_template.hpp"

#include <fmt/format.h>

#include "common/tile_lookup.hpp"
#include "template_record/patching.hpp"
#include "toolkit/output/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/package_input.hpp"

namespace zem::toolkit {
namespace {

namespace tr = template_record;

// A verifier stage's failure, said of the package and tile it concerns.
Failure stage_error(std::string_view package_argument, std::uint32_t tile,
                    const tr::Failure& failure) {
  return {fmt::format("{}: tile {}: {}", package_name(package_argument), tile, failure.message)};
}

Failure package_error(std::string_view package_argument, const Failure& failure) {
  return {fmt::format("{}: {}", package_name(package_argument), failure.message)};
}

}  // namespace

Outcome<TileTemplate> find_tile_template(const CheckedPackage& package,
                                         std::string_view package_argument,
                                         std::uint32_t physical_tile) {
  auto memory = cli::find_tile_memory(
      package, physical_tile, fmt::format("cannot rebuild the image of tile {}", physical_tile));
  if (!memory) return std::unexpected(package_error(package_argument, memory.error()));
  auto setup = tr::locate_template_setup(memory->bytes);
  if (!setup) return std::unexpected(stage_error(package_argument, physical_tile, setup.error()));
  return TileTemplate{std::move(*memory), *setup};
}

Outcome<std::vector<TileSetup>> all_tile_setups(const CheckedPackage& package,
                                                std::string_view package_argument) {
  // One image at a time: a package of many tiles never holds them all.
  std::vector<TileSetup> found;
  for (const TileImage& tile : package.model().tiles) {
    if (tile.segments.empty()) continue;
    auto memory = cli::find_tile_memory(
        package, tile.physical_tile,
        fmt::format("cannot rebuild the image of tile {}", tile.physical_tile));
    if (!memory) return std::unexpected(package_error(package_argument, memory.error()));
    if (auto setup = tr::locate_template_setup(memory->bytes)) {
      found.push_back(TileSetup{tile.physical_tile, *setup});
    }
  }
  return found;
}

Outcome<TemplateWords> stored_and_patched_words(const TileTemplate& tile,
                                                std::string_view package_argument) {
  const TileMemory& memory = tile.memory;
  auto patched = tr::patched_template_words(memory.bytes, memory.load_base, tile.setup);
  if (!patched) {
    return std::unexpected(stage_error(package_argument, memory.physical_tile, patched.error()));
  }
  // Patching read every template word already, so this cannot fail; checked
  // all the same rather than assumed.
  auto stored = tr::template_words(memory.bytes, memory.load_base, tile.setup);
  if (!stored) {
    return std::unexpected(stage_error(package_argument, memory.physical_tile, stored.error()));
  }
  return TemplateWords{std::move(*stored), std::move(*patched)};
}

WordPlace word_place(const tr::TemplateSetup& setup, std::size_t index) noexcept {
  WordPlace place;
  if (index < setup.primary_words) {
    place.region = Region::primary;
    place.offset = static_cast<std::uint32_t>(4 * index);
    place.address = setup.primary + place.offset;
  } else {
    place.region = Region::secondary;
    place.offset = static_cast<std::uint32_t>(4 * (index - setup.primary_words));
    place.address = setup.secondary + place.offset;
  }
  return place;
}

std::string_view region_name(Region region) noexcept {
  return region == Region::primary ? "primary" : "secondary";
}

std::string template_words_text(const tr::TemplateSetup& setup, const TemplateWords& words) {
  std::string out;
  if (!words.patched.empty()) {
    using Align = TextTable::Align;
    TextTable table({{"word", Align::right},
                     {"region"},
                     {"offset", Align::right},
                     {"address"},
                     {"stored"},
                     {"expected"},
                     {"patched"}});
    for (std::size_t n = 0; n < words.patched.size(); ++n) {
      const WordPlace place = word_place(setup, n);
      const bool patched = n < words.stored.size() && words.stored[n] != words.patched[n];
      table.add_row({fmt::format("{}", n), std::string(region_name(place.region)),
                     hex_address(place.offset), hex_address(place.address),
                     n < words.stored.size() ? hex_word(words.stored[n]) : "-",
                     hex_word(words.patched[n]), patched ? "yes" : "no"});
    }
    out += table.render();
  }
  return out + fmt::format("templateRecordWords={}\n", words.patched.size());
}

Json setup_json(const tr::TemplateSetup& setup) {
  return Json{{"primary", json_address(setup.primary)},
              {"primaryWords", setup.primary_words},
              {"secondary", json_address(setup.secondary)},
              {"secondaryWords", setup.secondary_words},
              {"patchTable", json_address(setup.patch_table)}};
}

Json template_words_json(const tr::TemplateSetup& setup, const TemplateWords& words) {
  Json list = Json::array();
  for (std::size_t n = 0; n < words.patched.size(); ++n) {
    const WordPlace place = word_place(setup, n);
    const bool stored = n < words.stored.size();
    list.push_back(Json{{"word", n},
                        {"region", region_name(place.region)},
                        {"offset", json_address(place.offset)},
                        {"address", json_address(place.address)},
                        {"stored", stored ? Json(words.stored[n]) : Json()},
                        {"expected", words.patched[n]},
                        {"patched", stored && words.stored[n] != words.patched[n]}});
  }
  return list;
}

std::vector<std::uint8_t> record_bytes(const std::vector<std::uint32_t>& words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(4 * words.size());
  for (const std::uint32_t word : words) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return bytes;
}

}  // namespace zem::toolkit

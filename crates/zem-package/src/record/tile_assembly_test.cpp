// A device check read in one pass: tiles assembled from the blobs as they
// are checked give the check that `DeviceCheck::prepare` gives, and the
// blob contents kept for tiles that wait are given back as tiles complete.

#include "record/tile_assembly.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "record/device_check_read.hpp"

namespace zem {
namespace {

namespace zt = zem::testing;

constexpr std::size_t half = 0x800;  // each blob holds half a template tile

// Half `which` (0 or 1) of the template tile, then `marker`, so that every
// blob has contents of its own.
std::vector<std::uint8_t> half_blob(std::size_t which, std::uint32_t marker) {
  const std::vector<std::uint8_t> image = zt::make_template_tile().image;
  std::vector<std::uint8_t> bytes(half);
  std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(which * half), half, bytes.begin());
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(marker >> (8 * i)));
  return bytes;
}

// Tile `number` loaded from the first half of `low`'s blob and the second of `high`'s.
TileImage split_tile(std::uint32_t number, std::uint64_t low, std::uint64_t high) {
  return TileImage{
      number,
      0,
      0,
      0,
      {Segment{0x4c000, half, low, 0, half, 0}, Segment{0x4c800, half, high, 0, half, 0}}};
}

// The package of `model`, every blob compressed.
std::vector<std::uint8_t> package_of(Application model) {
  model.compiler = "1.4.2";
  zt::index_blobs(model);
  zt::PackageOptions options;
  options.blob_encodings.assign(model.blobs.size(), zt::BlobEncoding{true, std::nullopt, 3});
  return zt::build_package(model, options);
}

// Blob 0, the first half, is shared by every tile; tile 0 takes its second
// half from the last blob, so it waits for it while all the others complete.
std::vector<std::uint8_t> late_shared(std::uint32_t tiles) {
  Application model;
  model.blobs.push_back(zt::make_blob(half_blob(0, 0)));
  for (std::uint32_t i = 1; i <= tiles; ++i) model.blobs.push_back(zt::make_blob(half_blob(1, i)));
  model.tiles.push_back(split_tile(0, 0, tiles));
  for (std::uint32_t t = 1; t < tiles; ++t) model.tiles.push_back(split_tile(t, 0, t));
  return package_of(std::move(model));
}

// Tile t takes blobs 2t and 2t + 1, which follow each other in the table.
std::vector<std::uint8_t> pairs(std::uint32_t tiles) {
  Application model;
  for (std::uint32_t t = 0; t < tiles; ++t) {
    model.blobs.push_back(zt::make_blob(half_blob(0, t)));
    model.blobs.push_back(zt::make_blob(half_blob(1, t)));
    model.tiles.push_back(split_tile(t, 2 * std::uint64_t{t}, 2 * std::uint64_t{t} + 1));
  }
  return package_of(std::move(model));
}

TEST(TileAssemblyTest, GivesThePreparedCheckAndKeepsOnlyWhatWaitingTilesNeed) {
  constexpr std::uint64_t blob = half + 4;
  const struct {
    std::string name;
    std::function<std::vector<std::uint8_t>()> package;
    std::uint64_t budget;
    std::size_t assembled;
    // The most blob contents kept at once on one thread: held for waiting
    // tiles, never for all of them. On more threads, blobs are checked in
    // any order and how many wait depends on the schedule: the budget is
    // the bound there.
    std::uint64_t most_held;
  } cases[] = {
      {"a shared blob kept for a tile that waits for the last blob", [] { return late_shared(48); },
       TileAssembly::default_budget, 48, 2 * blob},
      {"each tile's first blob given back when its second comes", [] { return pairs(32); },
       TileAssembly::default_budget, 32, blob},
      {"blobs that do not fit leave their tiles to the package", [] { return late_shared(8); }, 0,
       0, 0},
  };
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> bytes = c.package();
    const auto package = zt::read_checked(bytes);
    ASSERT_TRUE(package) << c.name;
    const auto prepared = DeviceCheck::prepare(*package, {}, 1);
    ASSERT_TRUE(prepared) << c.name;
    ASSERT_EQ(prepared->tiles().size(), c.assembled == 0 ? 8U : c.assembled) << c.name;
    for (const unsigned threads : {1U, 4U}) {
      TileAssembly assembly({}, c.budget);
      const DeviceCheckRead read = read_and_prepare_with(bytes, {}, {threads}, assembly);
      ASSERT_TRUE(read.package && read.check) << c.name << threads;
      const DeviceCheck& check = *read.check;
      EXPECT_EQ(std::vector<CheckedTile>(check.tiles().begin(), check.tiles().end()),
                std::vector<CheckedTile>(prepared->tiles().begin(), prepared->tiles().end()))
          << c.name << threads;
      EXPECT_TRUE(check.tiles_without_setup().empty()) << c.name << threads;
      EXPECT_EQ(assembly.assembled_tiles(), c.assembled) << c.name << threads;
      EXPECT_LE(assembly.most_held_bytes(), threads == 1 ? c.most_held : c.budget)
          << c.name << threads;
      EXPECT_EQ(assembly.held_bytes(), 0U) << c.name << threads;
    }
  }
}

// The tile that waits keeps the shared blob: on one thread, it is all that
// is kept, and it is kept.
TEST(TileAssemblyTest, KeepsASharedBlobUntilItsLastTileCompletes) {
  TileAssembly assembly({}, TileAssembly::default_budget);
  const DeviceCheckRead read = read_and_prepare_with(late_shared(16), {}, {1}, assembly);
  ASSERT_TRUE(read.check);
  EXPECT_EQ(assembly.most_held_bytes(), half + 4);
  EXPECT_EQ(assembly.assembled_tiles(), 16U);
}

// A package that fails its read is reported as the strict read reports it,
// and nothing is prepared.
TEST(TileAssemblyTest, ADamagedPackageFailsAsItsReadDoes) {
  std::vector<std::uint8_t> bytes = pairs(4);
  bytes[bytes.size() / 2] ^= 0x40U;
  const auto strict = zt::read_checked(bytes, 2);
  ASSERT_FALSE(strict);
  const DeviceCheckRead read = DeviceCheck::read_and_prepare(bytes, {}, {2});
  ASSERT_FALSE(read.package);
  EXPECT_EQ(read.package.error(), strict.error());
  ASSERT_FALSE(read.check);
  EXPECT_EQ(read.check.error(), read.package.error());
}

}  // namespace
}  // namespace zem

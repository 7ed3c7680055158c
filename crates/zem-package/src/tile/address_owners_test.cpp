// What owns a tile address, and tiles rebuilt many at a time with shared
// blobs decompressed once.

#include "zem_package/address_owners.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "reading/tile_memory_source.hpp"

namespace zem {
namespace {

namespace zt = zem::testing;
using F = PackageField;

TEST(AddressOwnersTest, SegmentBlobByteAndSlices) {
  const std::vector<std::uint8_t> bytes =
      zt::build_package(zt::example_application(), zt::example_options());
  const auto package = zt::read_checked(bytes);
  ASSERT_TRUE(package);
  const PackageModel& model = package->model();
  const std::uint64_t plain = model.blobs[1].storage.file_offset;  // blob 1 is stored plain
  const AddressOwners owners(model);
  const struct {
    std::uint32_t tile;
    std::uint32_t address;
    AddressOwner owner;
  } cases[] = {
      {7,
       0x4c404,
       {SegmentOwner{1, 0, 0x4c000, 0x4d000, BlobByte{0, 0x404, std::nullopt}},
        {SliceOwner{F::bindings1, 0, 0, "weights"}}}},
      {7, 0x4c418, {SegmentOwner{1, 0, 0x4c000, 0x4d000, BlobByte{0, 0x418, std::nullopt}}, {}}},
      {7, 0x4e010, {SegmentOwner{1, 1, 0x4e000, 0x4e200, BlobByte{1, 0x90, plain + 0x90}}, {}}},
      {7, 0x4e07f, {SegmentOwner{1, 1, 0x4e000, 0x4e200, BlobByte{1, 0xff, plain + 0xff}}, {}}},
      {7, 0x4e080, {SegmentOwner{1, 1, 0x4e000, 0x4e200, std::nullopt}, {}}},  // past the data
      {7, 0x4e100, {SegmentOwner{1, 1, 0x4e000, 0x4e200, std::nullopt}, {}}},  // zero-filled
      {7, 0x4d800, {std::nullopt, {}}},                                        // a gap
      {3,
       0x4c0ff,
       {SegmentOwner{0, 0, 0x4c000, 0x4c100, BlobByte{1, 0xff, plain + 0xff}},
        {SliceOwner{F::bindings2, 0, 0, "scratch"}}}},
      {9, 0x4c000, {}},  // no such tile
  };
  for (const auto& c : cases) {
    EXPECT_EQ(owners.owner(c.tile, c.address), c.owner) << c.tile << " " << c.address;
  }
}

// A model that fails validation may name a blob it does not hold: the segment
// still owns its addresses, but no blob byte stands behind them.
TEST(AddressOwnersTest, ASegmentNamingNoBlobOwnsNoBlobByte) {
  PackageModel model;
  model.blobs.resize(1);
  model.blobs[0].storage.file_offset = 0x100;  // stored plain there
  model.tiles.push_back(TileImage{
      5, 0, 0, 0, {Segment{0x4c000, 0x10, 0, 0, 0x10, 0}, Segment{0x4c010, 0x10, 1, 0, 0x10, 0}}});
  const AddressOwners owners(model);
  EXPECT_EQ(owners.owner(5, 0x4c00f).segment,
            (SegmentOwner{0, 0, 0x4c000, 0x4c010, BlobByte{0, 0xf, 0x10f}}));
  EXPECT_EQ(owners.owner(5, 0x4c010).segment, (SegmentOwner{0, 1, 0x4c010, 0x4c020, std::nullopt}));
}

TEST(TileMemorySourceTest, GivesWhatEachTileGivesAloneFromSeveralThreads) {
  // Four tiles share blob 0; each has a blob of its own too.
  Application model = zt::example_application();
  const std::vector<std::uint8_t> shared(0x3000, 0x5a);
  model.blobs.push_back(zt::make_blob(shared));
  for (std::uint32_t tile = 10; tile < 14; ++tile) {
    model.blobs.push_back(zt::make_blob(std::vector<std::uint8_t>(0x800, std::uint8_t(tile))));
    model.tiles.push_back(
        TileImage{tile,
                  0,
                  0,
                  0,
                  {Segment{0x4c000, 0x3000, 2, 0, 0x3000, 0},
                   Segment{0x50000, 0x900, model.blobs.size() - 1, 0, 0x800, 0}}});
  }
  zt::index_blobs(model);
  zt::PackageOptions options = zt::example_options();
  zt::BlobEncoding compressed;
  compressed.compressed = true;
  options.blob_encodings.resize(model.blobs.size(), compressed);
  const auto package = zt::read_checked(zt::build_package(model, options));
  ASSERT_TRUE(package) << package.error().error.to_string();
  for (const std::uint64_t budget : {std::uint64_t{0}, TileMemorySource::default_budget}) {
    const TileMemorySource source(*package, budget);
    std::vector<ReadResult<TileMemory>> results(model.tiles.size() * 2);
    {
      std::jthread other([&] {
        for (std::size_t i = 0; i < model.tiles.size(); ++i) {
          results[i] = source.tile_memory(model.tiles[i].physical_tile);
        }
      });
      for (std::size_t i = 0; i < model.tiles.size(); ++i) {
        results[model.tiles.size() + i] = source.tile_memory(model.tiles[i].physical_tile);
      }
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
      const std::uint32_t tile = model.tiles[i % model.tiles.size()].physical_tile;
      EXPECT_EQ(results[i], package->tile_memory(tile)) << tile << " budget " << budget;
    }
    EXPECT_EQ(source.tile_memory(99).error().subject, FailureSubject::unknown_tile);
  }
}

// A segment that names no blob (in a survey, which reads past the failed
// validation) is refused for its tile's memory and counts for no blob.
TEST(TileMemorySourceTest, SegmentNamingNoBlobIsRefused) {
  Application model = zt::example_application();
  model.tiles[1].segments[1].blob = model.blobs.size();
  const auto survey = zt::read_survey(zt::build_package(model, zt::example_options()));
  ASSERT_TRUE(survey);
  const TileMemorySource source(*survey);
  EXPECT_EQ(source.tile_memory(7).error().error.to_string(),
            R"(Invalid("segment at 0x4e000 on tile 7 takes data from outside its blob"))");
  EXPECT_EQ(source.tile_memory(3), survey->tile_memory(3));
  EXPECT_TRUE(source.tile_memory(3));
}

}  // namespace
}  // namespace zem

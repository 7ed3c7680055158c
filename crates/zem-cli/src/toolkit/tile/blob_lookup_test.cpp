#include "toolkit/tile/blob_lookup.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "common/tile_lookup.hpp"
#include "package_builder.hpp"
#include "format/hex.hpp"
#include "toolkit/tile/tile_argument.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

// Blobs whose digests are chosen, so that prefixes can be shared.
std::vector<BlobInfo> blobs_with_digests(std::initializer_list<std::uint8_t> first_bytes) {
  std::vector<BlobInfo> blobs;
  for (const std::uint8_t first : first_bytes) {
    BlobInfo blob;
    blob.digest.fill(0x11);
    blob.digest[0] = first;
    blobs.push_back(blob);
  }
  return blobs;
}

Package checked(const Application& model) {
  return Package::read(zt::build_package(model, zt::example_options())).value();
}

// The memory `extract` writes for a tile, or what it says when there is none.
Outcome<TileMemory> extract_tile(const Package& package, std::uint32_t tile) {
  return cli::find_tile_memory(package, tile, "cannot rebuild the image");
}

TEST(ExtractTest, FindsABlobByDigestOrUniquePrefix) {
  const std::vector<BlobInfo> blobs = blobs_with_digests({0xab, 0xac, 0x12, 0x9f});
  const std::string full = hex_bytes(blobs[2].digest);
  const struct {
    std::string digest;
    std::size_t blob;
  } found[] = {{full, 2}, {"ab", 0}, {"AC1", 1}, {"digest:1", 2}, {"ab1111", 0}, {"9F", 3}};
  for (const auto& c : found) {
    const Outcome<std::size_t> blob = find_blob(blobs, c.digest);
    ASSERT_TRUE(blob) << c.digest << ": " << blob.error().message;
    EXPECT_EQ(*blob, c.blob) << c.digest;
  }

  const struct {
    std::string digest;
    std::string message;
  } refused[] = {
      {"a", "blob digest a is ambiguous: 2 blobs start with it: blobs[0] " +
                hex_bytes(blobs[0].digest) + ", blobs[1] " + hex_bytes(blobs[1].digest)},
      {"ff", "no blob has a digest starting with ff"},
      {"", "invalid blob digest \"\": expected 1 to 64 hexadecimal digits"},
      {"xyz", "invalid blob digest \"xyz\": expected 1 to 64 hexadecimal digits"},
      {full + "0", "invalid blob digest \"" + full + "0\": expected 1 to 64 hexadecimal digits"},
  };
  for (const auto& c : refused) {
    const Outcome<std::size_t> blob = find_blob(blobs, c.digest);
    ASSERT_FALSE(blob) << c.digest;
    EXPECT_EQ(blob.error().message, c.message);
  }

  // Four candidates are named, more are counted.
  const std::vector<BlobInfo> many = blobs_with_digests({0xc1, 0xc2, 0xc3, 0xc4, 0xc5});
  std::vector<std::string> named;
  for (std::size_t i = 0; i < 4; ++i) {
    named.push_back(fmt::format("blobs[{}] {}", i, hex_bytes(many[i].digest)));
  }
  const std::string four = fmt::format("{}", fmt::join(named, ", "));
  EXPECT_EQ(find_blob(std::span(many).first(4), "c").error().message,
            "blob digest c is ambiguous: 4 blobs start with it: " + four);
  EXPECT_EQ(find_blob(many, "c").error().message,
            "blob digest c is ambiguous: 5 blobs start with it: " + four + ", and 1 more");
}

TEST(ExtractTest, TileImageStartsAtTheLowestSegment) {
  Application application = zt::example_application();
  // A segment of size 0 below the others lowers the load base.
  application.tiles[1].segments.push_back(Segment{0x4c000, 0, 0, 0, 0, 0});
  application.tiles[1].segments[0].address = 0x4c100;
  const Outcome<TileMemory> extract = extract_tile(checked(application), 7);
  ASSERT_TRUE(extract) << extract.error().message;
  EXPECT_EQ(extract->load_base, 0x4c000U);
  EXPECT_EQ(extract->bytes, *application.tile_image(7));
}

TEST(ExtractTest, RefusesUnknownAndEmptyTiles) {
  Application application = zt::example_application();
  application.tiles.push_back(TileImage{5, 0, 0, 0, {}});
  const Package package = checked(application);
  EXPECT_EQ(extract_tile(package, 9).error().message, "no tile has physical tile number 9");
  EXPECT_EQ(extract_tile(package, 5).error().message, "tile 5 has no segments");
}

TEST(ExtractTest, TileArgumentsFollowTheVerifierGrammarAndSayWhatIsWrongInWords) {
  EXPECT_EQ(physical_tile_argument("+007", "TILE").value(), 7U);
  EXPECT_EQ(physical_tile_argument("4294967295", "TILE").value(), 4294967295U);
  const struct {
    const char* argument;
    const char* message;
  } refused[] = {
      {"7x", "invalid TILE \"7x\": a physical tile number is a whole number from 0 to 4294967295"},
      {"device.pkg",
       "invalid TILE \"device.pkg\": a physical tile number is a whole number from 0 to "
       "4294967295"},
      {"4294967296", "TILE 4294967296 is too large: a physical tile number is at most 4294967295"},
      {"", "TILE is empty: give a physical tile number"},
      {"\xff",
       "invalid TILE \"\\xff\": a physical tile number is a whole number from 0 to "
       "4294967295"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(physical_tile_argument(c.argument, "TILE").error().message, c.message);
  }
}

// A blob named by its position is the blob every output calls by that
// number; a number that is also another blob's digest prefix is refused.
TEST(ExtractTest, FindsABlobByPositionAndRefusesWhatCouldBeEither) {
  std::vector<BlobInfo> blobs = blobs_with_digests({0xab, 0x12, 0x40, 0x77});
  const struct {
    std::string argument;
    std::size_t blob;
  } found[] = {{"0", 0},  {"1", 1}, {"index:2", 2}, {"digest:40", 2},
               {"40", 2}, {"3", 3}, {"77", 3}};
  for (const auto& c : found) {
    const Outcome<std::size_t> blob = find_blob(blobs, c.argument);
    ASSERT_TRUE(blob) << c.argument << ": " << blob.error().message;
    EXPECT_EQ(*blob, c.blob) << c.argument;
  }
  const struct {
    std::string argument;
    std::string message;
  } refused[] = {
      {"2",
       "--blob 2 names blob 2 by its position and blob 3 by a digest starting with 2; give "
       "index:2 or digest:2"},
      {"index:4", "no blob 4: the package has 4 blobs"},
      {"index:x", "invalid blob position \"x\": expected a whole number"},
      {"9", "no blob 9: the package has 4 blobs, and no blob has a digest starting with 9"},
  };
  EXPECT_EQ(find_blob(std::span(blobs).first(1), "index:1").error().message,
            "no blob 1: the package has 1 blob");
  blobs[3].digest[0] = 0x2c;  // now "2" is blob 2 by position and blob 3 by digest
  for (const auto& c : refused) {
    const Outcome<std::size_t> blob = find_blob(blobs, c.argument);
    ASSERT_FALSE(blob) << c.argument;
    EXPECT_EQ(blob.error().message, c.message);
  }
}

}  // namespace
}  // namespace zem::toolkit

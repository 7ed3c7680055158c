#include "toolkit/tile/blob_lookup.hpp"

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
  return Package::complete(
             Package::read(zt::build_package(model, zt::example_options())).value())
      .value();
}

// The memory `extract` writes for a tile, or what it says when there is none.
Outcome<TileMemory> extract_tile(const Package& package, std::uint32_t tile) {
  return cli::find_tile_memory(package, tile, "cannot rebuild the image");
}

TEST(ExtractTest, FindsABlobByDigestOrUniquePrefix) {
  const std::vector<BlobInfo> blobs = blobs_with_digests({0xab, 0xac, 0x12});
  const std::string full = hex_bytes(blobs[2].digest);
  const struct {
    std::string digest;
    std::size_t blob;
  } found[] = {{full, 2}, {"ab", 0}, {"AC1", 1}, {"1", 2}, {"ab1111", 0}};
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

TEST(ExtractTest, TileArgumentsFollowTheVerifierGrammar) {
  EXPECT_EQ(physical_tile_argument("+007").value(), 7U);
  EXPECT_EQ(physical_tile_argument("4294967295").value(), 4294967295U);
  EXPECT_EQ(physical_tile_argument("7x").error().message,
            "invalid physical tile number: InvalidDigit (argument \"7x\")");
  EXPECT_EQ(physical_tile_argument("4294967296").error().message,
            "invalid physical tile number: PosOverflow (argument \"4294967296\")");
  EXPECT_EQ(physical_tile_argument("\xff").error().message,
            "physical tile argument is not valid UTF-8");
}

}  // namespace
}  // namespace zem::toolkit

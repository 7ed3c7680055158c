// End-to-end tests of `zem-package inspect`.

#include <gtest/gtest.h>

#include "format/hex.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using zem::hex_bytes;

class InspectDamagedTest : public DamagedPackageToolTest {};

TEST_F(ZemPackageTest, InspectShowsThePackage) {
  const ProgramRun result = run({"inspect", package()});
  EXPECT_EQ(result.status, tool_success);
  EXPECT_EQ(result.err, "");
  for (const std::string line : {
           "package       package.zpkg\n",
           "check         valid\n",
           "blobs: 2\n",
           "  tile 7: load base 0x4c000, image 8704 bytes, aux 1 2 3, segments 2\n",
           "    0  0x4c000  0x4d000    4096     0            0  4096    0\n",
           "  weights     7  0x4c400  0x4c418      24       0\n",
           "host exchange: startup page 1 at offset 0, aux 0\n",
           "device configuration writes: 2\n",
       }) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "in:\n" << result.out;
  }
}

// The JSON goes through a parser and back, and every value is the model's.
TEST_F(ZemPackageTest, InspectJsonRoundTrip) {
  const ProgramRun result = run({"inspect", package(), "--json"});
  ASSERT_EQ(result.status, tool_success) << result.err;
  const ToolJson document = ToolJson::parse(result.out);
  EXPECT_EQ(ToolJson::parse(document.dump()), document);
  EXPECT_EQ(document["format"], 4);
  EXPECT_EQ(document["package"], "package.zpkg");
  EXPECT_EQ(document["valid"], true);
  EXPECT_EQ(document["compiler"], example_model().compiler);

  ASSERT_EQ(document["blobs"].size(), example_model().blobs.size());
  for (std::size_t i = 0; i < example_model().blobs.size(); ++i) {
    EXPECT_EQ(document["blobs"][i]["digest"], hex_bytes(example_model().blobs[i].digest));
    EXPECT_EQ(document["blobs"][i]["uncompressedSize"],
              std::to_string(example_model().blobs[i].data.size()));
  }
  ASSERT_EQ(document["tiles"].size(), example_model().tiles.size());
  for (std::size_t t = 0; t < example_model().tiles.size(); ++t) {
    const zem::TileImage& tile = example_model().tiles[t];
    const ToolJson& shown = document["tiles"][t];
    EXPECT_EQ(shown["physicalTile"], tile.physical_tile);
    EXPECT_EQ(shown["imageSize"], example_model().tile_image(tile.physical_tile)->size());
    ASSERT_EQ(shown["segments"].size(), tile.segments.size());
    for (std::size_t s = 0; s < tile.segments.size(); ++s) {
      const zem::Segment& segment = tile.segments[s];
      EXPECT_EQ(shown["segments"][s]["address"], fmt::format("0x{:x}", segment.address));
      EXPECT_EQ(shown["segments"][s]["memorySize"], segment.memory_size);
      EXPECT_EQ(shown["segments"][s]["blob"], std::to_string(segment.blob));
      EXPECT_EQ(shown["segments"][s]["blobOffset"], std::to_string(segment.blob_offset));
      EXPECT_EQ(shown["segments"][s]["dataSize"], segment.data_size);
    }
  }
  EXPECT_EQ(document["bindings"][1]["name"], example_model().bindings_2[0].name);
  EXPECT_EQ(document["hostExchange"]["calls"][0]["invocations"],
            example_model().host_exchange.calls[0].invocations);
  EXPECT_EQ(document["entryPoints"][1]["externalSyncs"],
            example_model().entry_points[1].external_syncs);
  EXPECT_EQ(document["deviceConfigWrites"][0]["address"], "0x100");
  EXPECT_EQ(document["buildDigest"]["stored"], hex_bytes(example_model().build_digest()));
  EXPECT_EQ(document["buildDigest"]["matches"], true);
}

// Whatever is wrong with a package, `inspect --json` writes one document that
// parses, with the failing stage, element and the library's error, and the
// contents whenever the framing and header could be read; it exits with 1.
TEST_P(InspectDamagedTest, InspectJsonParses) {
  const DamagedPackage& damaged = GetParam();
  const ProgramRun result = run({"inspect", "--json", write("bad.zpkg", damaged.bytes())});
  EXPECT_EQ(result.status, tool_negative) << result.err;
  EXPECT_EQ(result.err, "");
  const ToolJson document = ToolJson::parse(result.out);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["error"]["stage"], stage_json_key(damaged.stage));
  EXPECT_EQ(document["error"]["element"],
            damaged.element.empty() ? ToolJson() : ToolJson(std::string(damaged.element)));
  const std::string message = document["error"]["message"];
  EXPECT_TRUE(message.starts_with(damaged.error_start)) << message;
  EXPECT_EQ(document["checks"][stage_json_key(damaged.stage)], "failed");
  EXPECT_EQ(document.contains("tiles"), damaged.stage >= ReadStage::blobs);
}

// A package that fails is shown as far as it reads: past a failing blob the
// rest of the table and the structure, the failing element marked.
TEST_F(ZemPackageTest, InspectShowsABrokenPackageAsFarAsItReads) {
  const ProgramRun invalid = run(
      {"inspect", write("bad.zpkg", with_model([](auto& m) { m.tiles[0].physical_tile = 7; }))});
  EXPECT_EQ(invalid.status, tool_negative);
  EXPECT_NE(invalid.out.find("check         validation failed at tiles[1] (earlier tile "
                             "tiles[0]): Invalid(\"duplicate physical tile 7\")\n"),
            std::string::npos)
      << invalid.out;
  EXPECT_NE(invalid.out.find("tiles: 2\n"), std::string::npos) << invalid.out;

  const ProgramRun broken =
      run({"inspect", write("broken.zpkg",
                            tweaked([](auto root) { root.getBlobs()[0].getDigest()[0] ^= 1U; }))});
  EXPECT_EQ(broken.status, tool_negative);
  EXPECT_EQ(broken.err, "");
  for (const std::string line : {
           "blobs: 2, 1 checked\n",
           "! 0  -   ",
           "  1  d9c76fa34978cb96",
           "! blobs failed at blobs[0].digest (compression zstd, declared size 4096, stored size ",
           "tiles: 2\n",
           "device configuration writes: 2\n",
       }) {
    EXPECT_NE(broken.out.find(line), std::string::npos) << line << " in:\n" << broken.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Packages, InspectDamagedTest, ::testing::ValuesIn(damaged_packages()),
                         damaged_case_name);

}  // namespace
}  // namespace zem::testing

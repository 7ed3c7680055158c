// End-to-end tests of `zem-package repack`.

#include <gtest/gtest.h>

#include "package_reads.hpp"
#include "format/hex.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using zem::hex_bytes;

TEST_F(ZemPackageTest, RepackChangesOnlyTheStorage) {
  const std::string original = package();
  const std::string digest = hex_bytes(example_model().build_digest());
  const struct {
    std::vector<std::string> option;
    std::uint16_t compression;  // of every blob, or of neither when keeping them
  } cases[] = {{{"--zstd", "19"}, compression_zstd},
               {{"--plain"}, compression_none},
               {{"--keep"}, compression_none},
               {{}, compression_none}};
  for (const auto& c : cases) {
    std::vector<std::string> args{"repack", original, "-o", "out.zpkg", "--force"};
    args.insert(args.end(), c.option.begin(), c.option.end());
    const ProgramRun repacked = run(args);
    ASSERT_EQ(repacked.status, tool_success) << repacked.err;
    const std::vector<std::uint8_t> bytes = read("out.zpkg");
    EXPECT_EQ(repacked.err,
              fmt::format("blobs=2 bytes={} buildDigest={} package=out.zpkg\nnote: only the "
                          "storage changed: the model and the build digest are as they were\n",
                          bytes.size(), digest));
    EXPECT_EQ(run({"compare", original, "out.zpkg"}).status, tool_success);
    const auto checked = read_checked(bytes);
    ASSERT_TRUE(checked) << checked.error().error.to_string();
    if (c.option.size() != 1 || c.option[0] != "--keep") {
      if (!c.option.empty()) {
        for (const BlobInfo& blob : checked->model().blobs) {
          EXPECT_EQ(blob.storage.compression, c.compression) << c.option[0];
        }
        continue;
      }
    }
    // Kept as stored, the writer's package comes back byte for byte.
    EXPECT_EQ(bytes, example_bytes());
  }
}

TEST_F(ZemPackageTest, RepackDropsUnusedBlobsAndSaysTheModelChanged) {
  Application model = example_application();
  model.blobs.insert(model.blobs.begin(), make_blob(as_bytes("nobody loads me")));
  model.blobs.push_back(make_blob(as_bytes("nor me")));
  for (TileImage& tile : model.tiles) {
    for (Segment& segment : tile.segments) ++segment.blob;
  }
  const std::string original = write("unused.zpkg", build_package(model, {}));
  const ProgramRun repacked =
      run({"repack", original, "-o", "out.zpkg", "--drop-unused-blobs", "--zstd", "3"});
  ASSERT_EQ(repacked.status, tool_success) << repacked.err;
  const auto written = read_application(read("out.zpkg"));
  ASSERT_TRUE(written) << written.error().to_string();
  EXPECT_EQ(written->build_digest(), example_model().build_digest());
  EXPECT_EQ(
      repacked.err,
      fmt::format("blobs=2 bytes={} buildDigest={} package=out.zpkg\nnote: dropped 2 unused "
                  "blobs: blobs[0] ({}), blobs[3] ({})\nnote: the model changed, and so did "
                  "the build digest: {} before\n",
                  read("out.zpkg").size(), hex_bytes(example_model().build_digest()),
                  hex_bytes(model.blobs[0].digest).substr(0, 12),
                  hex_bytes(model.blobs[3].digest).substr(0, 12), hex_bytes(model.build_digest())));
}

TEST_F(ZemPackageTest, RepackRefusals) {
  const std::string original = package();
  EXPECT_TRUE(failed_with(run({"repack", original, "-o", original, "--force"}),
                          "package.zpkg: refusing to write over the package being read"));
  EXPECT_TRUE(failed_with(run({"repack", original, "-o", original}),
                          "package.zpkg: refusing to write over the package being read"));
  const std::string broken =
      write("broken.zpkg", with_model([](Application& m) { m.tiles[0].physical_tile = 7; }));
  const ProgramRun refused = run({"repack", broken, "-o", "out.zpkg"});
  EXPECT_EQ(refused.status, tool_failure);
  EXPECT_TRUE(refused.err.starts_with(
      "zem-package: error: broken.zpkg: invalid package: validation failed at tiles[1]"))
      << refused.err;
  EXPECT_FALSE(exists("out.zpkg"));
  EXPECT_TRUE(failed_with(run({"repack", original, "-o", "missing/out.zpkg"}),
                          "missing/out.zpkg: No such file or directory (os error 2)"));
}

}  // namespace
}  // namespace zem::testing

// End-to-end tests of `zem-package extract`.

#include <gtest/gtest.h>

#include "format/hex.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using zem::hex_bytes;

TEST_F(ZemPackageTest, ExtractWritesTheTileImage) {
  const std::vector<std::uint8_t> image = *example_model().tile_image(7);
  const std::string line = "physicalTile=7 loadBase=0x4c000 imageBytes=8704\n";

  const ProgramRun to_stdout = run({"extract", package(), "7"});
  EXPECT_EQ(to_stdout.status, tool_success) << to_stdout.err;
  EXPECT_EQ(as_bytes(to_stdout.out), image);
  EXPECT_EQ(to_stdout.err, line);

  const ProgramRun to_file = run({"extract", package(), "+07", "-o", "image.bin"});
  EXPECT_EQ(to_file.status, tool_success) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(to_file.err, line);
  EXPECT_EQ(read("image.bin"), image);
}

TEST_F(ZemPackageTest, ExtractWritesABlob) {
  const zem::Blob& blob = example_model().blobs[0];
  const std::string digest = hex_bytes(blob.digest);
  for (const std::string& name : {digest, digest.substr(0, 6)}) {
    const ProgramRun result = run({"extract", package(), "--blob", name, "-o", "blob.bin"});
    EXPECT_EQ(result.status, tool_success) << result.err;
    EXPECT_EQ(result.err, "blob=0 digest=" + digest + " bytes=4096\n");
    EXPECT_EQ(read("blob.bin"),
              std::vector<std::uint8_t>(blob.data.bytes().begin(), blob.data.bytes().end()));
  }
}

TEST_F(ZemPackageTest, ExtractFailures) {
  const std::string good = package();
  EXPECT_TRUE(failed_with(run({"extract", good, "9"}),
                          "package.zpkg: no tile has physical tile number 9",
                          {"the package has tiles 3, 7"}));
  EXPECT_TRUE(failed_with(run({"extract", good, "7x"}),
                          "extract: invalid TILE \"7x\": a physical tile number is a whole number "
                          "from 0 to 4294967295 (see zem-package extract --help)"));
  EXPECT_TRUE(failed_with(run({"extract", good, "--blob", "00ff"}),
                          "package.zpkg: no blob has a digest starting with 00ff"));
  EXPECT_TRUE(failed_with(run({"extract", good, "7", "-o", "missing/image.bin"}),
                          "missing/image.bin: No such file or directory (os error 2)"));
  EXPECT_TRUE(failed_with(run({"extract", good, "7", "-o", "/dev/full"}),
                          "/dev/full: No space left on device (os error 28)"));
  EXPECT_TRUE(failed_with(run({"extract", good}),
                          "extract: give a TILE or --blob BLOB (see zem-package extract --help)"));
}

}  // namespace
}  // namespace zem::testing

// End-to-end tests of `zem-package unpack`, and the check a user can make
// of a package and its blobs with the Debian tools alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "format/hex.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

namespace fs = std::filesystem;
using zem::hex_bytes;

TEST_F(ZemPackageTest, UnpackWritesAWholeDirectoryOrNothing) {
  const std::string good = package();
  const ProgramRun unpacked = run({"unpack", good, "dir"});
  EXPECT_EQ(unpacked.status, tool_success) << unpacked.err;
  EXPECT_EQ(unpacked.out, "");
  EXPECT_EQ(unpacked.err, "blobs=2 frames=1 tiles=2 directory=dir\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir() + "/dir")) {
    names.push_back(fs::relative(entry.path(), dir() + "/dir").string());
  }
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::string>{"blobs", "blobs/0.bin", "blobs/0.zst", "blobs/1.bin",
                                             "manifest.json"}));

  EXPECT_TRUE(
      failed_with(run({"unpack", good, "dir"}), "dir: not empty; give --force to write into it"));
  write("dir/notes.txt", as_bytes("mine"));
  write("dir/blobs/0.bin", as_bytes("edited"));
  const ProgramRun forced = run({"unpack", good, "dir", "--force"});
  EXPECT_EQ(forced.status, tool_success) << forced.err;
  EXPECT_EQ(read("dir/notes.txt"), as_bytes("mine"));
  EXPECT_EQ(read("dir/blobs/0.bin").size(), 4096U);

  EXPECT_TRUE(
      failed_with(run({"unpack", good, good}), "package.zpkg: Not a directory (os error 20)"));
  EXPECT_TRUE(failed_with(run({"unpack", good, "missing/dir"}),
                          "missing/dir: No such file or directory (os error 2)"));
  // A package that fails a check leaves no directory, and says where it
  // failed as check does.
  const std::string broken =
      write("broken.zpkg", tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; }));
  const ProgramRun refused = run({"unpack", broken, "new"});
  EXPECT_EQ(refused.status, tool_failure);
  EXPECT_TRUE(
      refused.err.starts_with("zem-package: error: broken.zpkg: invalid package: blobs "
                              "failed at blobs[1].digest (compression none"))
      << refused.err;
  EXPECT_FALSE(exists("new"));
  EXPECT_TRUE(failed_with(run({"unpack", write("empty.zpkg", {}), "new"}),
                          "empty.zpkg: invalid package: framing failed: Capnp(failed: premature "
                          "end of file: the message framing needs 4 bytes but the file holds 0)",
                          {"the file is empty"}));

  // A file that cannot be written whole (the file size limit stands in for
  // a full disk) ends the unpack with the system's words, and nothing is
  // left behind.
  const ProgramRun limited = run_program("/bin/sh",
                                         {"-c", "trap '' XFSZ; ulimit -f 4; exec \"$0\" \"$@\"",
                                          ZEM_PACKAGE_TOOL_PATH, "unpack", good, "full"},
                                         RunSettings{dir(), {}, std::nullopt, {}});
  EXPECT_TRUE(failed_with(limited, "full/blobs/0.bin: File too large (os error 27)"));
  EXPECT_FALSE(exists("full"));

  // Every staging name the unpack tries taken already (the shell's process
  // becomes the tool's, so the names carry its number): refused in the
  // system's words. With the last name free, it unpacks.
  for (const int taken : {64, 63}) {
    const std::string script = "for i in $(seq 0 " + std::to_string(taken - 1) +
                               "); do mkdir dir/.unpack-$$-$i; done; exec \"$0\" \"$@\"";
    const ProgramRun crowded = run_program(
        "/bin/sh", {"-c", script, ZEM_PACKAGE_TOOL_PATH, "unpack", good, "dir", "--force"},
        RunSettings{dir(), {}, std::nullopt, {}});
    if (taken == 64) {
      EXPECT_TRUE(failed_with(crowded, "dir: File exists (os error 17)"));
    } else {
      EXPECT_EQ(crowded.status, tool_success) << crowded.err;
    }
    for (const auto& entry : fs::directory_iterator(dir() + "/dir")) {
      if (entry.path().filename().string().starts_with(".unpack")) fs::remove_all(entry.path());
    }
  }
}

TEST_F(ZemPackageTest, UnpackIgnoresOnlyTheBuildDigestAndOnlyWhenAsked) {
  const std::string stale =
      write("stale.zpkg", tweaked([](auto root) { root.getBuildDigest()[31] ^= 0x80U; }));
  const ProgramRun refused = run({"unpack", stale, "dir"});
  EXPECT_EQ(refused.status, tool_failure);
  EXPECT_TRUE(refused.err.starts_with(
      "zem-package: error: stale.zpkg: invalid package: build digest failed at buildDigest"))
      << refused.err;

  const ProgramRun unpacked = run({"unpack", stale, "dir", "--ignore-build-digest"});
  EXPECT_EQ(unpacked.status, tool_success) << unpacked.err;
  Digest stored = example_model().build_digest();
  stored[31] ^= 0x80U;
  EXPECT_EQ(unpacked.err,
            "blobs=2 frames=1 tiles=2 directory=dir\nnote: stale.zpkg: the build digest does not "
            "match (stored " +
                hex_bytes(stored) + " (32 bytes), computed " +
                hex_bytes(example_model().build_digest()) +
                "); unpacked as asked: packing seals the package with its model's digest\n");
  // Packed again, it is sealed with its model's digest: the example again.
  ASSERT_EQ(run({"pack", "dir", "-o", "sealed.zpkg"}).status, tool_success);
  EXPECT_EQ(read("sealed.zpkg"), example_bytes());

  // Nothing else is let through.
  const std::string invalid =
      write("invalid.zpkg", with_model([](Application& m) { m.tiles[0].physical_tile = 7; }));
  const ProgramRun still_refused = run({"unpack", invalid, "other", "--ignore-build-digest"});
  EXPECT_EQ(still_refused.status, tool_failure);
  EXPECT_NE(still_refused.err.find("validation failed at tiles[1]"), std::string::npos)
      << still_refused.err;
  EXPECT_FALSE(exists("other"));
}

// What the README tells users to check without our tools: the packed file's
// message decoded with the installed schema, and each blob's digest from the
// unpacked files.
TEST_F(ZemPackageTest, DebianToolsDecodeWhatPackWrites) {
  for (const char* tool : {"/usr/bin/capnp", "/usr/bin/zstd", "/usr/bin/sha256sum"}) {
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  ASSERT_EQ(run({"unpack", package(), "dir"}).status, tool_success);
  ASSERT_EQ(run({"pack", "dir", "-o", "packed.zpkg"}).status, tool_success);
  const ProgramRun decoded = run_program(
      "/bin/sh",
      {"-c", "capnp decode --short \"$0\" Application < packed.zpkg", ZEM_PACKAGE_SCHEMA},
      RunSettings{dir(), {}, std::nullopt, {}});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  for (const std::string_view field :
       {"formatVersion = 2", "tileMemoryBase = 311296", "compiler = \"1.4.2\"",
        "target = \"zem21\"", "physicalTile = 7", "name = \"host_print\"", "compression = zstd"}) {
    EXPECT_NE(decoded.out.find(field), std::string::npos) << field << " in " << decoded.out;
  }
  const ProgramRun digests =
      run_program("/bin/sh",
                  {"-c",
                   "zstd -q -d -c dir/blobs/0.zst | sha256sum; sha256sum < dir/blobs/0.bin; "
                   "sha256sum < dir/blobs/1.bin"},
                  RunSettings{dir(), {}, std::nullopt, {}});
  ASSERT_EQ(digests.status, 0) << digests.err;
  const std::string first = hex_bytes(example_model().blobs[0].digest) + "  -\n";
  EXPECT_EQ(digests.out, first + first + hex_bytes(example_model().blobs[1].digest) + "  -\n");
}

}  // namespace
}  // namespace zem::testing

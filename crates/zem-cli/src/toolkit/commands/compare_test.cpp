// End-to-end tests of `zem-package compare`.

#include <gtest/gtest.h>

#include "text_count.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

TEST_F(ZemPackageTest, CompareTwoBuilds) {
  const std::string first = package("first.zpkg");
  // The same package, its blobs stored plain: equal, with notes.
  const std::string plain = write("plain.zpkg", build_package(example_model(), {}));
  const ProgramRun equal = run({"compare", first, plain});
  EXPECT_EQ(equal.status, tool_success) << equal.err;
  // One note, of how the compressed blob is stored: a plain blob declares
  // no uncompressed size to compare.
  EXPECT_EQ(occurrences(equal.out, "note: "), 1U) << equal.out;
  EXPECT_NE(equal.out.find("note: blob 2db03c286234 is stored zstd (123 bytes) in first.zpkg and "
                           "none (4096 bytes) in plain.zpkg\n"),
            std::string::npos)
      << equal.out;
  EXPECT_TRUE(equal.out.ends_with("differingSections=0 status=equal\n")) << equal.out;

  const std::string changed =
      write("changed.zpkg", with_model([](auto& m) { m.entry_points[0].aux = 5; }));
  const ProgramRun differ = run({"compare", first, changed, "--json"});
  EXPECT_EQ(differ.status, tool_negative) << differ.err;
  const ToolJson document = ToolJson::parse(differ.out);
  EXPECT_EQ(document["equal"], false);
  EXPECT_EQ(document["entryPoints"][0]["name"], "main");
  EXPECT_EQ(document["entryPoints"][0]["fields"]["aux"],
            ToolJson::parse(R"({"first": 0, "second": 5})"));

  // A package that fails validation is compared as read, with a note.
  const std::string invalid =
      write("invalid.zpkg",
            with_model([](Application& m) { m.device_config_writes[1].address = 0x106; }));
  const ProgramRun as_read = run({"compare", first, invalid});
  EXPECT_EQ(as_read.status, tool_negative) << as_read.err;
  EXPECT_NE(
      as_read.out.find(
          "is not valid, and is compared as read: validation failed at deviceConfigWrites[1]"),
      std::string::npos)
      << as_read.out;

  // A package that cannot be read up to its structure cannot be compared.
  const std::string broken =
      write("broken.zpkg", tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; }));
  const ProgramRun failed = run({"compare", first, broken});
  EXPECT_EQ(failed.status, tool_failure);
  EXPECT_TRUE(
      failed.err.starts_with("zem-package: error: broken.zpkg: invalid package: blobs "
                             "failed at blobs[1].digest (compression none"))
      << failed.err;
}

}  // namespace
}  // namespace zem::testing

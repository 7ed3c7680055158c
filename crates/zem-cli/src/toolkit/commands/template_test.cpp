// End-to-end tests of `zem-package template`.

#include <gtest/gtest.h>

#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

TEST_F(ZemPackageTest, TemplateListsSetupsAndWritesTheRecord) {
  const std::string good = package();
  const ProgramRun listing = run({"template", good});
  EXPECT_EQ(listing.status, tool_success) << listing.err;
  EXPECT_EQ(listing.out, std::string(example_setup_line) + "tilesWithTemplateSetup=1 tiles=2\n");

  const ProgramRun words = run({"template", good, "7"});
  EXPECT_EQ(words.status, tool_success) << words.err;
  EXPECT_TRUE(words.out.starts_with(std::string(example_setup_line) +
                                    "word  region     offset  address  stored      expected    "
                                    "patched\n"
                                    "   0  primary       0x0  0x4c400  0x00000064  0x00000062  "
                                    "yes\n"))
      << words.out;
  EXPECT_TRUE(words.out.ends_with("templateRecordWords=10\n")) << words.out;

  // The record a matching device writes, byte for byte.
  const ProgramRun written = run({"template", good, "7", "-o", "expected.record"});
  EXPECT_EQ(written.status, tool_success) << written.err;
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, std::string(example_setup_line) + "templateRecordWords=10\n");
  EXPECT_EQ(read("expected.record"), words_to_bytes(make_template_tile().record));

  EXPECT_TRUE(failed_with(run({"template", good, "3"}),
                          "package.zpkg: tile 3: template setup was not found"));
  EXPECT_TRUE(failed_with(run({"template", good, "7", "-o", "./package.zpkg"}),
                          "./package.zpkg: refusing to write over the package being read"));
  EXPECT_EQ(read(good), example_bytes());
}

}  // namespace
}  // namespace zem::testing

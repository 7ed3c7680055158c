// End-to-end tests of `zem-package template`.

#include <gtest/gtest.h>

#include <filesystem>

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
                                    "word  region     offset  address  unpatched   expected    "
                                    "patched\n"
                                    "   0  primary         0  0x4c400  0x00000064  0x00000062  "
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
                          "package.zpkg: tile 3: template setup was not found",
                          {"tile 7 has a template setup"}));
  // Tile 7's image made of zeros: no tile holds a setup.
  const std::string no_setup =
      write("no-setup.zpkg", with_model([](Application& model) {
              model.blobs[0] =
                  make_blob(std::vector<std::uint8_t>(model.blobs[0].data.bytes().size(), 0));
              index_blobs(model);
            }));
  EXPECT_TRUE(failed_with(run({"template", no_setup, "3"}),
                          "no-setup.zpkg: tile 3: template setup was not found",
                          {"no tile of the package has a template setup"}));
  EXPECT_TRUE(failed_with(run({"template", good, "7", "-o", "./package.zpkg"}),
                          "./package.zpkg: refusing to write over the package being read"));
  EXPECT_EQ(read(good), example_bytes());
}

// --all primes a bench: a record for each tile with a setup, none written
// over without --force.
TEST_F(ZemPackageTest, TemplateAllWritesEveryTilesRecord) {
  const std::string good = package();
  const ProgramRun written = run({"template", good, "--all", "-o", "tile{tile}.rec"});
  EXPECT_EQ(written.status, tool_success) << written.err;
  EXPECT_EQ(written.out,
            "tile 7 tile7.rec templateRecordWords=10\nrecords=1 tilesWithoutTemplateSetup=1\n");
  EXPECT_EQ(read("tile7.rec"), words_to_bytes(make_template_tile().record));
  EXPECT_FALSE(std::filesystem::exists(dir() + "/tile3.rec"));

  record(std::vector<std::uint32_t>{1}, "tile7.rec");
  EXPECT_TRUE(failed_with(run({"template", good, "--all", "-o", "tile{tile}.rec"}),
                          "tile7.rec: exists; give --force to overwrite it"));
  EXPECT_EQ(read("tile7.rec"), words_to_bytes(std::vector<std::uint32_t>{1}));
  EXPECT_EQ(run({"template", good, "--all", "--force", "-o", "tile{tile}.rec"}).status,
            tool_success);
  EXPECT_EQ(read("tile7.rec"), words_to_bytes(make_template_tile().record));

  for (const auto& [arguments, message] :
       std::initializer_list<std::pair<std::vector<std::string>, std::string_view>>{
           {{"template", good, "--all"}, "--all needs -o PATTERN with {tile} in it"},
           {{"template", good, "--all", "-o", "one.rec"}, "--all needs -o PATTERN with {tile}"},
           {{"template", good, "7", "--all", "-o", "t{tile}"}, "--all and a TILE exclude"},
           {{"template", good, "7", "--force", "-o", "t"}, "--force goes with --all"},
       }) {
    const ProgramRun refused = run(arguments);
    EXPECT_EQ(refused.status, tool_failure) << message;
    EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
  }
}

}  // namespace
}  // namespace zem::testing

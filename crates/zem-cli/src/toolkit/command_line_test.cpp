#include "toolkit/command_line.hpp"

#include <gtest/gtest.h>

#include <initializer_list>

namespace zem::toolkit {
namespace {

Outcome<Invocation> parse(std::initializer_list<std::string> words) {
  std::vector<std::string> storage{"zem-package"};
  storage.insert(storage.end(), words);
  std::vector<char*> arguments;
  for (std::string& word : storage) arguments.push_back(word.data());
  return parse_command_line(arguments);
}

TEST(CommandLineTest, ParsesEachSubcommand) {
  const auto inspect = parse({"inspect", "p.zpkg", "--json"});
  ASSERT_TRUE(inspect) << inspect.error().message;
  EXPECT_EQ(std::get<InspectOptions>(*inspect).package, "p.zpkg");
  EXPECT_TRUE(std::get<InspectOptions>(*inspect).json);

  const auto check = parse({"check", "p.zpkg", "-", "--json"});
  ASSERT_TRUE(check) << check.error().message;
  EXPECT_EQ(std::get<CheckOptions>(*check).packages, (std::vector<std::string>{"p.zpkg", "-"}));
  EXPECT_TRUE(std::get<CheckOptions>(*check).json);

  const auto compare = parse({"compare", "a.zpkg", "-"});
  ASSERT_TRUE(compare) << compare.error().message;
  EXPECT_EQ(std::get<CompareOptions>(*compare).first, "a.zpkg");
  EXPECT_EQ(std::get<CompareOptions>(*compare).second, "-");

  const auto tile = parse({"extract", "p.zpkg", "7", "-o", "out.bin"});
  ASSERT_TRUE(tile) << tile.error().message;
  const auto& tile_options = std::get<ExtractOptions>(*tile);
  EXPECT_EQ(tile_options.tile, "7");
  EXPECT_EQ(tile_options.blob, std::nullopt);
  EXPECT_EQ(tile_options.output, "out.bin");

  const auto blob = parse({"extract", "p.zpkg", "--blob", "ab12"});
  ASSERT_TRUE(blob) << blob.error().message;
  EXPECT_EQ(std::get<ExtractOptions>(*blob).blob, "ab12");
  EXPECT_EQ(std::get<ExtractOptions>(*blob).tile, std::nullopt);
  EXPECT_EQ(std::get<ExtractOptions>(*blob).output, std::nullopt);

  const auto diff = parse({"diff", "p.zpkg", "+7", "r.record", "--max", "+003", "--json"});
  ASSERT_TRUE(diff) << diff.error().message;
  EXPECT_EQ(std::get<DiffOptions>(*diff).tile, "+7");
  EXPECT_EQ(std::get<DiffOptions>(*diff).record, "r.record");
  EXPECT_EQ(std::get<DiffOptions>(*diff).max, 3U);
  EXPECT_TRUE(std::get<DiffOptions>(*diff).json);
  EXPECT_EQ(std::get<DiffOptions>(*parse({"diff", "p", "7", "r"})).max, 20U);

  const auto listing = parse({"template", "p.zpkg"});
  ASSERT_TRUE(listing) << listing.error().message;
  EXPECT_EQ(std::get<TemplateOptions>(*listing).tile, std::nullopt);
  const auto record = parse({"template", "p.zpkg", "7", "-o", "-"});
  ASSERT_TRUE(record) << record.error().message;
  EXPECT_EQ(std::get<TemplateOptions>(*record).tile, "7");
  EXPECT_EQ(std::get<TemplateOptions>(*record).output, "-");
}

TEST(CommandLineTest, HelpAndVersionAreInformation) {
  const auto version = parse({"--version"});
  ASSERT_TRUE(version);
  EXPECT_EQ(std::get<Information>(*version).text,
            "zem-package 0.1.0 (reads package format version 2)\n");
  const auto help = parse({"diff", "--help"});
  ASSERT_TRUE(help);
  EXPECT_NE(std::get<Information>(*help).text.find(
                "Usage: zem-package diff [OPTIONS] PACKAGE TILE RECORD"),
            std::string::npos)
      << std::get<Information>(*help).text;
}

TEST(CommandLineTest, UsageErrorsSayWhatIsWrong) {
  const struct {
    std::vector<std::string> words;
    std::string_view message;
  } cases[] = {
      {{}, "missing subcommand: expected inspect, check, compare, extract, diff or template"},
      {{"verify", "p"},
       "unknown subcommand \"verify\": expected inspect, check, compare, extract, diff or "
       "template"},
      {{"--foo"}, "unknown option \"--foo\""},
      {{"inspect"}, "inspect: PACKAGE is required"},
      {{"inspect", "a", "b"}, "inspect: unexpected argument \"b\""},
      {{"check", "a", "--max", "3"}, "check: unknown option \"--max\""},
      {{"check", "-", "a", "-"}, "check: standard input (-) can be read only once"},
      {{"compare", "-", "-"}, "compare: standard input (-) can be read only once"},
      {{"extract", "p"}, "extract: give a TILE or --blob DIGEST"},
      {{"extract", "p", "7", "--blob", "ab"}, "extract: give a TILE or --blob DIGEST"},
      {{"extract", "p", "7", "-o", ""},
       "extract: invalid value \"\" for --output: expected a file name, or - for standard "
       "output"},
      {{"template", "p", "-o", "r"}, "template: --output needs a TILE"},
      {{"template", "p", "7", "-o", "r", "--json"},
       "template: --output writes no JSON; give one of them"},
      {{"diff", "p", "7"}, "diff: RECORD is required"},
      {{"diff", "a.zpkg", "b.zpkg"},
       "diff: RECORD is required; to compare two packages, use zem-package compare"},
      {{"diff", "p", "7", "r", "--max", "-1"},
       "invalid value \"-1\" for --max: expected a whole number from 0 to 4294967295"},
      {{"diff", "p", "7", "r", "--max", "2x"},
       "invalid value \"2x\" for --max: expected a whole number from 0 to 4294967295"},
      {{"diff", "p", "7", "r", "--max", "4294967296"},
       "invalid value \"4294967296\" for --max: expected a whole number from 0 to 4294967295"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> storage{"zem-package"};
    storage.insert(storage.end(), c.words.begin(), c.words.end());
    std::vector<char*> arguments;
    for (std::string& word : storage) arguments.push_back(word.data());
    const auto parsed = parse_command_line(arguments);
    ASSERT_FALSE(parsed) << c.message;
    EXPECT_EQ(parsed.error().message, std::string(c.message) + " (see zem-package --help)");
  }
}

}  // namespace
}  // namespace zem::toolkit

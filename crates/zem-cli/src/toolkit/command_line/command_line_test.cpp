#include "toolkit/command_line/command_line.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "toolkit/command_line/arguments.hpp"

namespace zem::toolkit {
namespace {

// `words` as `main` is given them, after the program name when there is one.
class Arguments {
 public:
  Arguments(const std::vector<std::string>& words, bool program_name) : words_(words) {
    if (program_name) pointers_.push_back("zem-package");
    for (const std::string& word : words_) pointers_.push_back(word.c_str());
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  [[nodiscard]] std::span<const char* const> span() const { return pointers_; }

 private:
  std::vector<std::string> words_;
  std::vector<const char*> pointers_;
};

constexpr std::array<OptionSyntax, 3> test_options = {{
    {"--json", "", "", "A flag"},
    {"--max", "", "N", "A value"},
    {"--output", "-o", "FILE", "A value with a short name"},
}};
constexpr std::array<OperandSyntax, 2> test_operands = {{
    {"PACKAGE", Arity::one, "One"},
    {"TILE", Arity::optional, "One or none"},
}};
constexpr Syntax test_syntax{test_options, test_operands};

// What the parser makes of arguments: where they went, or what is wrong.
TEST(ArgumentsTest, OptionsOperandsAndTheEndOfOptions) {
  using Values = std::map<std::string, std::string>;  // option or operand: value ("" for a flag)
  const struct {
    std::vector<std::string> words;
    Values parsed;
  } cases[] = {
      {{"p.zpkg", "--json"}, {{"PACKAGE", "p.zpkg"}, {"--json", ""}}},
      {{"--json", "p.zpkg", "7"}, {{"PACKAGE", "p.zpkg"}, {"TILE", "7"}, {"--json", ""}}},
      {{"p", "--max", "+003"}, {{"PACKAGE", "p"}, {"--max", "+003"}}},
      {{"p", "--max=5"}, {{"PACKAGE", "p"}, {"--max", "5"}}},
      {{"p", "-o", "-"}, {{"PACKAGE", "p"}, {"--output", "-"}}},
      {{"p", "-oout.bin"}, {{"PACKAGE", "p"}, {"--output", "out.bin"}}},
      {{"p", "--output=a=b"}, {{"PACKAGE", "p"}, {"--output", "a=b"}}},
      {{"p", "--max", "--json"}, {{"PACKAGE", "p"}, {"--max", "--json"}}},
      {{"--", "-x.zpkg"}, {{"PACKAGE", "-x.zpkg"}}},
      {{"p", "--", "--json"}, {{"PACKAGE", "p"}, {"TILE", "--json"}}},
      {{"--", "-h"}, {{"PACKAGE", "-h"}}},
      {{"p", "-7"}, {{"PACKAGE", "p"}, {"TILE", "-7"}}},
      {{"p", "-0"}, {{"PACKAGE", "p"}, {"TILE", "-0"}}},
      {{"p", "-9"}, {{"PACKAGE", "p"}, {"TILE", "-9"}}},
      {{"-", "--json", "--json"}, {{"PACKAGE", "-"}, {"--json", ""}}},
  };
  for (const auto& c : cases) {
    const Arguments arguments(c.words, false);
    auto parsed = parse_arguments(test_syntax, arguments.span());
    ASSERT_TRUE(parsed) << c.words.front() << ": " << parsed.error().message;
    const auto& got = std::get<ParsedArguments>(*parsed);
    Values values;
    for (const OperandSyntax& operand : test_operands) {
      if (auto value = got.optional_operand(operand.name))
        values[std::string(operand.name)] = *value;
    }
    for (const OptionSyntax& option : test_options) {
      if (got.given(option.name)) {
        values[std::string(option.name)] = got.value(option.name).value_or("");
      }
    }
    EXPECT_EQ(values, c.parsed) << c.words.front();
  }

  const struct {
    std::vector<std::string> words;
    std::string_view message;
  } refused[] = {
      {{}, "missing PACKAGE"},
      {{"p", "7", "8"}, "unexpected argument \"8\""},
      {{"p", "--max"}, "--max needs a value"},
      {{"p", "--max", "1", "--max=2"}, "--max given more than once"},
      {{"p", "-o", "a", "--output", "b"}, "--output given more than once"},
      {{"p", "--json=yes"}, "--json takes no value"},
      {{"p", "-x.zpkg"}, "unknown option \"-x.zpkg\""},
      {{"p", "--JSON"}, "unknown option \"--JSON\""},
      {{"p", "---json"}, "unknown option \"---json\""},
  };
  for (const auto& c : refused) {
    const Arguments arguments(c.words, false);
    const auto parsed = parse_arguments(test_syntax, arguments.span());
    ASSERT_FALSE(parsed) << c.message;
    EXPECT_EQ(parsed.error().message, c.message);
  }
  // Help wins over what else is wrong.
  const Arguments help({"p", "--bogus", "-h"}, false);
  EXPECT_TRUE(std::holds_alternative<HelpRequest>(*parse_arguments(test_syntax, help.span())));
}

TEST(CommandLineTest, HelpAndVersionAreInformation) {
  const auto information = [](const std::vector<std::string>& words) {
    const Arguments arguments(words, true);
    auto parsed = parse_command_line(arguments.span());
    EXPECT_TRUE(parsed && std::holds_alternative<Information>(*parsed));
    return parsed && std::holds_alternative<Information>(*parsed)
               ? std::get<Information>(*parsed).text
               : std::string();
  };
  EXPECT_EQ(information({"--version"}), "zem-package 0.1.0 (reads package format version 2)\n");
  const std::string diff = information({"diff", "--help"});
  EXPECT_NE(diff.find("Usage: zem-package diff [OPTIONS] PACKAGE TILE RECORD\n"), std::string::npos)
      << diff;
  EXPECT_NE(diff.find("Exit status: 0 the record matches; 1 it differs; 2 "), std::string::npos)
      << diff;
  EXPECT_EQ(information({"--help", "diff"}), diff);
  EXPECT_EQ(information({"diff", "p", "7", "r", "-h"}), diff);
  // After "--", -h is a package.
  const Arguments package({"check", "--", "-h"}, true);
  const auto run = parse_command_line(package.span());
  ASSERT_TRUE(run) << run.error().message;
  EXPECT_TRUE(std::holds_alternative<SubcommandRun>(*run));
}

TEST(CommandLineTest, UsageErrorsNameTheSubcommandAndItsHelp) {
  const struct {
    std::vector<std::string> words;
    std::string_view message;
  } cases[] = {
      {{},
       "missing subcommand: expected inspect, check, compare, extract, diff, template, verify, "
       "report, map, unpack, pack or repack (see zem-package --help)"},
      {{"validate", "p"},
       "unknown subcommand \"validate\": expected inspect, check, compare, extract, diff, "
       "template, verify, report, map, unpack, pack or repack (see zem-package --help)"},
      {{"--foo"}, "unknown option \"--foo\" (see zem-package --help)"},
      {{"inspect"}, "inspect: missing PACKAGE (see zem-package inspect --help)"},
      {{"inspect", "-x.zpkg"},
       "inspect: unknown option \"-x.zpkg\" (see zem-package inspect --help)"},
      {{"inspect", "p", "--json=banana"},
       "inspect: --json takes no value (see zem-package inspect --help)"},
      {{"inspect", "a", "b"},
       "inspect: unexpected argument \"b\" (see zem-package inspect --help)"},
      {{"check", "a", "--max", "3"},
       "check: unknown option \"--max\" (see zem-package check --help)"},
      {{"check", "-", "a", "-"},
       "check: standard input (-) can be read only once (see zem-package check --help)"},
      {{"compare", "-", "-"},
       "compare: standard input (-) can be read only once (see zem-package compare --help)"},
      {{"extract", "p"}, "extract: give a TILE or --blob BLOB (see zem-package extract --help)"},
      {{"extract", "p", "7", "--blob", "ab"},
       "extract: TILE and --blob BLOB exclude each other; give one (see zem-package extract "
       "--help)"},
      {{"extract", "p", "--blob"},
       "extract: --blob needs a value (see zem-package extract --help)"},
      {{"extract", "p", "7", "-o", ""},
       "extract: invalid value \"\" for --output: expected a file name, or - for standard output "
       "(see zem-package extract --help)"},
      {{"extract", "p", "7", "-o", "a", "-o", "b"},
       "extract: --output given more than once (see zem-package extract --help)"},
      {{"pack", "dir"}, "pack: give -o PACKAGE (see zem-package pack --help)"},
      {{"repack", "p", "-o", "q", "--plain", "--keep"},
       "repack: --zstd, --plain and --keep exclude each other; give one (see zem-package repack "
       "--help)"},
      {{"repack", "p", "-o", "q", "--zstd", "23"},
       "repack: invalid value \"23\" for --zstd: expected a level from 1 to 22 (see zem-package "
       "repack --help)"},
      {{"unpack", "p"}, "unpack: missing DIR (see zem-package unpack --help)"},
      {{"template", "p", "-o", "r"},
       "template: --output needs a TILE, or --all (see zem-package template --help)"},
      {{"template", "p", "7", "-o", "r", "--json"},
       "template: --output writes no JSON; give one of them (see zem-package template --help)"},
      {{"diff", "p", "7"}, "diff: missing RECORD (see zem-package diff --help)"},
      {{"diff", "a.zpkg", "b.zpkg"},
       "diff: missing RECORD; to compare two packages, use zem-package compare (see zem-package "
       "diff --help)"},
      {{"diff", "p", "7", "r", "--max"}, "diff: --max needs a value (see zem-package diff --help)"},
      {{"diff", "p", "7", "r", "--max", "1", "--max", "2"},
       "diff: --max given more than once (see zem-package diff --help)"},
      {{"diff", "p", "7", "r", "--max", "-1"},
       "diff: invalid value \"-1\" for --max: expected a whole number from 0 to 4294967295 (see "
       "zem-package diff --help)"},
      {{"diff", "p", "7", "r", "--max", "2x"},
       "diff: invalid value \"2x\" for --max: expected a whole number from 0 to 4294967295 (see "
       "zem-package diff --help)"},
      {{"diff", "p", "7", "r", "--max", "4294967296"},
       "diff: invalid value \"4294967296\" for --max: expected a whole number from 0 to "
       "4294967295 (see zem-package diff --help)"},
  };
  for (const auto& c : cases) {
    const Arguments arguments(c.words, true);
    const auto parsed = parse_command_line(arguments.span());
    ASSERT_FALSE(parsed) << c.message;
    EXPECT_EQ(parsed.error().message, c.message);
  }
}

// A value at either end of an option's range is taken, and one past it is
// not; standard input is taken once.
TEST(CommandLineTest, WhatIsTakenAtTheEdges) {
  const struct {
    std::vector<std::string> words;
    bool taken;
  } cases[] = {
      {{"repack", "p", "-o", "q", "--zstd", "0"}, false},
      {{"repack", "p", "-o", "q", "--zstd", "1"}, true},
      {{"repack", "p", "-o", "q", "--zstd", "22"}, true},
      {{"diff", "p", "7", "r", "--max", "0"}, true},
      {{"diff", "p", "7", "r", "--max", "4294967295"}, true},
      {{"compare", "-", "b"}, true},
      {{"compare", "a", "-"}, true},
  };
  for (const auto& c : cases) {
    const Arguments arguments(c.words, true);
    const auto parsed = parse_command_line(arguments.span());
    EXPECT_EQ(parsed.has_value(), c.taken)
        << c.words.back() << ": " << (parsed ? "" : parsed.error().message);
  }
}

}  // namespace
}  // namespace zem::toolkit

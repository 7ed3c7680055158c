// The man page's generator on a small table of its own: where prose goes,
// and the prose it refuses, so that the page cannot describe what the tool
// does not take.

#include "toolkit/docs/man_page.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace zem::toolkit {
namespace {

constexpr std::array<OptionSyntax, 2> options = {{
    {"--output", "-o", "FILE", "Write to FILE (- standard output)"},
    {"--json", "", "", "Write JSON"},
}};
constexpr std::array<OperandSyntax, 1> operands = {{{"PACKAGE", Arity::one_or_more, "Packages"}}};
constexpr std::array<std::string_view, 1> details = {".dot starts a line; a\\b\n"};
constexpr Subcommand show{.name = "show",
                          .summary = "Show a package",
                          .syntax = {options, operands},
                          .details = details,
                          .exit_status = "Exit status: 0 shown.\n"};
constexpr std::array<const Subcommand*, 1> table = {&show};

constexpr std::string_view frame = ".TH T 1 \"\" \"@VERSION@\"\n@SYNOPSIS@\n@SUBCOMMANDS@\n";

ManPageProse prose_of(std::string text) {
  ManPageProse prose{std::string(frame), {}};
  prose.subcommands["show"] = std::move(text);
  return prose;
}

TEST(ManPageTest, OptionsComeFromTheTableAndProseFollowsThem) {
  const auto page =
      man_page(table, prose_of("Shows it.\n.\\\" option --json\nOne document.\n"), "1.2");
  ASSERT_TRUE(page) << page.error().message;
  EXPECT_EQ(*page,
            ".TH T 1 \"\" \"1.2\"\n"
            ".B zem-package show\n[\\fIOPTIONS\\fP] \\fIPACKAGE\\fP...\n.br\n"
            ".SS show\nShow a package.\n.PP\nShows it.\n"
            ".TP\n\\fIPACKAGE\\fP\nPackages.\n"
            ".TP\n\\fB\\-h\\fP, \\fB\\-\\-help\\fP\nPrint this help and exit.\n"
            ".TP\n\\fB\\-o\\fP, \\fB\\-\\-output\\fP \\fIFILE\\fP\nWrite to FILE (\\- standard "
            "output).\n"
            ".TP\n\\fB\\-\\-json\\fP\nWrite JSON.\nOne document.\n"
            ".PP\nExit status: 0 shown.\n");
}

// Without prose, the help's paragraphs, escaped for roff.
TEST(ManPageTest, HelpParagraphsStandInForMissingProse) {
  const auto page = man_page(table, ManPageProse{std::string(frame), {}}, "1.2");
  ASSERT_TRUE(page) << page.error().message;
  EXPECT_NE(page->find(".PP\n\\&.dot starts a line; a\\eb\n.TP"), std::string::npos) << *page;
}

// A '-' that starts an option is a minus sign; one inside a word is a hyphen.
TEST(ManPageTest, EscapesWhatRoffWouldTakeOtherwise) {
  const struct {
    std::string_view text;
    std::string roff;
  } cases[] = {
      {"-h", "\\-h"},
      {"a --json", "a \\-\\-json"},
      {"a\n-o", "a\n\\-o"},
      {"(-x) [-y]", "(\\-x) [\\-y]"},
      {"non-empty 0-255", "non-empty 0-255"},
      {".dot\n'quote", "\\&.dot\n\\&'quote"},
      {"a.b a'b a\\b", "a.b a'b a\\eb"},
  };
  for (const auto& c : cases) EXPECT_EQ(roff_text(c.text), c.roff) << c.text;
}

TEST(ManPageTest, RefusesProseTheTableDoesNotHold) {
  struct Case {
    ManPageProse prose;
    std::string error;
  };
  ManPageProse stray{std::string(frame), {{"gone", "Was here.\n"}}};
  const Case cases[] = {
      {prose_of(".\\\" option --max\nAt most.\n"), "the prose of show speaks of no option --max"},
      {prose_of(".\\\" option --json\nA.\n.\\\" option --json\nB.\n"),
       "the prose of show speaks of a second --json"},
      {stray, "prose for gone, which is no subcommand"},
      {ManPageProse{"@VERSION@ @SYNOPSIS@", {}}, "the frame needs @SUBCOMMANDS@ exactly once"},
  };
  for (const Case& c : cases) {
    const auto page = man_page(table, c.prose, "1.2");
    ASSERT_FALSE(page) << c.error;
    EXPECT_EQ(page.error().message, c.error);
  }
}

}  // namespace
}  // namespace zem::toolkit

// The shells' completion scripts quote nothing: the check that stands
// before them takes only names made of letters, digits and '-'. A TILE is
// completed from the operand that names the package, found by its name.

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/completion_scripts.hpp"

namespace zem::toolkit {
namespace {

TEST(CompletionNamesTest, TakesOnlyPlainNames) {
  const struct {
    std::string_view subcommand;
    OptionSyntax option;
    std::string error;  // empty when the names are taken
  } cases[] = {
      {"show", {"--out-2", "-o", "FILE", ""}, ""},
      // Each end of each range of characters taken, and the one past it.
      {"az-AZ09", {"--az-AZ09", "-z", "", ""}, ""},
      {"show", {"--json", "-Z", "", ""}, ""},
      {"show", {"--json", "-9", "", ""}, ""},
      {"show`", {"--json", "", "", ""}, "subcommand name \"show`\" cannot be completed"},
      {"show{", {"--json", "", "", ""}, "subcommand name \"show{\" cannot be completed"},
      {"show@", {"--json", "", "", ""}, "subcommand name \"show@\" cannot be completed"},
      {"show[", {"--json", "", "", ""}, "subcommand name \"show[\" cannot be completed"},
      {"show/", {"--json", "", "", ""}, "subcommand name \"show/\" cannot be completed"},
      {"show:", {"--json", "", "", ""}, "subcommand name \"show:\" cannot be completed"},
      {"", {"--json", "", "", ""}, "subcommand name \"\" cannot be completed"},
      {"sh ow", {"--json", "", "", ""}, "subcommand name \"sh ow\" cannot be completed"},
      {"show;", {"--json", "", "", ""}, "subcommand name \"show;\" cannot be completed"},
      {"show", {"--js$on", "", "", ""}, "show: option  --js$on cannot be completed"},
      {"show", {"-json", "", "", ""}, "show: option  -json cannot be completed"},
      {"show", {"--json", "-j'", "", ""}, "show: option -j' --json cannot be completed"},
      {"show", {"--json", "j", "", ""}, "show: option j --json cannot be completed"},
  };
  for (const auto& c : cases) {
    const std::array<OptionSyntax, 1> options = {c.option};
    const Subcommand subcommand{.name = c.subcommand,
                                .summary = "",
                                .syntax = {options, {}},
                                .details = {},
                                .exit_status = ""};
    const std::array<const Subcommand*, 1> table = {&subcommand};
    const Outcome<void> checked = check_completion_names(table);
    EXPECT_EQ(checked ? std::string() : checked.error().message, c.error) << c.subcommand;
  }
}

TEST(CompletionNamesTest, FindsThePackageOperandWhereverItStands) {
  const struct {
    std::vector<std::string_view> operands;
    std::optional<std::size_t> package;
  } cases[] = {
      {{"PACKAGE", "TILE"}, 0},
      {{"FIRST", "PACKAGE"}, 1},
      {{"TILE", "RECORD"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    std::vector<OperandSyntax> operands;
    for (const std::string_view name : c.operands) operands.push_back({name, Arity::one, ""});
    EXPECT_EQ(package_operand(Syntax{{}, operands}), c.package) << c.operands.size();
  }
}

}  // namespace
}  // namespace zem::toolkit

// The subcommands in the terms of zem-package.bash.in: one case of
// _zem_package_syntax for each.

#include <fmt/format.h>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/completion_scripts.hpp"

namespace zem::toolkit {
namespace {

//         diff)
//             options='-h --help --max --json'
//             valued=([--max]=none)
//             operands='package tile file'
//             repeats=0
//             ;;
std::string syntax_case(const Subcommand& subcommand) {
  std::string options;
  std::string valued;
  const OptionList list(subcommand);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const OptionSyntax& option = list[i];
    for (const std::string_view name : {option.short_name, option.name}) {
      if (name.empty()) continue;
      options += fmt::format("{}{}", options.empty() ? "" : " ", name);
      if (!option.value_name.empty()) {
        valued += fmt::format("{}[{}]={}", valued.empty() ? "" : " ", name,
                              kind_word(argument_kind(option.value_name)));
      }
    }
  }
  std::string operands;
  for (const OperandSyntax& operand : subcommand.syntax.operands) {
    operands +=
        fmt::format("{}{}", operands.empty() ? "" : " ", kind_word(argument_kind(operand.name)));
  }
  const bool repeats = !subcommand.syntax.operands.empty() &&
                       subcommand.syntax.operands.back().arity == Arity::one_or_more;
  return fmt::format(
      "        {})\n"
      "            options='{}'\n"
      "            valued=({})\n"
      "            operands='{}'\n"
      "            repeats={}\n"
      "            ;;\n",
      subcommand.name, options, valued, operands, repeats ? 1 : 0);
}

}  // namespace

std::vector<Placeholder> bash_completion(std::span<const Subcommand* const> subcommands) {
  std::string names;
  std::string syntax;
  for (const Subcommand* subcommand : subcommands) {
    names += fmt::format("{}{}", names.empty() ? "" : " ", subcommand->name);
    syntax += syntax_case(*subcommand);
  }
  // The frame's line after the placeholder goes on the line after the cases.
  if (!syntax.empty()) syntax.pop_back();
  return {{"SUBCOMMANDS", names}, {"SYNTAX", syntax}};
}

}  // namespace zem::toolkit

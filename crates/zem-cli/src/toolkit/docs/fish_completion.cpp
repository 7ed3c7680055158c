// The subcommands in the terms of zem-package.fish.in: the kinds of their
// operands and option values, and a `complete` line for each subcommand and
// each of its options.

#include <fmt/format.h>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/completion_scripts.hpp"

namespace zem::toolkit {
namespace {

// Text in fish's single quotes, where a backslash and a quote are escaped.
std::string single_quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

//         case check
//             printf '%s\n' package repeats
std::string operands_case(const Subcommand& subcommand) {
  std::string kinds;
  for (const OperandSyntax& operand : subcommand.syntax.operands) {
    kinds += fmt::format(" {}", kind_word(argument_kind(operand.name)));
    if (operand.arity == Arity::one_or_more) kinds += " repeats";
  }
  // A subcommand without operands still answers, so that it is known.
  if (kinds.empty()) kinds = " none";
  return fmt::format("        case {}\n            printf '%s\\n'{}\n", subcommand.name, kinds);
}

//         case 'extract --output' 'extract -o'
//             echo file
std::string values_cases(const Subcommand& subcommand) {
  std::string cases;
  const OptionList options(subcommand);
  for (std::size_t i = 0; i < options.size(); ++i) {
    const OptionSyntax& option = options[i];
    if (option.value_name.empty()) continue;
    cases += fmt::format("        case '{} {}'", subcommand.name, option.name);
    if (!option.short_name.empty()) {
      cases += fmt::format(" '{} {}'", subcommand.name, option.short_name);
    }
    cases += fmt::format("\n            echo {}\n", kind_word(argument_kind(option.value_name)));
  }
  return cases;
}

// What fish proposes for the value of an option: a file, a tile number of
// the package on the line, or nothing (-x: a value is needed, no file).
std::string value_flags(const OptionSyntax& option) {
  if (option.value_name.empty()) return "";
  switch (argument_kind(option.value_name)) {
    case ArgumentKind::package:
    case ArgumentKind::file:
      return " -r -F";
    case ArgumentKind::tile:
      return " -x -a '(__zem_package_tiles)'";
    case ArgumentKind::none:
      return " -x";
  }
  return " -x";
}

std::string completions(const Subcommand& subcommand) {
  std::string lines =
      fmt::format("complete -c zem-package -n '__zem_package_at subcommand' -a {} -d {}\n",
                  subcommand.name, single_quoted(subcommand.summary));
  const OptionList options(subcommand);
  for (std::size_t i = 0; i < options.size(); ++i) {
    const OptionSyntax& option = options[i];
    std::string names;
    if (!option.short_name.empty()) names += fmt::format(" -s {}", option.short_name.substr(1));
    names += fmt::format(" -l {}", option.name.substr(2));
    lines +=
        fmt::format("complete -c zem-package -n '__zem_package_at options {}'{}{} -d {}\n",
                    subcommand.name, names, value_flags(option), single_quoted(option.description));
  }
  return lines;
}

}  // namespace

std::vector<Placeholder> fish_completion(std::span<const Subcommand* const> subcommands) {
  std::string operands;
  std::string values;
  std::string lines;
  for (const Subcommand* subcommand : subcommands) {
    operands += operands_case(*subcommand);
    values += values_cases(*subcommand);
    lines += completions(*subcommand);
  }
  // The frame's line after each placeholder ends it.
  for (std::string* text : {&operands, &values, &lines}) {
    if (!text->empty()) text->pop_back();
  }
  return {{"OPERANDS", operands}, {"VALUES", values}, {"COMPLETIONS", lines}};
}

}  // namespace zem::toolkit

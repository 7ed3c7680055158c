#include "toolkit/command_line/help_text.hpp"

#include <fmt/format.h>

namespace zem::toolkit {
namespace {

// Names stand in the first 24 columns, their descriptions after; a name too
// long for its column has its description on the next line.
constexpr std::size_t name_width = 24;

// "  --json                Write one JSON document\n".
std::string entry(std::string_view name, std::string_view description) {
  const std::string shown = fmt::format("  {}", name);
  if (shown.size() + 2 > name_width) {
    return fmt::format("{}\n{:{}}{}\n", shown, "", name_width, description);
  }
  return fmt::format("{:<{}}{}\n", shown, name_width, description);
}

std::string usage_operand(const OperandSyntax& operand) {
  switch (operand.arity) {
    case Arity::one:
      return std::string(operand.name);
    case Arity::optional:
      return fmt::format("[{}]", operand.name);
    case Arity::one_or_more:
      return fmt::format("{}...", operand.name);
  }
  return std::string(operand.name);
}

std::string option_name(const OptionSyntax& option) {
  std::string name = option.short_name.empty()
                         ? std::string(option.name)
                         : fmt::format("{}, {}", option.short_name, option.name);
  if (!option.value_name.empty()) name += fmt::format(" {}", option.value_name);
  return name;
}

}  // namespace

std::string subcommand_help(const Subcommand& subcommand) {
  std::string usage = fmt::format("Usage: zem-package {} [OPTIONS]", subcommand.name);
  std::string operands;
  for (const OperandSyntax& operand : subcommand.syntax.operands) {
    usage += fmt::format(" {}", usage_operand(operand));
    operands += entry(operand.name, operand.description);
  }
  std::string options = entry(option_name(help_option), help_option.description);
  for (const OptionSyntax& option : subcommand.syntax.options) {
    options += entry(option_name(option), option.description);
  }
  std::string help = fmt::format("{}\n{}\n\nOperands:\n{}\nOptions:\n{}\n", subcommand.summary,
                                 usage, operands, options);
  for (const std::string_view paragraph : subcommand.details)
    help += fmt::format("{}\n", paragraph);
  return help + std::string(subcommand.exit_status);
}

std::string tool_help(std::span<const Subcommand* const> subcommands) {
  std::string list;
  for (const Subcommand* subcommand : subcommands) {
    list += entry(subcommand->name, subcommand->summary);
  }
  return fmt::format(
      "Inspects, checks, compares, extracts from and writes application packages.\n"
      "Usage: zem-package [OPTIONS] SUBCOMMAND [ARGUMENTS]\n"
      "\n"
      "Options:\n"
      "{}{}"
      "\n"
      "Subcommands:\n"
      "{}"
      "\n"
      "zem-package SUBCOMMAND --help gives the arguments of a subcommand and what its\n"
      "exit statuses mean.\n"
      "\n"
      "Exit status: 0 success; 1 a negative answer (an invalid package, differing\n"
      "packages, a differing record); 2 any other failure, said on standard error.\n",
      entry(option_name(help_option), help_option.description),
      entry("--version", "Print the version and exit"), list);
}

}  // namespace zem::toolkit

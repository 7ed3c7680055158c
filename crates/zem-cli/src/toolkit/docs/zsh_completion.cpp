// The subcommands in the terms of _zem-package.zsh.in: a function for each
// that hands its options and operands to zsh's _arguments.

#include <fmt/format.h>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/completion_scripts.hpp"

namespace zem::toolkit {
namespace {

// Text inside single quotes: a quote closes them, adds an escaped quote and
// opens them again.
std::string single_quoted(std::string_view text) {
  std::string quoted;
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted;
}

// An explanation in brackets, where _arguments takes a backslash or a
// bracket for its own.
std::string explanation(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '[' || c == ']') escaped += '\\';
    escaped += c;
  }
  return single_quoted(escaped);
}

// What _arguments runs to complete an argument of the kind. An action that
// starts with a space is run as it is written.
std::string action(ArgumentKind kind, const Syntax& syntax) {
  switch (kind) {
    case ArgumentKind::package:
    case ArgumentKind::file:
      return "_files";
    case ArgumentKind::tile: {
      const auto package = package_operand(syntax);
      return package ? fmt::format(" _zem_package_tiles {}", *package + 1) : " ";
    }
    case ArgumentKind::none:
      return " ";
  }
  return " ";
}

// '(-o --output)'{-o+,--output=}'[Write to FILE]:FILE:_files', or for a
// repeatable option '*--records=[...]:PATTERN:_files'.
std::string option_spec(const OptionSyntax& option, const Syntax& syntax) {
  const bool valued = !option.value_name.empty();
  const std::string tail =
      fmt::format("[{}]{}", explanation(option.description),
                  valued ? fmt::format(":{}:{}", option.value_name,
                                       action(argument_kind(option.value_name), syntax))
                         : "");
  const char* short_mark = valued ? "+" : "";
  const char* long_mark = valued ? "=" : "";
  const std::string prefix = option.repeatable ? "*" : "";
  if (option.short_name.empty()) {
    return fmt::format("'{}{}{}{}'", prefix, option.name, long_mark, tail);
  }
  const std::string exclusions =
      option.repeatable ? "'*'" : fmt::format("'({} {})'", option.short_name, option.name);
  return fmt::format("{}{{{}{},{}{}}}'{}'", exclusions, option.short_name, short_mark, option.name,
                     long_mark, tail);
}

// '1:PACKAGE:_files', '2::TILE: _zem_package_tiles 1', '*:PACKAGE:_files'.
std::string operand_spec(const OperandSyntax& operand, std::size_t position, const Syntax& syntax) {
  const std::string act = single_quoted(action(argument_kind(operand.name), syntax));
  switch (operand.arity) {
    case Arity::one:
      return fmt::format("'{}:{}:{}'", position, operand.name, act);
    case Arity::optional:
      return fmt::format("'{}::{}:{}'", position, operand.name, act);
    case Arity::one_or_more:
      return fmt::format("'*:{}:{}'", operand.name, act);
  }
  return "";
}

std::string subcommand_function(const Subcommand& subcommand) {
  std::string function = fmt::format("_zem_package_{}() {{\n  _arguments -S :", subcommand.name);
  const OptionList options(subcommand);
  for (std::size_t i = 0; i < options.size(); ++i) {
    function += fmt::format(" \\\n    {}", option_spec(options[i], subcommand.syntax));
  }
  for (std::size_t i = 0; i < subcommand.syntax.operands.size(); ++i) {
    function += fmt::format(" \\\n    {}",
                            operand_spec(subcommand.syntax.operands[i], i + 1, subcommand.syntax));
  }
  return function + "\n}\n\n";
}

}  // namespace

std::vector<Placeholder> zsh_completion(std::span<const Subcommand* const> subcommands) {
  std::string functions;
  std::string list;
  for (const Subcommand* subcommand : subcommands) {
    functions += subcommand_function(*subcommand);
    list += fmt::format("{}    '{}:{}'", list.empty() ? "" : "\n", subcommand->name,
                        single_quoted(subcommand->summary));
  }
  return {{"SUBCOMMAND_FUNCTIONS", functions}, {"SUBCOMMAND_LIST", list}};
}

}  // namespace zem::toolkit

#include "toolkit/docs/argument_kinds.hpp"

#include <algorithm>
#include <array>

namespace zem::toolkit {

ArgumentKind argument_kind(std::string_view name) {
  // Names of values that are no file. Anything else is taken for a file,
  // which every shell proposes by default anyway.
  constexpr std::array<std::string_view, 4> no_completion = {"N", "LIST", "DIGEST", "SECONDS"};
  if (name == "PACKAGE") return ArgumentKind::package;
  if (name == "TILE") return ArgumentKind::tile;
  if (std::ranges::find(no_completion, name) != no_completion.end()) return ArgumentKind::none;
  return ArgumentKind::file;
}

std::string_view kind_word(ArgumentKind kind) {
  switch (kind) {
    case ArgumentKind::package:
      return "package";
    case ArgumentKind::file:
      return "file";
    case ArgumentKind::tile:
      return "tile";
    case ArgumentKind::none:
      return "none";
  }
  return "none";
}

OptionList::OptionList(const Subcommand& subcommand) : rest(subcommand.syntax.options) {}

std::optional<std::size_t> package_operand(const Syntax& syntax) {
  for (std::size_t i = 0; i < syntax.operands.size(); ++i) {
    if (argument_kind(syntax.operands[i].name) == ArgumentKind::package) return i;
  }
  return std::nullopt;
}

}  // namespace zem::toolkit

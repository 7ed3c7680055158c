#pragma once

// What the shells complete for each argument of a subcommand, told by the
// name the table gives it: subcommands name their operands and the values of
// their options as their help shows them (PACKAGE, TILE, FILE, N), so a new
// subcommand is completed without anything written for it here.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "toolkit/commands/subcommand.hpp"

namespace zem::toolkit {

enum class ArgumentKind : std::uint8_t {
  package,  // a file that holds the package, from which a TILE's numbers come
  file,     // any other file (FIRST, RECORD, FILE, PATTERN, a new name)
  tile,     // a physical tile number of the package named on the line
  none,     // a value that nothing can propose: a count, a list, a digest
};

// The kind of an operand or option value by its name ("TILE", "N").
[[nodiscard]] ArgumentKind argument_kind(std::string_view name);

// "package", "file", "tile" or "none": the word the scripts use.
[[nodiscard]] std::string_view kind_word(ArgumentKind kind);

// A subcommand's options with -h and --help first, as its help lists them.
struct OptionList {
  explicit OptionList(const Subcommand& subcommand);
  [[nodiscard]] std::size_t size() const { return 1 + rest.size(); }
  [[nodiscard]] const OptionSyntax& operator[](std::size_t i) const {
    return i == 0 ? help_option : rest[i - 1];
  }
  std::span<const OptionSyntax> rest;
};

// The position of the operand that names the package, when there is one.
[[nodiscard]] std::optional<std::size_t> package_operand(const Syntax& syntax);

}  // namespace zem::toolkit

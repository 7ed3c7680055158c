#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// An option of a subcommand: a flag, or an option that takes a value, given
// as "--max 5", "--max=5", "-o FILE" or "-oFILE".
struct OptionSyntax {
  std::string_view name;         // "--output"
  std::string_view short_name;   // "-o", or empty
  std::string_view value_name;   // "FILE" for an option that takes a value; empty for a flag
  std::string_view description;  // its line of help
  bool repeatable = false;       // an option with a value that may be given several times
};

// How many arguments an operand takes. Only the last operands may be
// optional, and only the last may take several.
enum class Arity : std::uint8_t { one, optional, one_or_more };

struct OperandSyntax {
  std::string_view name;  // "PACKAGE"
  Arity arity = Arity::one;
  std::string_view description;  // its line of help
};

// -h and --help, which every subcommand takes besides its syntax: the help,
// the man page and the shells' completion all list it from here.
inline constexpr OptionSyntax help_option{"--help", "-h", "", "Print this help and exit"};

// The arguments a subcommand takes. Every subcommand has -h and --help too.
struct Syntax {
  std::span<const OptionSyntax> options;
  std::span<const OperandSyntax> operands;
};

// What a subcommand's arguments say, looked up by the names of its syntax.
// Asking for a name the syntax does not have is a fault of the program.
class ParsedArguments {
 public:
  explicit ParsedArguments(const Syntax& syntax);

  // Whether the option was given.
  [[nodiscard]] bool given(std::string_view option) const;
  // The value of an option that takes one, when it was given (the last,
  // for a repeatable option).
  [[nodiscard]] const std::optional<std::string>& value(std::string_view option) const;
  // Every value of a repeatable option, in the order given.
  [[nodiscard]] std::span<const std::string> values(std::string_view option) const;
  // The arguments an operand took, in order: one for an operand of arity
  // one, none or one for an optional one.
  [[nodiscard]] std::span<const std::string> operands(std::string_view name) const;
  // The one argument of an operand of arity one.
  [[nodiscard]] const std::string& operand(std::string_view name) const;
  // The argument of an optional operand, when it was given.
  [[nodiscard]] std::optional<std::string> optional_operand(std::string_view name) const;

 private:
  friend class ArgumentParser;
  [[nodiscard]] std::size_t option_index(std::string_view option) const;
  [[nodiscard]] std::size_t operand_index(std::string_view name) const;

  Syntax syntax_;
  std::vector<bool> given_;
  std::vector<std::optional<std::string>> values_;
  std::vector<std::vector<std::string>> all_values_;
  std::vector<std::vector<std::string>> operands_;
};

// -h or --help was among the arguments (before any "--"): whatever else
// they say, the subcommand's help is shown.
struct HelpRequest {};

// What is wrong with a subcommand's arguments ("missing RECORD", "unknown
// option \"--foo\""), and the operands it was given, from which a subcommand
// may guess what was meant.
struct UsageError {
  std::string message;
  std::vector<std::string> operands;
};

// Parses a subcommand's arguments (those after its name), taken as the system
// gives them: paths need not be text. Options may stand anywhere before
// "--", after which every argument is an operand. "-" and an argument that
// starts with "-" and a digit ("-7") are operands too. A flag may be given
// more than once; an option with a value only once, unless it is repeatable.
[[nodiscard]] std::expected<std::variant<ParsedArguments, HelpRequest>, UsageError> parse_arguments(
    const Syntax& syntax, std::span<const char* const> arguments);

// The value of a count option ("--max 5"): a whole number written as a tile
// number is ("5", "+5" and "05" alike), so that "-1", "x" or "1e3" are
// refused: "invalid value \"-1\" for --max: expected a whole number from 0
// to 4294967295".
[[nodiscard]] Outcome<std::uint32_t> count_value(std::string_view text, std::string_view option);

// The value of an option that names a file to write, when it was given: a
// name, or "-" for standard output; an empty one is refused.
[[nodiscard]] Outcome<std::optional<std::string>> output_file_value(
    const ParsedArguments& arguments, std::string_view option);

}  // namespace zem::toolkit

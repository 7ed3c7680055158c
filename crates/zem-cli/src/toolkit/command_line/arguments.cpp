#include "toolkit/command_line/arguments.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "common/whole_number.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {
namespace {

constexpr std::string_view end_of_options = "--";

[[nodiscard]] bool is_help(std::string_view argument) noexcept {
  return argument == "-h" || argument == "--help";
}

// "-" names standard input, and "-7" is a number: neither is an option.
[[nodiscard]] bool is_option(std::string_view argument) noexcept {
  return argument.size() > 1 && argument.front() == '-' &&
         !(argument[1] >= '0' && argument[1] <= '9');
}

}  // namespace

ParsedArguments::ParsedArguments(const Syntax& syntax)
    : syntax_(syntax),
      given_(syntax.options.size(), false),
      values_(syntax.options.size()),
      all_values_(syntax.options.size()),
      operands_(syntax.operands.size()) {}

std::size_t ParsedArguments::option_index(std::string_view option) const {
  const auto found = std::ranges::find(syntax_.options, option, &OptionSyntax::name);
  if (found == syntax_.options.end()) {
    throw std::logic_error(fmt::format("no option {} in this syntax", option));
  }
  return static_cast<std::size_t>(found - syntax_.options.begin());
}

std::size_t ParsedArguments::operand_index(std::string_view name) const {
  const auto found = std::ranges::find(syntax_.operands, name, &OperandSyntax::name);
  if (found == syntax_.operands.end()) {
    throw std::logic_error(fmt::format("no operand {} in this syntax", name));
  }
  return static_cast<std::size_t>(found - syntax_.operands.begin());
}

bool ParsedArguments::given(std::string_view option) const { return given_[option_index(option)]; }

const std::optional<std::string>& ParsedArguments::value(std::string_view option) const {
  return values_[option_index(option)];
}

std::span<const std::string> ParsedArguments::values(std::string_view option) const {
  return all_values_[option_index(option)];
}

std::span<const std::string> ParsedArguments::operands(std::string_view name) const {
  return operands_[operand_index(name)];
}

const std::string& ParsedArguments::operand(std::string_view name) const {
  const std::span<const std::string> given = operands(name);
  if (given.size() != 1) throw std::logic_error(fmt::format("operand {} is not one", name));
  return given.front();
}

std::optional<std::string> ParsedArguments::optional_operand(std::string_view name) const {
  const std::span<const std::string> given = operands(name);
  if (given.empty()) return std::nullopt;
  return given.front();
}

// Takes the arguments one by one: options as they come, operands in order,
// dealt to the operands of the syntax at the end.
class ArgumentParser {
 public:
  ArgumentParser(const Syntax& syntax, std::span<const char* const> arguments)
      : syntax_(syntax), arguments_(arguments), parsed_(syntax) {}

  std::expected<std::variant<ParsedArguments, HelpRequest>, UsageError> parse() {
    // Help wins over everything else that may be wrong.
    for (const char* argument : arguments_) {
      if (argument == end_of_options) break;
      if (is_help(argument)) return HelpRequest{};
    }
    bool options_ended = false;
    while (next_ < arguments_.size()) {
      const std::string_view argument = arguments_[next_++];
      if (options_ended || !is_option(argument)) {
        given_operands_.emplace_back(argument);
      } else if (argument == end_of_options) {
        options_ended = true;
      } else if (auto taken = take_option(argument); !taken) {
        return std::unexpected(UsageError{std::move(taken).error(), given_operands_});
      }
    }
    if (auto dealt = deal_operands(); !dealt) {
      return std::unexpected(UsageError{std::move(dealt).error(), given_operands_});
    }
    return std::move(parsed_);
  }

 private:
  // One option, "--name", "--name=value", "-n" or "-nvalue", and the value
  // it takes from the next argument.
  std::expected<void, std::string> take_option(std::string_view argument) {
    const bool long_form = argument.starts_with("--");
    const std::size_t name_end =
        long_form ? std::min(argument.find('='), argument.size()) : std::size_t{2};
    const std::string_view name = argument.substr(0, name_end);
    const auto found = std::ranges::find_if(syntax_.options, [&](const OptionSyntax& option) {
      return long_form ? option.name == name : option.short_name == name;
    });
    if (found == syntax_.options.end()) {
      return std::unexpected(fmt::format("unknown option {}", quote_escaped(argument)));
    }
    const std::size_t index = static_cast<std::size_t>(found - syntax_.options.begin());
    const bool attached = name_end < argument.size();
    if (found->value_name.empty()) {
      if (attached) {
        // "--json=yes" is no way to give a flag; "-hx" is no option at all.
        return std::unexpected(long_form
                                   ? fmt::format("{} takes no value", found->name)
                                   : fmt::format("unknown option {}", quote_escaped(argument)));
      }
      parsed_.given_[index] = true;
      return {};
    }
    if (parsed_.given_[index] && !found->repeatable) {
      return std::unexpected(fmt::format("{} given more than once", found->name));
    }
    std::string_view value;
    if (attached) {
      value = argument.substr(long_form ? name_end + 1 : name_end);
    } else if (next_ < arguments_.size()) {
      // The next argument is the value, whatever it looks like: "-o -".
      value = arguments_[next_++];
    } else {
      return std::unexpected(fmt::format("{} needs a value", found->name));
    }
    parsed_.given_[index] = true;
    parsed_.values_[index] = std::string(value);
    parsed_.all_values_[index].emplace_back(value);
    return {};
  }

  std::expected<void, std::string> deal_operands() {
    std::size_t taken = 0;
    const std::size_t count = given_operands_.size();
    for (std::size_t i = 0; i < syntax_.operands.size(); ++i) {
      const OperandSyntax& operand = syntax_.operands[i];
      std::vector<std::string>& dealt = parsed_.operands_[i];
      if (taken == count) {
        if (operand.arity == Arity::optional) continue;
        return std::unexpected(fmt::format("missing {}", operand.name));
      }
      const std::size_t take = operand.arity == Arity::one_or_more ? count - taken : 1;
      dealt.assign(given_operands_.begin() + static_cast<std::ptrdiff_t>(taken),
                   given_operands_.begin() + static_cast<std::ptrdiff_t>(taken + take));
      taken += take;
    }
    if (taken < count) {
      return std::unexpected(
          fmt::format("unexpected argument {}", quote_escaped(given_operands_[taken])));
    }
    return {};
  }

  Syntax syntax_;
  std::span<const char* const> arguments_;
  std::size_t next_ = 0;
  std::vector<std::string> given_operands_;
  ParsedArguments parsed_;
};

std::expected<std::variant<ParsedArguments, HelpRequest>, UsageError> parse_arguments(
    const Syntax& syntax, std::span<const char* const> arguments) {
  return ArgumentParser(syntax, arguments).parse();
}

Outcome<std::uint32_t> count_value(std::string_view text, std::string_view option) {
  const auto count = cli::parse_whole_number(text);
  if (!count) {
    return std::unexpected(
        Failure{fmt::format("invalid value {} for {}: expected a whole number from 0 to 4294967295",
                            quote_escaped(text), option)});
  }
  return *count;
}

Outcome<std::optional<std::string>> output_file_value(const ParsedArguments& arguments,
                                                      std::string_view option) {
  const std::optional<std::string>& value = arguments.value(option);
  if (value && value->empty()) {
    return std::unexpected(Failure{fmt::format(
        "invalid value \"\" for {}: expected a file name, or - for standard output", option)});
  }
  return value;
}

}  // namespace zem::toolkit

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/completion_scripts.hpp"

namespace zem::toolkit {
namespace {

bool plain_name(std::string_view name) {
  return !name.empty() && std::ranges::all_of(name, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

}  // namespace

Outcome<void> check_completion_names(std::span<const Subcommand* const> subcommands) {
  for (const Subcommand* subcommand : subcommands) {
    if (!plain_name(subcommand->name)) {
      return std::unexpected(Failure{fmt::format("subcommand name \"{}\" cannot be completed",
                                                 std::string(subcommand->name))});
    }
    // Long options are "--" and a name, short ones "-" and one character.
    const OptionList options(*subcommand);
    for (std::size_t i = 0; i < options.size(); ++i) {
      const std::string_view name = options[i].name;
      const std::string_view short_name = options[i].short_name;
      if (!name.starts_with("--") || !plain_name(name.substr(2)) ||
          (!short_name.empty() && (short_name.size() != 2 || !short_name.starts_with('-') ||
                                   !plain_name(short_name.substr(1))))) {
        return std::unexpected(Failure{fmt::format("{}: option {} {} cannot be completed",
                                                   subcommand->name, short_name, name)});
      }
    }
  }
  return {};
}

}  // namespace zem::toolkit

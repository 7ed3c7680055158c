#include "toolkit/command_line/command_line.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/command_line/help_text.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/completion/tile_completion.hpp"
#include "zem_package/application.hpp"

#ifndef ZEM_VERSION
#error "ZEM_VERSION must name the project's version"
#endif

namespace zem::toolkit {
namespace {

// "expected inspect, check, compare, extract, diff, template, verify, report,
// map, unpack, pack or repack".
std::string expected_subcommands() {
  std::string text = "expected ";
  for (std::size_t i = 0; i < subcommand_table.size(); ++i) {
    if (i > 0) text += i + 1 == subcommand_table.size() ? " or " : ", ";
    text += subcommand_table[i]->name;
  }
  return text;
}

Failure tool_usage_error(std::string_view what) {
  return {fmt::format("{} (see zem-package --help)", what)};
}

Failure usage_error(const Subcommand& subcommand, std::string_view what) {
  return {
      fmt::format("{}: {} (see zem-package {} --help)", subcommand.name, what, subcommand.name)};
}

// The hidden subcommand of the shells' completion is found by its name too.
const Subcommand* find_subcommand(std::string_view name) {
  if (name == tile_completion_subcommand.name) return &tile_completion_subcommand;
  const auto found = std::ranges::find(subcommand_table, name, &Subcommand::name);
  return found == subcommand_table.end() ? nullptr : *found;
}

Outcome<Invocation> parse_subcommand(const Subcommand& subcommand,
                                     std::span<const char* const> arguments) {
  auto parsed = parse_arguments(subcommand.syntax, arguments);
  if (!parsed) {
    std::string message = std::move(parsed.error().message);
    if (subcommand.usage_hint != nullptr) message += subcommand.usage_hint(parsed.error().operands);
    return std::unexpected(usage_error(subcommand, message));
  }
  if (std::holds_alternative<HelpRequest>(*parsed)) return Information{subcommand_help(subcommand)};
  auto run = subcommand.prepare(std::get<ParsedArguments>(*parsed));
  if (!run) return std::unexpected(usage_error(subcommand, run.error().message));
  return std::move(*run);
}

}  // namespace

std::string version_text() {
  return fmt::format("zem-package {} (reads package format version {})", ZEM_VERSION,
                     format_version);
}

Outcome<Invocation> parse_command_line(std::span<const char* const> arguments) {
  std::size_t next = 1;
  if (next < arguments.size()) {
    const std::string_view first = arguments[next];
    if (first == "-h" || first == "--help") {
      // "zem-package --help diff" is the help of diff.
      const Subcommand* named =
          next + 1 < arguments.size() ? find_subcommand(arguments[next + 1]) : nullptr;
      return Information{named != nullptr ? subcommand_help(*named) : tool_help(subcommand_table)};
    }
    if (first == "--version") return Information{version_text() + "\n"};
    if (first == "--") {
      ++next;
    } else if (first.starts_with('-')) {
      return std::unexpected(
          tool_usage_error(fmt::format("unknown option {}", quote_escaped(first))));
    }
  }
  if (next >= arguments.size()) {
    return std::unexpected(
        tool_usage_error(fmt::format("missing subcommand: {}", expected_subcommands())));
  }
  const std::string_view name = arguments[next];
  const Subcommand* subcommand = find_subcommand(name);
  if (subcommand == nullptr) {
    return std::unexpected(tool_usage_error(
        fmt::format("unknown subcommand {}: {}", quote_escaped(name), expected_subcommands())));
  }
  return parse_subcommand(*subcommand, arguments.subspan(next + 1));
}

}  // namespace zem::toolkit

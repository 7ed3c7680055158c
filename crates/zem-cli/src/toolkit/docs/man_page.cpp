#include "toolkit/docs/man_page.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "toolkit/docs/argument_kinds.hpp"
#include "toolkit/docs/frame_filling.hpp"

namespace zem::toolkit {
namespace {

constexpr std::string_view option_marker = ".\\\" option ";

// A subcommand's prose taken apart: what comes before the first option
// marker, and the text after each marker, by the option's long name.
struct SubcommandProse {
  std::string description;
  std::map<std::string, std::string, std::less<>> options;
};

Outcome<SubcommandProse> split_prose(const Subcommand& subcommand, std::string_view text) {
  SubcommandProse prose;
  std::string* into = &prose.description;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.starts_with(option_marker)) {
      *into += fmt::format("{}\n", line);
      continue;
    }
    const std::string_view name = line.substr(option_marker.size());
    const OptionList options(subcommand);
    bool known = false;
    for (std::size_t i = 0; i < options.size(); ++i) known = known || options[i].name == name;
    if (!known || prose.options.contains(name)) {
      return std::unexpected(Failure{fmt::format("the prose of {} speaks of {} {}", subcommand.name,
                                                 known ? "a second" : "no option", name)});
    }
    into = &prose.options[std::string(name)];
  }
  return prose;
}

// A line of help as a sentence of the page.
std::string sentence(std::string_view text) {
  std::string line = roff_text(text);
  if (!line.ends_with('.')) line += '.';
  return line;
}

std::string operand_text(const OperandSyntax& operand) {
  switch (operand.arity) {
    case Arity::one:
      return fmt::format("\\fI{}\\fP", operand.name);
    case Arity::optional:
      return fmt::format("[\\fI{}\\fP]", operand.name);
    case Arity::one_or_more:
      return fmt::format("\\fI{}\\fP...", operand.name);
  }
  return "";
}

// .B zem-package diff
// [\fIOPTIONS\fP] \fIPACKAGE\fP \fITILE\fP \fIRECORD\fP
// .br
std::string synopsis(std::span<const Subcommand* const> subcommands) {
  std::string text;
  for (const Subcommand* subcommand : subcommands) {
    text += fmt::format(".B zem-package {}\n[\\fIOPTIONS\\fP]", subcommand->name);
    for (const OperandSyntax& operand : subcommand->syntax.operands) {
      text += fmt::format(" {}", operand_text(operand));
    }
    text += "\n.br\n";
  }
  // The frame's line ends the placeholder's.
  if (!text.empty()) text.pop_back();
  return text;
}

// \fB\-o\fP, \fB\-\-output\fP \fIFILE\fP
std::string option_term(const OptionSyntax& option) {
  std::string term;
  if (!option.short_name.empty()) term = fmt::format("\\fB{}\\fP, ", roff_text(option.short_name));
  term += fmt::format("\\fB{}\\fP", roff_text(option.name));
  if (!option.value_name.empty()) term += fmt::format(" \\fI{}\\fP", option.value_name);
  return term;
}

Outcome<std::string> subcommand_section(const Subcommand& subcommand,
                                        const std::string* prose_text) {
  SubcommandProse prose;
  if (prose_text != nullptr) {
    ZEM_ASSIGN_OR_RETURN(prose, split_prose(subcommand, *prose_text));
  }
  std::string section =
      fmt::format(".SS {}\n{}\n.PP\n", subcommand.name, sentence(subcommand.summary));
  if (prose_text != nullptr) {
    section += prose.description;
  } else {
    for (std::size_t i = 0; i < subcommand.details.size(); ++i) {
      section += fmt::format("{}{}", i == 0 ? "" : ".PP\n", roff_text(subcommand.details[i]));
    }
  }
  for (const OperandSyntax& operand : subcommand.syntax.operands) {
    section += fmt::format(".TP\n\\fI{}\\fP\n{}\n", operand.name, sentence(operand.description));
  }
  const OptionList options(subcommand);
  for (std::size_t i = 0; i < options.size(); ++i) {
    const OptionSyntax& option = options[i];
    section += fmt::format(".TP\n{}\n{}\n", option_term(option), sentence(option.description));
    if (const auto more = prose.options.find(option.name); more != prose.options.end()) {
      section += more->second;
    }
  }
  return section + fmt::format(".PP\n{}", roff_text(subcommand.exit_status));
}

}  // namespace

std::string roff_text(std::string_view text) {
  std::string roff;
  bool line_start = true;
  char previous = ' ';
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) roff += "\\&";
    if (c == '\\') {
      roff += "\\e";
    } else if (c == '-' && (previous == ' ' || previous == '\n' || previous == '(' ||
                            previous == '[' || previous == '-' || line_start)) {
      roff += "\\-";
    } else {
      roff += c;
    }
    line_start = c == '\n';
    previous = c;
  }
  return roff;
}

Outcome<std::string> man_page(std::span<const Subcommand* const> subcommands,
                              const ManPageProse& prose, std::string_view version) {
  for (const auto& [name, text] : prose.subcommands) {
    if (std::ranges::find(subcommands, name, &Subcommand::name) == subcommands.end()) {
      return std::unexpected(Failure{fmt::format("prose for {}, which is no subcommand", name)});
    }
  }
  std::string sections;
  for (const Subcommand* subcommand : subcommands) {
    const auto found = prose.subcommands.find(subcommand->name);
    ZEM_ASSIGN_OR_RETURN(
        const std::string section,
        subcommand_section(*subcommand,
                           found == prose.subcommands.end() ? nullptr : &found->second));
    sections += section;
  }
  if (!sections.empty()) sections.pop_back();
  const std::vector<Placeholder> placeholders = {{"VERSION", std::string(version)},
                                                 {"SYNOPSIS", synopsis(subcommands)},
                                                 {"SUBCOMMANDS", sections}};
  return fill_frame(prose.frame, placeholders);
}

}  // namespace zem::toolkit

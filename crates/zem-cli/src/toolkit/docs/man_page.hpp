#pragma once

// The man page of zem-package, made from the table of subcommands and the
// prose written beside it (crates/zem-cli/man/): the synopsis, and for each
// subcommand its section with its operands, its options and its exit
// statuses, come from the table, as the help does; what the table cannot
// say is the prose's.

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/commands/subcommand.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

struct ManPageProse {
  // The page with the placeholders @VERSION@, @SYNOPSIS@ and @SUBCOMMANDS@.
  std::string frame;
  // Each subcommand's prose, by its name, in roff: what the subcommand does,
  // then, after a line `.\" option --NAME`, more about that option, which
  // follows its line of help. A subcommand without prose has the paragraphs
  // of its help instead.
  std::map<std::string, std::string, std::less<>> subcommands;
};

// The page. Prose for a subcommand that the table does not hold, or about an
// option that the subcommand does not take, is a failure: the page never
// describes what the tool does not have.
[[nodiscard]] Outcome<std::string> man_page(std::span<const Subcommand* const> subcommands,
                                            const ManPageProse& prose, std::string_view version);

// Plain text (a line of help, a paragraph) as roff text: a backslash is
// escaped, a hyphen that starts a word (an option, "-") is a minus sign, and
// a line that starts with a control character starts with \& instead.
[[nodiscard]] std::string roff_text(std::string_view text);

}  // namespace zem::toolkit

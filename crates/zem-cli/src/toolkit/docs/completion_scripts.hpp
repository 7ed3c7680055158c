#pragma once

// The shells' completion scripts for zem-package, made from the table of
// subcommands: each shell's frame (crates/zem-cli/completion/) holds how it
// walks a command line, and these functions give the subcommands, their
// options and the kinds of their arguments in that shell's terms.

#include <span>
#include <vector>

#include "toolkit/commands/subcommand.hpp"
#include "toolkit/docs/frame_filling.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Names go into the scripts unquoted (case patterns, function names): a
// subcommand or option name that is not made of letters, digits and '-'
// fails, rather than make a script that breaks.
[[nodiscard]] Outcome<void> check_completion_names(std::span<const Subcommand* const> subcommands);

// The placeholders of zem-package.bash.in: SUBCOMMANDS, SYNTAX.
[[nodiscard]] std::vector<Placeholder> bash_completion(
    std::span<const Subcommand* const> subcommands);

// The placeholders of _zem-package.zsh.in: SUBCOMMAND_FUNCTIONS, SUBCOMMAND_LIST.
[[nodiscard]] std::vector<Placeholder> zsh_completion(
    std::span<const Subcommand* const> subcommands);

// The placeholders of zem-package.fish.in: OPERANDS, VALUES, COMPLETIONS.
[[nodiscard]] std::vector<Placeholder> fish_completion(
    std::span<const Subcommand* const> subcommands);

}  // namespace zem::toolkit

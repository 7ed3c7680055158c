#pragma once

#include <span>
#include <string>

#include "toolkit/commands/subcommand.hpp"

namespace zem::toolkit {

// A subcommand's help: its summary, its usage line ("Usage: zem-package diff
// [OPTIONS] PACKAGE TILE RECORD"), its operands and options with their
// descriptions, its details and its exit statuses. Every line fits in 80
// columns and ends in a newline.
[[nodiscard]] std::string subcommand_help(const Subcommand& subcommand);

// The tool's help: its usage line, its options and every subcommand with its
// summary.
[[nodiscard]] std::string tool_help(std::span<const Subcommand* const> subcommands);

}  // namespace zem::toolkit

#pragma once

// The hidden subcommand that the shells' completion asks for the tile numbers
// of the package named on the command line. It is not in the table of
// subcommands: no help lists it and no completion offers it.

#include <cstdint>
#include <string_view>

#include "toolkit/commands/subcommand.hpp"

namespace zem::toolkit {

inline constexpr std::string_view tile_completion_name = "complete-tiles";

// A package larger than this is not read for a completion: checking its
// blobs would keep the shell waiting.
inline constexpr std::uint64_t most_completion_package_bytes = std::uint64_t{64} << 20U;

// `zem-package complete-tiles PACKAGE` prints the physical tile numbers of
// PACKAGE, one a line, in the package's order, and exits with 0. It reads a
// broken package as far as it goes. A package that is missing, unreadable,
// no regular file, larger than the bound above or no package at all gives
// no line and no error, at once: a completion must answer quickly and never
// write over the command line being edited. (Bad arguments are a usage
// error as for any subcommand; the scripts discard standard error too.)
extern const Subcommand tile_completion_subcommand;

}  // namespace zem::toolkit

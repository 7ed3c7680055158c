#include "toolkit/completion/tile_completion.hpp"

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "zem_package/io.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {
namespace {

constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
}};

// Opening refuses anything but a regular file, without blocking on a FIFO;
// the size is checked before a byte is read.
void print_tile_numbers(const std::string& package, unsigned threads) {
  auto file = io::open_regular_file(package.c_str());
  if (!file || file->size > most_completion_package_bytes) return;
  auto reading = Package::read(std::move(file->fd), {threads, ReadMode::survey});
  if (!reading) return;
  for (const TileImage& tile : reading->model().tiles)
    fmt::print(stdout, "{}\n", tile.physical_tile);
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  return [package = arguments.operand("PACKAGE")](unsigned threads) {
    print_tile_numbers(package, threads);
    return Outcome<ExitStatus>{ExitStatus::success};
  };
}

}  // namespace

constinit const Subcommand tile_completion_subcommand{
    .name = tile_completion_name,
    .summary = "Print the tile numbers of a package, for shell completion",
    .syntax = {{}, operand_syntax},
    .details = {},
    .exit_status = "Exit status: 0, whatever happens.\n",
    .prepare = prepare,
};

}  // namespace zem::toolkit

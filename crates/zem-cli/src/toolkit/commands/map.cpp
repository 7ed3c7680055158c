// `map`: pictures of a package: the device view of its tiles, or one tile's
// memory, as a self-contained HTML page, or one tile's memory as text.

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/pages/device_grid.hpp"
#include "toolkit/pages/map_pages.hpp"
#include "toolkit/pages/text_map.hpp"
#include "toolkit/pages/tile_facts.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "toolkit/tile/tile_template.hpp"

namespace zem::toolkit {
namespace {

struct MapOptions {
  std::string package;
  std::optional<std::uint32_t> tile;
  std::optional<std::string> output;  // the text map of TILE when unset
  std::optional<std::size_t> columns;
  bool force = false;
};

constexpr std::array<OptionSyntax, 3> option_syntax = {{
    {"--output", "-o", "FILE", "Write the page to FILE (- standard output)"},
    {"--force", "", "", "Write over FILE if it exists"},
    {"--columns", "", "N", "Columns of the device view (the nearest square)"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"TILE", Arity::optional, "Physical tile number"},
}};
constexpr std::array<std::string_view, 4> help_details = {
    "Without TILE, -o writes the device view: a cell per tile, labelled with its\n"
    "number and shaded by the share of tile memory the package loads, hatched\n"
    "when it holds no template setup, whose title gives its segments, bytes\n"
    "loaded and template setup; choosing a cell shows the tile's view further\n"
    "down the page. With TILE, -o writes that tile's view: tile memory from\n"
    "0x4c000 to 0xe8000 as a bar over an address axis, a block per segment in\n"
    "its blob's colour, its zero-filled part hatched, binding slices as\n"
    "brackets, the template setup, its regions and patch table marked, a legend\n"
    "and the tables of segments and slices. A tile with a template setup also\n"
    "gets a zoomed inset: the setup, its regions and the patch table on an axis\n"
    "of their own, labelled with their addresses, their span outlined on the\n"
    "full axis. Without -o, TILE's map is printed as text, 80 columns wide.\n",
    "A page is one HTML file with its style inline and no script: it needs\n"
    "nothing else, offline or printed. It is at most 2 MiB; what cannot be drawn\n"
    "within that is counted instead. An existing FILE is kept unless --force.\n",
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the page or map was written; 2 any failure (bad usage, a file\n"
    "that cannot be read or written, an invalid package, an unknown tile), and\n"
    "then no page is written.\n";

Outcome<ExitStatus> run(const MapOptions& options, unsigned threads) {
  const std::optional<std::uint32_t> tile = options.tile;
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const Package package, read_valid_package(options.package, threads));
  const PackageModel& model = package.model();
  const std::string name = package_name(options.package);

  if (!tile) {
    ZEM_ASSIGN_OR_RETURN(const DeviceCheck check,
                         prepare_check(package, options.package, {}, threads));
    const std::vector<pages::TileFacts> facts = pages::tile_facts(check);
    const std::size_t columns = options.columns.value_or(pages::default_columns(facts.size()));
    ZEM_RETURN_IF_ERROR(write_text_file(
        *options.output, pages::map_device_page(package, name, facts, columns), options.force));
    return ExitStatus::success;
  }
  const TileImage* found = find_tile(model.tiles, *tile);
  if (found == nullptr) {
    return std::unexpected(
        Failure{fmt::format("{}: no tile has physical tile number {}", name, *tile),
                {package_tiles(model)}});
  }
  if (!options.output) {
    const pages::TileSlices slices(model);
    fmt::print(stdout, "{}", pages::text_map(*found, slices.of(*tile)));
    return ExitStatus::success;
  }
  pages::TileFacts facts{static_cast<std::size_t>(found - model.tiles.data()), *tile,
                         found->segments.size(), 0, std::nullopt};
  for (const Segment& s : found->segments) facts.bytes_loaded += s.memory_size;
  const std::array one{*tile};
  ZEM_ASSIGN_OR_RETURN(const DeviceCheck check,
                       prepare_check(package, options.package, one, threads));
  if (const CheckedTile* checked = check.tile(*tile)) facts.marks = pages::template_marks(*checked);
  ZEM_RETURN_IF_ERROR(
      write_text_file(*options.output, pages::map_tile_page(package, name, facts), options.force));
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  MapOptions options{arguments.operand("PACKAGE"), std::nullopt, std::nullopt, std::nullopt,
                     arguments.given("--force")};
  ZEM_ASSIGN_OR_RETURN(options.tile,
                       optional_physical_tile_argument(arguments.optional_operand("TILE"), "TILE"));
  ZEM_ASSIGN_OR_RETURN(options.output, output_file_value(arguments, "--output"));
  if (const std::optional<std::string>& columns = arguments.value("--columns")) {
    ZEM_ASSIGN_OR_RETURN(const std::uint32_t n, count_value(*columns, "--columns"));
    if (n == 0) return std::unexpected(Failure{"--columns must be at least 1"});
    options.columns = n;
  }
  if (!options.tile && !options.output) {
    return std::unexpected(Failure{
        "the device view is a page: give -o FILE, or -o - for standard output (or a TILE for "
        "its text map)"});
  }
  if (options.force && !options.output) {
    return std::unexpected(Failure{"--force needs -o FILE"});
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand map_subcommand{
    .name = "map",
    .summary = "Draw a package's device view or a tile's memory",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit

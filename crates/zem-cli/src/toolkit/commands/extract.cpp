// `extract`: a tile's memory image or a blob's bytes, from a valid package.

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "common/tile_lookup.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "format/hex.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/blob_lookup.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_template.hpp"

namespace zem::toolkit {
namespace {

// Exactly one of `tile` and `blob` is set.
struct ExtractOptions {
  std::string package;
  std::optional<std::uint32_t> tile;
  std::optional<std::string> blob;    // a position, or a digest or an unambiguous prefix of one
  std::optional<std::string> output;  // standard output when unset or "-"
};

constexpr std::array<OptionSyntax, 2> option_syntax = {{
    {"--blob", "", "BLOB", "Write blob BLOB, by position (7) or digest prefix (d9c7)"},
    {"--output", "-o", "FILE", "Write to FILE (- standard output)"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"TILE", Arity::optional, "Physical tile number"},
}};
constexpr std::array<std::string_view, 4> help_details = {
    "Give a TILE for its rebuilt memory image, from its load base, or --blob for a\n"
    "blob's uncompressed bytes; standard error gets a line that says what was\n"
    "written. Binary data is never written to a terminal.\n",
    "--blob takes a blob's position in the table, as every output names it (7),\n"
    "or its digest or a prefix of it (d9c76f). A number that could be either, a\n"
    "position and another blob's digest prefix, is refused: write index:N or\n"
    "digest:HEX to say which.\n",
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the bytes were written; 2 any failure (bad usage, a file that\n"
    "cannot be read or written, an invalid package, an unknown tile or blob).\n";

// "physicalTile=7 loadBase=0x4c000 imageBytes=8704".
std::string tile_extract_line(const TileMemory& memory) {
  return fmt::format("physicalTile={} loadBase={} imageBytes={}", memory.physical_tile,
                     hex_address(memory.load_base), memory.bytes.size());
}

// "blob=1 digest=<64 digits> bytes=256".
std::string blob_extract_line(const BlobInfo& blob, std::size_t index) {
  return fmt::format("blob={} digest={} bytes={}", index, hex_bytes(blob.digest), blob.size);
}

Outcome<ExitStatus> run(const ExtractOptions& options, unsigned threads) {
  const std::optional<std::uint32_t> tile = options.tile;
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const Package package, read_valid_package(options.package, threads));

  if (tile) {
    auto memory = find_tile_memory(package, *tile);
    if (!memory) {
      Failure failure = file_error(options.package, memory.error().message);
      failure.hints = memory.error().hints;
      return std::unexpected(std::move(failure));
    }
    ZEM_RETURN_IF_ERROR(write_output(options.output, memory->bytes));
    fmt::print(stderr, "{}\n", tile_extract_line(*memory));
    return ExitStatus::success;
  }
  const std::vector<BlobInfo>& blobs = package.model().blobs;
  auto blob = find_blob(blobs, options.blob.value_or(""));
  if (!blob) return std::unexpected(file_error(options.package, blob.error().message));
  auto contents = package.blob_contents(*blob);
  if (!contents) {
    return std::unexpected(file_error(
        options.package, fmt::format("blob {}: {}", *blob, contents.error().error.to_string())));
  }
  ZEM_RETURN_IF_ERROR(write_output(options.output, contents->bytes()));
  fmt::print(stderr, "{}\n", blob_extract_line(blobs[*blob], *blob));
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  ExtractOptions options{arguments.operand("PACKAGE"), std::nullopt, arguments.value("--blob"),
                         std::nullopt};
  ZEM_ASSIGN_OR_RETURN(options.tile,
                       optional_physical_tile_argument(arguments.optional_operand("TILE"), "TILE"));
  if (options.tile && options.blob) {
    return std::unexpected(Failure{"TILE and --blob BLOB exclude each other; give one"});
  }
  if (!options.tile && !options.blob) {
    return std::unexpected(Failure{"give a TILE or --blob BLOB"});
  }
  ZEM_ASSIGN_OR_RETURN(options.output, output_file_value(arguments, "--output"));
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand extract_subcommand{
    .name = "extract",
    .summary = "Write a tile's memory image or a blob's bytes",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit

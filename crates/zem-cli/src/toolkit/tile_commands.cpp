// `extract`, `diff` and `template`: what a valid package loads into a tile,
// and the template record it expects of a device.

#include <fmt/format.h>

#include <cstdio>

#include "template_record/template_setup.hpp"
#include "toolkit/commands.hpp"
#include "toolkit/diff.hpp"
#include "toolkit/extract.hpp"
#include "toolkit/files.hpp"
#include "toolkit/json_values.hpp"
#include "toolkit/package_file.hpp"
#include "toolkit/tile_template.hpp"

namespace zem::toolkit {
namespace {

namespace tr = template_record;

// Versions of the JSON documents that `diff --json` and `template --json`
// write.
constexpr int diff_json_format = 1;
constexpr int template_json_format = 1;

}  // namespace

Outcome<ExitStatus> run_extract(const ExtractOptions& options, const ReadOptions& read) {
  // The arguments are checked before the package is read.
  ZEM_ASSIGN_OR_RETURN(const std::optional<std::uint32_t> tile,
                       optional_physical_tile_argument(options.tile));
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, read));

  if (tile) {
    auto memory = extract_tile(package, *tile);
    if (!memory) return std::unexpected(file_error(options.package, memory.error().message));
    ZEM_RETURN_IF_ERROR(write_output(options.output, memory->bytes));
    fmt::print(stderr, "{}\n", tile_extract_line(*memory));
    return ExitStatus::success;
  }
  auto blob = find_blob(package.blobs(), options.blob.value_or(""));
  if (!blob) return std::unexpected(file_error(options.package, blob.error().message));
  auto contents = package.blob_contents(*blob);
  if (!contents) {
    return std::unexpected(file_error(
        options.package, fmt::format("blob {}: {}", *blob, contents.error().to_string())));
  }
  ZEM_RETURN_IF_ERROR(write_output(options.output, contents->bytes()));
  fmt::print(stderr, "{}\n", blob_extract_line(package.blobs(), *blob));
  return ExitStatus::success;
}

Outcome<ExitStatus> run_diff(const DiffOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile, physical_tile_argument(options.tile));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, read));
  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, tile));
  // The setup is shown before the patching, which may fail on it.
  if (!options.json) fmt::print(stdout, "{}\n", tr::template_setup_line(tile, found.setup));
  ZEM_ASSIGN_OR_RETURN(const TemplateWords words, template_words(found, options.package));

  ZEM_ASSIGN_OR_RETURN(const RecordFile record,
                       read_record_file(options.record, std::uint64_t{words.patched.size()} * 4));
  const RecordDiff diff =
      diff_record(found.setup, words.stored, words.patched, record.bytes, record.size);
  if (options.json) {
    Json document{{"format", diff_json_format},
                  {"package", options.package},
                  {"physicalTile", tile},
                  {"record", options.record},
                  {"setup", setup_json(found.setup)}};
    document.update(diff_json(diff, options.max));
    fmt::print(stdout, "{}", json_text(document));
  } else {
    fmt::print(stdout, "{}", diff_text(diff, options.max));
  }
  return diff.matches() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<ExitStatus> run_template(const TemplateOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const std::optional<std::uint32_t> tile,
                       optional_physical_tile_argument(options.tile));
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, read));

  if (!tile) {
    ZEM_ASSIGN_OR_RETURN(const std::vector<TileSetup> found,
                         all_tile_setups(package, options.package));
    const std::size_t tiles = package.model().tiles.size();
    if (options.json) {
      Json setups = Json::array();
      for (const TileSetup& t : found) {
        setups.push_back(Json{{"physicalTile", t.physical_tile}, {"setup", setup_json(t.setup)}});
      }
      fmt::print(stdout, "{}",
                 json_text(Json{{"format", template_json_format},
                                {"package", options.package},
                                {"tiles", tiles},
                                {"templateSetups", std::move(setups)}}));
    } else {
      for (const TileSetup& t : found) {
        fmt::print(stdout, "{}\n", tr::template_setup_line(t.physical_tile, t.setup));
      }
      fmt::print(stdout, "tilesWithTemplateSetup={} tiles={}\n", found.size(), tiles);
    }
    return ExitStatus::success;
  }

  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, *tile));
  ZEM_ASSIGN_OR_RETURN(const TemplateWords words, template_words(found, options.package));
  const std::string setup_line = tr::template_setup_line(*tile, found.setup);
  if (options.output) {
    ZEM_RETURN_IF_ERROR(write_output(options.output, record_bytes(words.patched)));
    fmt::print(stderr, "{}\ntemplateRecordWords={}\n", setup_line, words.patched.size());
  } else if (options.json) {
    fmt::print(stdout, "{}",
               json_text(Json{{"format", template_json_format},
                              {"package", options.package},
                              {"physicalTile", *tile},
                              {"setup", setup_json(found.setup)},
                              {"templateRecordWords", words.patched.size()},
                              {"words", template_words_json(found.setup, words)}}));
  } else {
    fmt::print(stdout, "{}\n{}", setup_line, template_words_text(found.setup, words));
  }
  return ExitStatus::success;
}

}  // namespace zem::toolkit

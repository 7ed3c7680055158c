#include "toolkit/commands.hpp"

#include <fmt/format.h>

#include <cstdio>

#include "template_record/patching.hpp"
#include "template_record/template_setup.hpp"
#include "toolkit/check.hpp"
#include "toolkit/diff.hpp"
#include "toolkit/extract.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package_json.hpp"
#include "toolkit/package_tables.hpp"
#include "toolkit/package_file.hpp"

namespace zem::toolkit {
namespace {

namespace tr = template_record;

ExitStatus verdict(const CheckReport& report) {
  return report.valid() ? ExitStatus::success : ExitStatus::negative;
}

// A verifier stage's failure, said of the package and tile it concerns.
ToolError stage_error(const DiffOptions& options, std::uint32_t tile, const tr::Failure& failure) {
  return file_error(options.package, fmt::format("tile {}: {}", tile, failure.message));
}

}  // namespace

Outcome<ExitStatus> run_inspect(const InspectOptions& options) {
  auto file = read_package_file(options.package);
  if (!file) return std::unexpected(std::move(file).error());
  Inspection inspection;
  inspection.path = options.package;
  inspection.check = check_package(file->contents, file->bytes);
  if (file->contents) {
    inspection.contents = &*file->contents;
    inspection.encodings = read_blob_encodings(file->bytes);
  }
  const std::string text =
      options.json ? json_text(inspection_json(inspection)) : inspection_text(inspection);
  fmt::print(stdout, "{}", text);
  return verdict(inspection.check);
}

Outcome<ExitStatus> run_check(const CheckOptions& options) {
  auto file = read_package_file(options.package);
  if (!file) return std::unexpected(std::move(file).error());
  const CheckReport report = check_package(file->contents, file->bytes);
  fmt::print(stdout, "{}", check_lines(report));
  return verdict(report);
}

Outcome<ExitStatus> run_extract(const ExtractOptions& options) {
  // The arguments are checked before the package is read.
  std::optional<std::uint32_t> tile;
  if (options.tile) {
    auto parsed = physical_tile_argument(*options.tile);
    if (!parsed) return std::unexpected(std::move(parsed).error());
    tile = *parsed;
  }
  auto application = read_valid_package(options.package);
  if (!application) return std::unexpected(std::move(application).error());

  if (tile) {
    auto extract = extract_tile(*application, *tile);
    if (!extract) {
      return std::unexpected(file_error(options.package, extract.error().message));
    }
    if (auto written = write_output(options.output, extract->image); !written) {
      return std::unexpected(std::move(written).error());
    }
    fmt::print(stderr, "{}\n", tile_extract_line(*extract));
    return ExitStatus::success;
  }
  auto blob = find_blob(*application, options.blob.value_or(""));
  if (!blob) return std::unexpected(file_error(options.package, blob.error().message));
  if (auto written = write_output(options.output, application->blobs[*blob].data.bytes());
      !written) {
    return std::unexpected(std::move(written).error());
  }
  fmt::print(stderr, "{}\n", blob_extract_line(*application, *blob));
  return ExitStatus::success;
}

Outcome<ExitStatus> run_diff(const DiffOptions& options) {
  auto tile = physical_tile_argument(options.tile);
  if (!tile) return std::unexpected(std::move(tile).error());
  auto application = read_valid_package(options.package);
  if (!application) return std::unexpected(std::move(application).error());
  auto extract = extract_tile(*application, *tile);
  if (!extract) return std::unexpected(file_error(options.package, extract.error().message));

  const auto setup = tr::locate_template_setup(extract->image);
  if (!setup) return std::unexpected(stage_error(options, *tile, setup.error()));
  fmt::print(stdout, "{}\n", tr::template_setup_line(*tile, *setup));

  const auto patched = tr::patched_template_words(extract->image, extract->load_base, *setup);
  if (!patched) return std::unexpected(stage_error(options, *tile, patched.error()));
  // Patching read every template word already, so this cannot fail; checked
  // all the same rather than assumed.
  const auto unpatched = unpatched_template_words(extract->image, extract->load_base, *setup);
  if (!unpatched) return std::unexpected(stage_error(options, *tile, unpatched.error()));

  auto record = read_record_file(options.record, std::uint64_t{patched->size()} * 4);
  if (!record) return std::unexpected(std::move(record).error());
  const RecordDiff diff = diff_record(*setup, *unpatched, *patched, record->bytes, record->size);
  fmt::print(stdout, "{}", diff_text(diff, options.max));
  return diff.matches() ? ExitStatus::success : ExitStatus::negative;
}

}  // namespace zem::toolkit

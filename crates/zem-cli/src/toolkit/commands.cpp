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
Failure stage_error(const DiffOptions& options, std::uint32_t tile, const tr::Failure& failure) {
  return file_error(options.package, fmt::format("tile {}: {}", tile, failure.message));
}

}  // namespace

Outcome<ExitStatus> run_inspect(const InspectOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const ReadResult<PackageReading> reading,
                       read_package(options.package, read));
  Inspection inspection;
  inspection.path = options.package;
  inspection.check = check_package(reading);
  if (reading) inspection.reading = &*reading;
  const std::string text =
      options.json ? json_text(inspection_json(inspection)) : inspection_text(inspection);
  fmt::print(stdout, "{}", text);
  return verdict(inspection.check);
}

Outcome<ExitStatus> run_check(const CheckOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const ReadResult<PackageReading> reading,
                       read_package(options.package, read));
  const CheckReport report = check_package(reading);
  fmt::print(stdout, "{}", check_lines(report));
  return verdict(report);
}

Outcome<ExitStatus> run_extract(const ExtractOptions& options, const ReadOptions& read) {
  // The arguments are checked before the package is read.
  std::optional<std::uint32_t> tile;
  if (options.tile) {
    ZEM_ASSIGN_OR_RETURN(tile, physical_tile_argument(*options.tile));
  }
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, read));

  if (tile) {
    auto memory = extract_tile(package, *tile);
    if (!memory) return std::unexpected(file_error(options.package, memory.error().message));
    ZEM_TRY(write_output(options.output, memory->bytes));
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
  ZEM_TRY(write_output(options.output, contents->bytes()));
  fmt::print(stderr, "{}\n", blob_extract_line(package.blobs(), *blob));
  return ExitStatus::success;
}

Outcome<ExitStatus> run_diff(const DiffOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile, physical_tile_argument(options.tile));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, read));
  auto memory = extract_tile(package, tile);
  if (!memory) return std::unexpected(file_error(options.package, memory.error().message));

  const auto setup = tr::locate_template_setup(memory->bytes);
  if (!setup) return std::unexpected(stage_error(options, tile, setup.error()));
  fmt::print(stdout, "{}\n", tr::template_setup_line(tile, *setup));

  const auto patched = tr::patched_template_words(memory->bytes, memory->load_base, *setup);
  if (!patched) return std::unexpected(stage_error(options, tile, patched.error()));
  // Patching read every template word already, so this cannot fail; checked
  // all the same rather than assumed.
  const auto unpatched = tr::template_words(memory->bytes, memory->load_base, *setup);
  if (!unpatched) return std::unexpected(stage_error(options, tile, unpatched.error()));

  ZEM_ASSIGN_OR_RETURN(const RecordFile record,
                       read_record_file(options.record, std::uint64_t{patched->size()} * 4));
  const RecordDiff diff = diff_record(*setup, *unpatched, *patched, record.bytes, record.size);
  fmt::print(stdout, "{}", diff_text(diff, options.max));
  return diff.matches() ? ExitStatus::success : ExitStatus::negative;
}

}  // namespace zem::toolkit

#include "template_record/stage_failures.hpp"

#include <fmt/format.h>

#include "common/tile_lookup.hpp"
#include "zem_package/record_diff.hpp"

namespace zem::template_record {
namespace {

// The file a stage read could not be opened or read, said of `subject`
// ("package", "device record").
Failure file_failure(std::string_view subject, const io::FileError& error,
                     std::string_view not_regular) {
  const std::string open_context = fmt::format("cannot open {}", subject);
  const std::string read_context = fmt::format("cannot read {}", subject);
  if (error.not_regular()) return error_result(read_context, not_regular);
  return os_error(error.step == io::FileError::Step::open ? open_context : read_context,
                  error.os_error);
}

}  // namespace

Outcome<Package> read_package(const char* path, unsigned threads) {
  auto package = Package::read(path, ReadOptions{.threads = threads});
  if (package) return std::move(*package);
  const ReadFailure& failure = package.error();
  if (failure.subject == FailureSubject::file && failure.file_error) {
    return std::unexpected(file_failure("package", *failure.file_error, "not a regular file"));
  }
  return std::unexpected(error_result("cannot read package", failure.error.to_string()));
}

Outcome<TileMemory> tile_memory(const Package& package, std::uint32_t physical_tile) {
  return cli::find_tile_memory(package, physical_tile, "cannot rebuild the tile image");
}

Outcome<TemplateSetup> template_setup(const TileMemory& memory) {
  const std::optional<FoundSetup> found = find_template_setup(memory.bytes);
  if (!found) return std::unexpected(absent_value("template setup was not found"));
  return found->setup;
}

Outcome<ExpectedRecord> expected_record(const TileMemory& memory, const TemplateSetup& setup) {
  auto expected = zem::expected_record(memory, setup);
  if (!expected) return std::unexpected(Failure{to_string(expected.error())});
  return std::move(*expected);
}

Outcome<DeviceRecord> read_record(const char* path, std::uint64_t expected_length) {
  // A FIFO or a device is refused: the verifier reads regular files only.
  auto record = read_device_record(path, RecordReadOptions{expected_length, std::nullopt});
  if (!record) {
    const io::FileError& error = record.error();
    return std::unexpected(
        file_failure("device record", error,
                     fmt::format("not a regular file: it is {}", io::describe(error.type))));
  }
  return std::move(*record);
}

Outcome<std::string> compare_record(const ExpectedRecord& expected, const DeviceRecord& record) {
  const std::uint64_t expected_bytes = std::uint64_t{expected.size()} * 4;
  if (record.size != expected_bytes || record.more_than_size) {
    return std::unexpected(length_mismatch("device record", record.size, expected_bytes));
  }
  // Only the first differing word is reported.
  const RecordDiff diff = diff_record(expected, record, DiffOptions{.max = 1});
  if (!diff.differences.empty()) {
    const ExplainedWord& word = diff.differences.front();
    return std::unexpected(
        Failure{fmt::format("device record differs at word {}: actual=0x{:08x}, expected=0x{:08x}",
                            word.index, word.actual, word.expected)});
  }
  return fmt::format("templateRecordWords={} transition=1 status=match", expected.size());
}

}  // namespace zem::template_record

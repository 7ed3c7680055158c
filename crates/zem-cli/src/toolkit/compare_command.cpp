// `compare`: what differs between two packages.

#include <fmt/format.h>

#include "toolkit/commands.hpp"
#include "toolkit/comparison.hpp"
#include "toolkit/comparison_report.hpp"
#include "toolkit/package_file.hpp"

namespace zem::toolkit {
namespace {

// A package to compare, read up to the end of its structure. One that cannot
// be read that far cannot be compared; one that fails validation or its
// build digest is compared as read.
Outcome<PackageInput> read_for_comparison(const std::string& argument, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(PackageInput input, read_package(argument, read, ReadKind::strict));
  if (!input.reading) return std::unexpected(invalid_package(argument, input.reading.error()));
  return input;
}

ComparedPackage compared(const std::string& argument, const PackageInput& input) {
  ComparedPackage package{argument, &*input.reading, std::nullopt, input.trailing_bytes};
  if (auto completed = input.reading->complete(); !completed) {
    package.completion_failure = std::move(completed).error();
  }
  return package;
}

}  // namespace

Outcome<ExitStatus> run_compare(const CompareOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const PackageInput first, read_for_comparison(options.first, read));
  ZEM_ASSIGN_OR_RETURN(const PackageInput second, read_for_comparison(options.second, read));
  const Comparison comparison =
      compare_packages(compared(options.first, first), compared(options.second, second));
  const std::string text =
      options.json ? json_text(comparison_json(comparison, options.first, options.second))
                   : comparison_text(comparison, options.first, options.second);
  fmt::print(stdout, "{}", text);
  return comparison.equal() ? ExitStatus::success : ExitStatus::negative;
}

}  // namespace zem::toolkit

#include "read_agreement.hpp"

#include <fmt/format.h>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package.hpp"

namespace zem::testing {
namespace {

std::string outcome_text(const Result<Application>& read) {
  return read ? std::string("success") : read.error().to_string();
}

// A survey's verdict: its first failure, its own completion's included.
std::string survey_text(const ReadResult<Package>& survey) {
  if (!survey) return survey.error().error.to_string();
  if (!survey->failures().empty()) return survey->failures().front().error.to_string();
  return "success";
}

}  // namespace

std::string read_disagreement(std::span<const std::uint8_t> bytes) {
  // The full read, which keeps every blob's contents as it checks them.
  const Result<Application> full = Application::read(memory_file(bytes));
  const std::string expected = outcome_text(full);
  for (const unsigned threads : {1U, 4U}) {
    if (threads > 1) {
      const Result<Application> parallel = Application::read(memory_file(bytes), {threads});
      if (outcome_text(parallel) != expected || (full && *parallel != *full)) {
        return fmt::format("the full read on {} threads gives {}, on one {}", threads,
                           outcome_text(parallel), expected);
      }
    }
    // A survey reports the same first failure, whatever it reads past it.
    if (const std::string surveyed = survey_text(read_survey(bytes, threads));
        surveyed != expected) {
      return fmt::format("the survey on {} threads gives {}, the full read {}", threads, surveyed,
                         expected);
    }
    // The strict reading, which keeps the message instead of the contents.
    const ReadResult<Package> checked = read_checked(bytes, threads);
    if (!checked) {
      const std::string text = checked.error().error.to_string();
      if (text != expected) {
        return fmt::format("the checking read on {} threads gives {}, the full read {}", threads,
                           text, expected);
      }
      continue;
    }
    if (!full) {
      return fmt::format("the checking read on {} threads succeeds, the full read gives {}",
                         threads, expected);
    }
    const ReadResult<Application> model = checked->application();
    if (!model) {
      return fmt::format("blob contents cannot be had again: {}", model.error().error.to_string());
    }
    if (*model != *full) {
      return fmt::format("the checking read on {} threads gives another model", threads);
    }
  }
  return {};
}

}  // namespace zem::testing

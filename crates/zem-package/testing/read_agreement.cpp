#include "read_agreement.hpp"

#include <fmt/format.h>

#include "package_builder.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::testing {
namespace {

std::string outcome_text(const Result<Application>& read) {
  return read ? std::string("success") : read.error().to_string();
}

}  // namespace

std::string read_disagreement(std::span<const std::uint8_t> bytes) {
  const Result<Application> full = Application::read(memory_file(bytes));
  if (const Result<Application> in_memory = Application::read(bytes);
      outcome_text(in_memory) != outcome_text(full) || (full && *in_memory != *full)) {
    return fmt::format("the read from memory gives {}, from a file {}", outcome_text(in_memory),
                       outcome_text(full));
  }
  const std::string expected = outcome_text(full);
  for (const unsigned threads : {1U, 4U}) {
    const ReadOptions options{threads};
    if (threads > 1) {
      const Result<Application> parallel = Application::read(bytes, options);
      if (outcome_text(parallel) != expected || (full && *parallel != *full)) {
        return fmt::format("the full read on {} threads gives {}, on one {}", threads,
                           outcome_text(parallel), expected);
      }
    }
    // A survey reports the same first failure, whatever it reads past it.
    const ReadResult<PackageReading> survey = PackageReading::survey(bytes, options);
    std::string surveyed = "success";
    if (!survey) {
      surveyed = survey.error().error.to_string();
    } else if (auto completed = survey->complete(); !completed) {
      surveyed = completed.error().error.to_string();
    }
    if (surveyed != expected) {
      return fmt::format("the survey on {} threads gives {}, the full read {}", threads, surveyed,
                         expected);
    }
    const ReadResult<CheckedPackage> checked = CheckedPackage::read(bytes, options);
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
    const Result<Application> model = checked->application();
    if (!model) {
      return fmt::format("blob contents cannot be had again: {}", model.error().to_string());
    }
    if (*model != *full) {
      return fmt::format("the checking read on {} threads gives another model", threads);
    }
  }
  return {};
}

}  // namespace zem::testing

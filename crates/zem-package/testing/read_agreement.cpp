#include "read_agreement.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "zem_package/application.hpp"
#include "zem_package/device_check.hpp"
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

// How two device checks of one package differ, or nothing.
std::string check_difference(const ReadResult<DeviceCheck>& once,
                             const ReadResult<DeviceCheck>& after) {
  if (!once || !after) {
    if (once.has_value() == after.has_value() && once.error() == after.error()) return {};
    return fmt::format("{} where the check prepared after the read gives {}",
                       once ? "success" : once.error().error.to_string(),
                       after ? "success" : after.error().error.to_string());
  }
  const auto same = [](auto a, auto b) { return std::ranges::equal(a, b); };
  if (!same(once->tiles(), after->tiles()) ||
      !same(once->tiles_without_setup(), after->tiles_without_setup())) {
    return "other tiles than the check prepared after the read";
  }
  return {};
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
    // The device check prepared as the package is read fails as the read
    // does, or gives the check prepared after it.
    const DeviceCheckRead once = DeviceCheck::read_and_prepare(bytes, {}, {threads});
    if (once.package.has_value() != checked.has_value() ||
        (!checked && once.package.error() != checked.error())) {
      return fmt::format("the device check's read on {} threads gives {}, the checking read {}",
                         threads, once.package ? "success" : once.package.error().error.to_string(),
                         checked ? "success" : checked.error().error.to_string());
    }
    if (checked) {
      if (const std::string differs =
              check_difference(once.check, DeviceCheck::prepare(*checked, {}, threads));
          !differs.empty()) {
        return fmt::format("the device check on {} threads gives {}", threads, differs);
      }
    }
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

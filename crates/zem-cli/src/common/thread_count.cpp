#include "common/thread_count.hpp"

#include <algorithm>
#include <string_view>

#include <fmt/format.h>

#include "common/whole_number.hpp"
#include "zem_package/package_error.hpp"
#include "zem_package/read_options.hpp"

namespace zem::cli {

Outcome<unsigned> thread_count(const char* setting) {
  // Set but empty is as good as unset: `ZEM_THREADS= tool` clears a setting.
  if (setting == nullptr || *setting == '\0') {
    return available_threads();
  }
  const std::string_view text(setting);
  const auto value = parse_whole_number(text);
  if (!value || *value == 0 || *value > thread_limit) {
    return std::unexpected(
        Failure{fmt::format("invalid ZEM_THREADS value {}: expected a whole number from 1 to {}",
                            quote_escaped(text), thread_limit)});
  }
  return *value;
}

}  // namespace zem::cli

#include "common/thread_count.hpp"

#include <sched.h>

#include <algorithm>
#include <string_view>

#include <fmt/format.h>

#include "common/whole_number.hpp"
#include "zem_package/package_error.hpp"

namespace zem::cli {
namespace {

// The processors this process may run on; 1 when the system cannot say.
unsigned usable_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(CPU_COUNT(&set), 1));
}

}  // namespace

Outcome<unsigned> thread_count(const char* setting) {
  // Set but empty is as good as unset: `ZEM_THREADS= tool` clears a setting.
  if (setting == nullptr || *setting == '\0') {
    return std::min(usable_processors(), default_thread_limit);
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

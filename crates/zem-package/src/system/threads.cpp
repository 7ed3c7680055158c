#include <sched.h>

#include <algorithm>

#include "zem_package/read_options.hpp"

namespace zem {

unsigned available_threads() noexcept {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::clamp(static_cast<unsigned>(CPU_COUNT(&set)), 1U, available_thread_limit);
}

}  // namespace zem

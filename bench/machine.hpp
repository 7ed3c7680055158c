#pragma once

// What the benchmark ran on, for its report.

#include <string>

namespace zem::bench {

// "AMD EPYC (sha_ni), 2 cores, 23.5 GiB memory, Linux 6.1.0 x86_64", from
// /proc/cpuinfo, /proc/meminfo and uname. Parts that cannot be read are
// reported as unknown.
[[nodiscard]] std::string describe_machine();

// The versions of the decompression and hash libraries in use.
[[nodiscard]] std::string describe_libraries();

// The threads a tool starts by default here: the processors this process
// may run on, at most 16, as the tools count them.
[[nodiscard]] unsigned tool_threads();

// The 1, 5 and 15 minute load averages: other work competes for the cores.
[[nodiscard]] std::string load_average();

}  // namespace zem::bench

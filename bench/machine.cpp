#include "machine.hpp"

#include <fmt/format.h>
#include <openssl/crypto.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace zem::bench {
namespace {

// The value of the first "key : value" line of `path` whose key is `key`.
std::string proc_value(const char* path, std::string_view key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view name = std::string_view(line).substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (name != key) continue;
    std::string_view value = std::string_view(line).substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return std::string(value);
  }
  return {};
}

bool has_flag(const std::string& flags, std::string_view flag) {
  return fmt::format(" {} ", flags).find(fmt::format(" {} ", flag)) != std::string::npos;
}

}  // namespace

std::string describe_machine() {
  std::string cpu = proc_value("/proc/cpuinfo", "model name");
  if (cpu.empty()) cpu = "unknown processor";
  // SHA-256 runs several times faster with the processor's SHA extensions.
  const std::string flags = proc_value("/proc/cpuinfo", "flags");
  if (has_flag(flags, "sha_ni")) cpu += " (sha_ni)";

  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  std::string memory = "unknown memory";
  const std::string total = proc_value("/proc/meminfo", "MemTotal");
  if (!total.empty()) {
    const double kib = std::strtod(total.c_str(), nullptr);
    memory = fmt::format("{:.1f} GiB memory", kib / (1024.0 * 1024.0));
  }
  struct utsname names {};
  std::string kernel = "unknown kernel";
  if (::uname(&names) == 0) {
    kernel = fmt::format("{} {} {}", names.sysname, names.release, names.machine);
  }
  return fmt::format("{}, {} cores, {}, {}", cpu, cores, memory, kernel);
}

std::string describe_libraries() {
  return fmt::format("zstd {}, {}", ZSTD_versionString(), OpenSSL_version(OPENSSL_VERSION));
}

unsigned tool_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::min(static_cast<unsigned>(std::max(CPU_COUNT(&set), 1)), 16U);
}

std::string load_average() {
  double loads[3] = {};
  if (::getloadavg(loads, 3) != 3) return "unknown";
  return fmt::format("{:.2f} {:.2f} {:.2f}", loads[0], loads[1], loads[2]);
}

}  // namespace zem::bench

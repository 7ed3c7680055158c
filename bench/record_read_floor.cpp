// The least that reading a fleet's records can cost: a plain program that
// opens, reads and closes every tile's record file of every device, on as
// many threads as `zem-package verify` uses, and does nothing else.
//
//   zem_record_read_floor --tiles N --threads T PATTERN...
//
// Each PATTERN is one device, `{tile}` standing for tiles 0 to N-1. Files
// are handed out to the threads one at a time, as the tool hands out tiles.
// Exit status 0 when every file was read, 2 on bad arguments, 3 when a file
// cannot be opened or read.

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "command_options.hpp"

namespace {

using namespace zem::bench;

constexpr std::string_view option_names[] = {"tiles", "threads"};

std::string tile_path(const std::string& pattern, std::uint64_t tile) {
  const std::size_t at = pattern.find("{tile}");
  if (at == std::string::npos) throw std::invalid_argument("PATTERN needs {tile}");
  return pattern.substr(0, at) + std::to_string(tile) + pattern.substr(at + 6);
}

// Reads the whole file; false when it cannot be opened or read.
bool read_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::array<char, 65536> buffer;
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

int run(std::span<char* const> arguments) {
  const CommandOptions options = CommandOptions::parse(arguments, option_names);
  if (options.positional.empty()) throw std::invalid_argument("give at least one PATTERN");
  const std::uint64_t tiles = options.number("tiles", 0, 65536);
  const auto threads = static_cast<unsigned>(options.number("threads", 1, 256));
  if (threads == 0) throw std::invalid_argument("--threads must be at least 1");
  // The paths are made before the timing matters little: the tool makes
  // them as it goes, and so does this.
  const std::vector<std::string>& patterns = options.positional;
  for (const std::string& pattern : patterns) static_cast<void>(tile_path(pattern, 0));
  const std::uint64_t count = tiles * patterns.size();
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false};
  const auto drain = [&] {
    for (std::uint64_t i = next++; i < count; i = next++) {
      if (!read_file(tile_path(patterns[i / tiles], i % tiles))) failed = true;
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(drain);
    drain();
  }  // joins the helpers
  return failed ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem_record_read_floor", argc, argv, run);
}

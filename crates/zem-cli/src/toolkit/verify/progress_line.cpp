#include "toolkit/verify/progress_line.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>

namespace zem::toolkit {
namespace {

using namespace std::chrono_literals;

// The quiet time before the first line, and the time between lines.
constexpr auto first_line_after = 1s;
constexpr auto line_every = 250ms;

}  // namespace

std::string progress_text(std::uint64_t done, std::size_t devices, std::size_t tiles) {
  const std::uint64_t all = std::uint64_t{devices} * tiles;
  if (done > all) done = all;
  const std::uint64_t devices_done = tiles == 0 ? devices : done / tiles;
  return fmt::format("verify: {} of {} device{}, {} of {} tiles", devices_done, devices,
                     devices == 1 ? "" : "s", done, all);
}

bool standard_error_is_terminal() noexcept { return ::isatty(STDERR_FILENO) == 1; }

ProgressLine::ProgressLine(bool show, std::size_t devices, std::size_t tiles) {
  if (!show) return;
  try {
    thread_ = std::jthread([this, devices, tiles](std::stop_token stop) {
      std::mutex mutex;
      std::condition_variable_any wake;
      std::unique_lock lock(mutex);
      // Returns true when the run ended during the wait.
      const auto wait = [&](auto duration) {
        return wake.wait_for(lock, stop, duration, [] { return false; }) || stop.stop_requested();
      };
      if (wait(first_line_after)) return;
      std::size_t width = 0;
      do {
        const std::string line = progress_text(done_.load(), devices, tiles);
        width = std::max(width, line.size());
        fmt::print(stderr, "\r{:<{}}", line, width);
        std::fflush(stderr);
      } while (!wait(line_every));
      // The line is cleared, so that what follows starts on a clean one.
      fmt::print(stderr, "\r{:<{}}\r", "", width);
      std::fflush(stderr);
    });
  } catch (const std::system_error&) {
    // Without a thread, the run goes on without progress.
  }
}

ProgressLine::~ProgressLine() = default;  // the jthread asks its thread to stop, and joins it

}  // namespace zem::toolkit

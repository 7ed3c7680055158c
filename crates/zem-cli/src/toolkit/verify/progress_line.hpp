#pragma once

// How far a long `verify` has come, on one line of standard error that is
// rewritten in place: shown only on a terminal and only once the run has
// taken about a second, so that short runs, pipes and files see nothing.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace zem::toolkit {

// "verify: 1 of 4 devices, 300 of 1024 tiles": `done` tiles of `devices`
// devices of `tiles` tiles each, verified one device after the other.
[[nodiscard]] std::string progress_text(std::uint64_t done, std::size_t devices, std::size_t tiles);

class ProgressLine {
 public:
  // Shows progress on standard error while the object lives, when `show`
  // (standard error is a terminal); the line is cleared when it ends.
  ProgressLine(bool show, std::size_t devices, std::size_t tiles);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine();

  // The count of tiles verified, which the check raises.
  [[nodiscard]] std::atomic<std::uint64_t>* counter() noexcept { return &done_; }

 private:
  std::atomic<std::uint64_t> done_{0};
  std::jthread thread_;  // declared last: it stops and joins before the count goes
};

// Whether standard error is a terminal.
[[nodiscard]] bool standard_error_is_terminal() noexcept;

}  // namespace zem::toolkit

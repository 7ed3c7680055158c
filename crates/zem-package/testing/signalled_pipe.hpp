// Reads interrupted by signals on purpose: a handler that lets a signal
// break a wait or a read (EINTR), a writer that sends bytes a little at a
// time and signals the reading thread before each piece, and a watchdog
// that ends the process when a read never returns.

#pragma once

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>

namespace zem::testing {

// While it lives, SIGUSR1 is counted and interrupts what it meets: its
// handler has no SA_RESTART.
class InterruptingSignal {
 public:
  InterruptingSignal();
  InterruptingSignal(const InterruptingSignal&) = delete;
  InterruptingSignal& operator=(const InterruptingSignal&) = delete;
  ~InterruptingSignal();

  // The signals handled since it was made.
  [[nodiscard]] int count() const noexcept;

 private:
  struct sigaction previous_ {};
};

// Ends the process when what it watches is not done in time: a read that
// loops for ever fails the test instead of holding the whole run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit);
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog();

 private:
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;  // guarded by `mutex_`
  std::thread thread_;
};

// Sends `sent` to `fd` in pieces of 512 bytes, signalling `reader` with
// SIGUSR1 before each, then closes it.
void send_in_signalled_pieces(int fd, pthread_t reader, std::span<const std::uint8_t> sent);

}  // namespace zem::testing

#include "signalled_pipe.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zem::testing {
namespace {

using namespace std::chrono_literals;

std::atomic<int> interruptions{0};

}  // namespace

InterruptingSignal::InterruptingSignal() {
  interruptions = 0;
  struct sigaction action {};
  action.sa_handler = [](int) { interruptions.fetch_add(1); };
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait or a read that a signal interrupts gives EINTR
  if (::sigaction(SIGUSR1, &action, &previous_) != 0) std::abort();
}

InterruptingSignal::~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }

int InterruptingSignal::count() const noexcept { return interruptions.load(); }

Watchdog::Watchdog(std::chrono::seconds limit)
    : thread_([this, limit] {
        std::unique_lock lock(mutex_);
        if (!done_changed_.wait_for(lock, limit, [this] { return done_; })) {
          std::fputs("the watched call did not return in time\n", stderr);
          std::abort();
        }
      }) {}

Watchdog::~Watchdog() {
  {
    const std::scoped_lock lock(mutex_);
    done_ = true;
  }
  done_changed_.notify_one();
  thread_.join();
}

void send_in_signalled_pieces(int fd, pthread_t reader, std::span<const std::uint8_t> sent) {
  constexpr std::size_t piece = 512;
  for (std::size_t done = 0; fd >= 0 && done < sent.size(); done += piece) {
    std::this_thread::sleep_for(1ms);
    ::pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(1ms);
    const std::size_t size = std::min(piece, sent.size() - done);
    if (::write(fd, sent.data() + done, size) != static_cast<ssize_t>(size)) break;
  }
  if (fd >= 0) ::close(fd);
}

}  // namespace zem::testing

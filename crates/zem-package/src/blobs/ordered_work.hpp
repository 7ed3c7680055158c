#pragma once

// Work on a list of items spread over threads, with the outcome a single
// thread walking the list in order would have.
//
// Items are handed out in list order. Each is worked on independently, and
// then accepted in list order, one at a time: an item is accepted only after
// every item before it. The first item whose work or acceptance fails ends the
// run, and no item after it is started from then on; items already under way
// on other threads finish, but are never accepted. So the failure reported is
// always the first in list order, whatever the threads' timing.
//
// The calling thread works too: with one thread nothing is started, and with
// more, every thread started is joined before `run_in_order` returns, on every
// path. A thread that cannot be started leaves its share to the others.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace zem {

// Runs `work(worker, index)` for every index below `count`, and
// `accept(index)` in increasing index order once the work on `index` and on
// every index before it is done. Both return true on success. `worker` is
// the number of the thread doing the work, below `threads`, so that each
// thread can keep state of its own. `accept` runs on one thread at a time,
// and sees everything that the work on its index wrote.
//
// Returns the index of the first failure in list order (of work or
// acceptance), or nothing when every item was worked on and accepted.
template <class Work, class Accept>
[[nodiscard]] std::optional<std::size_t> run_in_order(std::size_t count, unsigned threads,
                                                      Work&& work, Accept&& accept) {
  if (threads <= 1 || count <= 1) {
    for (std::size_t index = 0; index < count; ++index) {
      if (!work(0U, index) || !accept(index)) return index;
    }
    return std::nullopt;
  }

  enum class State : std::uint8_t { pending, done, failed };
  std::vector<State> states(count, State::pending);  // guarded by `mutex`
  std::mutex mutex;
  std::size_t frontier = 0;                  // every item below it is accepted; guarded by `mutex`
  std::optional<std::size_t> first_failure;  // guarded by `mutex`
  std::atomic<std::size_t> next{0};
  // Items at or after this index are not started: an earlier one failed.
  std::atomic<std::size_t> stop_at{count};

  const auto finish = [&](std::size_t index, bool succeeded) {
    const std::scoped_lock lock(mutex);
    states[index] = succeeded ? State::done : State::failed;
    while (!first_failure && frontier < count && states[frontier] != State::pending) {
      if (states[frontier] == State::failed || !accept(frontier)) {
        first_failure = frontier;
        stop_at.store(frontier, std::memory_order_relaxed);
        return;
      }
      ++frontier;
    }
    if (!succeeded && !first_failure) {
      // Not first yet: items before it are still under way. Nothing after it
      // needs doing whatever they give.
      std::size_t current = stop_at.load(std::memory_order_relaxed);
      if (index < current) stop_at.store(index, std::memory_order_relaxed);
    }
  };
  const auto worker_loop = [&](unsigned worker) {
    for (;;) {
      const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
      if (index >= count || index >= stop_at.load(std::memory_order_relaxed)) return;
      finish(index, work(worker, index));
    }
  };

  const std::size_t wanted = threads < count ? threads : count;
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(wanted - 1);
    for (unsigned worker = 1; worker < wanted; ++worker) {
      try {
        helpers.emplace_back(worker_loop, worker);
      } catch (const std::system_error&) {
        break;  // the threads already running, and this one, share the rest
      }
    }
    worker_loop(0);
  }  // joins every helper

  // An item is left pending only when an earlier one failed, so a run that
  // stops without a failure has accepted everything.
  return first_failure;
}

}  // namespace zem

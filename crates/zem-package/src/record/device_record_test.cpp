// A record from a FIFO or a pipe arrives whole when the writer sends it a
// little at a time and signals interrupt the wait or the read between pieces.

#include "zem_package/device_record.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zem {
namespace {

using namespace std::chrono_literals;

std::atomic<int> interruptions{0};

// Ends the process when what it watches is not done in time: a read that
// loops for ever fails the test instead of holding the whole run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!done_changed_.wait_for(lock, limit, [this] { return done_; })) {
            std::fputs("the watched call did not return in time\n", stderr);
            std::abort();
          }
        }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      const std::scoped_lock lock(mutex_);
      done_ = true;
    }
    done_changed_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;  // guarded by `mutex_`
  std::thread thread_;
};

// Sends `sent` to `fd` in pieces, signalling `reader` before each, then
// closes it.
void send_in_signalled_pieces(int fd, pthread_t reader, const std::vector<std::uint8_t>& sent) {
  for (std::size_t done = 0; fd >= 0 && done < sent.size(); done += 512) {
    std::this_thread::sleep_for(1ms);
    ::pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(1ms);
    if (::write(fd, sent.data() + done, 512) != 512) break;
  }
  if (fd >= 0) ::close(fd);
}

// A record read while signals interrupt it, from a FIFO waited for by its
// path and from a pipe read without waiting, as standard input is.
TEST(DeviceRecordTest, ARecordInterruptedBySignalsIsReadWhole) {
  struct sigaction action {};
  action.sa_handler = [](int) { interruptions.fetch_add(1); };
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait or a read that a signal interrupts gives EINTR
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  std::string dir = ::testing::TempDir() + "zem-record-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string fifo = dir + "/tile7.rec";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::uint8_t> sent(4096);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);

  for (const bool from_fifo : {true, false}) {
    interruptions = 0;
    io::Result<DeviceRecord> read = std::unexpected(io::FileError{});
    {
      const Watchdog watchdog(60s);
      const pthread_t reader = ::pthread_self();
      if (from_fifo) {
        std::thread writer([&] {
          // Opens once the reader has opened it.
          send_in_signalled_pieces(::open(fifo.c_str(), O_WRONLY), reader, sent);
        });
        read = read_device_record(fifo, {.limit = 8192, .pipe_wait = 10s});
        writer.join();
      } else {
        int ends[2] = {-1, -1};
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        std::thread writer([&] { send_in_signalled_pieces(ends[1], reader, sent); });
        read = read_device_record(ends[0], 8192);
        writer.join();
        ::close(ends[0]);
      }
    }
    ASSERT_TRUE(read.has_value()) << from_fifo;
    EXPECT_EQ(read->bytes, sent) << from_fifo;
    EXPECT_EQ(read->size, sent.size()) << from_fifo;
    EXPECT_FALSE(read->more_than_size) << from_fifo;
    EXPECT_GT(interruptions.load(), 0) << from_fifo;
  }
  ::sigaction(SIGUSR1, &previous, nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zem

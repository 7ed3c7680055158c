// A record from a FIFO or a pipe arrives whole when the writer sends it a
// little at a time and signals interrupt the wait or the read between pieces.

#include "zem_package/device_record.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "signalled_pipe.hpp"

namespace zem {
namespace {

using namespace std::chrono_literals;

// A record read while signals interrupt it, from a FIFO waited for by its
// path and from a pipe read without waiting, as standard input is.
TEST(DeviceRecordTest, ARecordInterruptedBySignalsIsReadWhole) {
  using testing::send_in_signalled_pieces;
  using testing::Watchdog;

  std::string dir = ::testing::TempDir() + "zem-record-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string fifo = dir + "/tile7.rec";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::uint8_t> sent(4096);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);

  for (const bool from_fifo : {true, false}) {
    const testing::InterruptingSignal signal;
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
    EXPECT_GT(signal.count(), 0) << from_fifo;
  }
  std::filesystem::remove_all(dir);
}

// Only a record file that does not exist is missing; a file that cannot be
// opened for another reason, or read, is unreadable.
TEST(DeviceRecordTest, OnlyAnAbsentFileIsMissing) {
  using Step = io::FileError::Step;
  const struct {
    Step step;
    int os_error;
    bool missing;
  } cases[] = {
      {Step::open, ENOENT, true},
      {Step::open, EACCES, false},
      {Step::open, ENOTDIR, false},
      {Step::read, ENOENT, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(record_missing(io::FileError{c.step, c.os_error, io::FileType::regular}), c.missing)
        << c.os_error;
  }
}

}  // namespace
}  // namespace zem

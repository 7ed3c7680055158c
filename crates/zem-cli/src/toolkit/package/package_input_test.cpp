// A package read from standard input, with bytes after its message that
// arrive a little at a time while signals interrupt their reading.

#include "toolkit/package/package_input.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "damaged_packages.hpp"
#include "signalled_pipe.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;
using namespace std::chrono_literals;

// Standard input is a pipe while it lives.
class PipedStandardInput {
 public:
  PipedStandardInput() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    saved_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    write_end_ = ends[1];
  }
  PipedStandardInput(const PipedStandardInput&) = delete;
  PipedStandardInput& operator=(const PipedStandardInput&) = delete;
  ~PipedStandardInput() {
    if (saved_ >= 0) {
      ::dup2(saved_, STDIN_FILENO);
      ::close(saved_);
    }
  }
  // Its writing end, to be closed by whoever takes it.
  [[nodiscard]] int write_end() const noexcept { return write_end_; }

 private:
  int saved_ = -1;
  int write_end_ = -1;
};

// Every byte after the message is counted, however often a signal breaks
// the wait for the next one.
TEST(PackageInputTest, BytesAfterThePackageAreCountedWhole) {
  const std::vector<std::uint8_t> package = zt::example_bytes();
  const std::vector<std::uint8_t> after(4096, 0x5a);
  const PipedStandardInput input;
  ASSERT_GE(input.write_end(), 0);
  const zt::InterruptingSignal signal;
  Outcome<PackageInput> read = std::unexpected(Failure{"not read"});
  {
    const zt::Watchdog watchdog(60s);
    const pthread_t reader = ::pthread_self();
    std::thread writer([&] {
      // The package fits the pipe: it is there before the first signal.
      if (::write(input.write_end(), package.data(), package.size()) ==
          static_cast<ssize_t>(package.size())) {
        zt::send_in_signalled_pieces(input.write_end(), reader, after);
      } else {
        ::close(input.write_end());
      }
    });
    read = read_package("-", {.threads = 1}, "");
    writer.join();
  }
  ASSERT_TRUE(read) << read.error().message;
  ASSERT_TRUE(read->package) << read->package.error().error.to_string();
  EXPECT_EQ(read->trailing_bytes, after.size());
  EXPECT_GT(signal.count(), 0);
}

}  // namespace
}  // namespace zem::toolkit

#include "message/framing.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "package_builder.hpp"
#include "zem_package/application.hpp"

namespace zem {
namespace {

using testing::build_package;
using testing::example_application;
using testing::example_options;
using testing::memory_file;
using testing::words_to_bytes;

std::vector<std::uint8_t> example_package() {
  return build_package(example_application(), example_options());
}

Result<Application> read_bytes(std::span<const std::uint8_t> bytes) {
  return Application::read(memory_file(bytes));
}

std::string error_text(const Result<Application>& result) {
  return result ? std::string("success") : result.error().to_string();
}

// A package whose single segment is announced as segment 0 of `count`, the
// others being empty.
std::vector<std::uint8_t> with_segment_count(std::span<const std::uint8_t> package,
                                             std::uint32_t count) {
  const std::uint32_t segment_words = static_cast<std::uint32_t>(package.size() / 8 - 1);
  std::vector<std::uint32_t> header{count - 1, segment_words};
  header.resize(count + 1, 0);
  if (header.size() % 2 == 1) header.push_back(0);
  std::vector<std::uint8_t> bytes = words_to_bytes(header);
  bytes.insert(bytes.end(), package.begin() + 8, package.end());
  return bytes;
}

TEST(FramingTest, SegmentCountLimits) {
  const std::vector<std::uint8_t> package = example_package();
  // 511 segments are the most a message may have.
  EXPECT_EQ(error_text(read_bytes(with_segment_count(package, 511))), "success");
  EXPECT_EQ(error_text(read_bytes(with_segment_count(package, 2))), "success");

  // 512 segments, or 2^32 (first word 0xffffffff), are refused from the first
  // word alone: the file holds nothing else.
  for (const std::uint32_t first : {511U, 512U, 0xffffffffU}) {
    const std::vector<std::uint8_t> bytes = words_to_bytes(std::vector<std::uint32_t>{first});
    const std::string text = error_text(read_bytes(bytes));
    EXPECT_EQ(text.rfind("Capnp(failed: message has too many segments", 0), 0U) << text;
  }
}

TEST(FramingTest, EveryTruncationIsRefused) {
  const std::vector<std::uint8_t> package = example_package();
  for (std::size_t length = 0; length < package.size(); ++length) {
    const std::string text = error_text(read_bytes(std::span(package).first(length)));
    ASSERT_EQ(text.rfind("Capnp(failed: premature end of file", 0), 0U)
        << "cut at " << length << ": " << text;
  }
}

// Runs `run` in a child process whose address space may grow by only 256 MiB
// beyond what it has, and returns what `run` returned there: an allocation
// of gigabytes fails in the child even where memory is overcommitted.
std::string with_little_address_space(const std::function<std::string()>& run) {
  int result[2];
  if (::pipe(result) != 0) return "cannot make a pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(result[0]);
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    const auto page_size = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const rlim_t limit = pages * page_size + (std::uint64_t{256} << 20);
    const struct rlimit address_space {
      limit, limit
    };
    const std::string text = pages == 0 || ::setrlimit(RLIMIT_AS, &address_space) != 0
                                 ? std::string("cannot limit the address space")
                                 : run();
    const bool written =
        ::write(result[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(result[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n = 0; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(result[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    text += fmt::format(" (the child ended with status {:#x})", status);
  }
  return text;
}

// One segment of 2^29 words (4 GiB) in a file of 16 bytes.
const std::vector<std::uint8_t> claims_4_gib =
    words_to_bytes(std::vector<std::uint32_t>{0, 0x20000000, 0, 0});
constexpr std::string_view claims_4_gib_error =
    "Capnp(failed: premature end of file: the message framing needs 4294967304 bytes but the "
    "file holds 16)";

TEST(FramingTest, FramingThatClaimsMoreThanTheFileIsRefusedBeforeAllocating) {
  EXPECT_EQ(with_little_address_space([] { return error_text(read_bytes(claims_4_gib)); }),
            claims_4_gib_error);
}

TEST(FramingTest, TrailingBytesAreNeverRead) {
  std::vector<std::uint8_t> package = example_package();
  const int fd = memory_file([&] {
    std::vector<std::uint8_t> longer = package;
    longer.insert(longer.end(), 4096, 0xee);
    return longer;
  }());
  const int probe = ::dup(fd);
  const auto read = Application::read(fd);
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_EQ(::lseek(probe, 0, SEEK_CUR), static_cast<off_t>(package.size()));
  ::close(probe);
}

TEST(FramingTest, MultiSegmentMessagesWithFarPointersAreRead) {
  // Tiny fixed-size segments put nearly every object in a segment of its own,
  // reached through far pointers.
  const Application model = example_application();
  const std::vector<std::uint8_t> single = example_package();
  capnp::FlatArrayMessageReader reader(kj::arrayPtr(
      reinterpret_cast<const capnp::word*>(single.data()), single.size() / sizeof(capnp::word)));
  capnp::MallocMessageBuilder builder(1, capnp::AllocationStrategy::FIXED_SIZE);
  builder.setRoot(reader.getRoot<schema::Application>());
  ASSERT_GT(builder.getSegmentsForOutput().size(), 10U);
  const kj::Array<capnp::word> words = capnp::messageToFlatArray(builder);
  const auto bytes = words.asBytes();

  const auto read = read_bytes({bytes.begin(), bytes.size()});
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  Application expected = model;
  testing::index_blobs(expected);
  EXPECT_EQ(*read, expected);
}

// Writes `bytes` into a pipe a few at a time from another thread, which also
// interrupts the reading thread with a signal between writes.
class InterruptingWriter {
 public:
  InterruptingWriter(std::vector<std::uint8_t> bytes, int fd, pthread_t reader)
      : thread_([bytes = std::move(bytes), fd, reader] {
          for (std::size_t done = 0; done < bytes.size();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::size_t n = std::min<std::size_t>(97, bytes.size() - done);
            if (::write(fd, bytes.data() + done, n) != static_cast<ssize_t>(n)) break;
            done += n;
          }
          ::close(fd);
        }) {}
  ~InterruptingWriter() { thread_.join(); }

 private:
  std::thread thread_;
};

std::atomic<int> interruptions{0};

TEST(FramingTest, ReadsInterruptedBySignalsAreRetried) {
  struct sigaction action {};
  action.sa_handler = [](int) { interruptions.fetch_add(1); };
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::vector<std::uint8_t> package = example_package();
  Result<Application> read = std::unexpected(PackageError::invalid("not read"));
  {
    const InterruptingWriter writer(package, fds[1], pthread_self());
    read = Application::read(fds[0]);
  }
  sigaction(SIGUSR1, &previous, nullptr);
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_EQ(read->compiler, "1.4.2");
}

TEST(FramingTest, PipeThatEndsEarlyIsRefused) {
  // Claims 4 GiB but sends 16 bytes: the buffer grows only with what arrives.
  EXPECT_EQ(with_little_address_space([] {
              int fds[2];
              if (::pipe(fds) != 0) return std::string("cannot make a pipe");
              const auto sent = ::write(fds[1], claims_4_gib.data(), claims_4_gib.size());
              ::close(fds[1]);
              if (sent != static_cast<ssize_t>(claims_4_gib.size())) return std::string("short");
              return error_text(Application::read(fds[0]));
            }),
            claims_4_gib_error);
}

TEST(FramingTest, LargePackageFromAPipeReadsAsFromItsFile) {
  // Incompressible blob contents make a package of 3 MiB, so the buffer for
  // a pipe grows several times, into a mapped region at the end.
  Application model = example_application();
  std::vector<std::uint8_t> contents(3 << 20);
  std::uint64_t state = 0x9e3779b97f4a7c15;
  for (std::uint8_t& byte : contents) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<std::uint8_t>(state);
  }
  model.blobs.push_back(testing::make_blob(contents));
  const std::vector<std::uint8_t> package = build_package(model, example_options());
  ASSERT_GT(package.size(), contents.size());

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t done = 0; done < package.size();) {
      const ssize_t n = ::write(fds[1], package.data() + done, package.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);
  });
  const auto from_pipe = Application::read(fds[0]);
  writer.join();
  const auto from_file = read_bytes(package);
  ASSERT_TRUE(from_pipe.has_value()) << from_pipe.error().to_string();
  ASSERT_TRUE(from_file.has_value()) << from_file.error().to_string();
  EXPECT_EQ(*from_pipe, *from_file);
  EXPECT_EQ(from_pipe->blobs.back().data, model.blobs.back().data);
}

TEST(FramingTest, FileIsClosedOnEveryPath) {
  for (const bool valid : {true, false}) {
    const std::vector<std::uint8_t> bytes =
        valid ? example_package() : std::vector<std::uint8_t>{1, 2, 3};
    const int fd = memory_file(bytes);
    static_cast<void>(Application::read(fd));
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "valid=" << valid;
    EXPECT_EQ(errno, EBADF);
  }
}

}  // namespace
}  // namespace zem

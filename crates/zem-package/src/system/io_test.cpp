#include "zem_package/io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace zem::io {
namespace {

// What opening each kind of path gives: a regular file with its size, or the
// step, the error number and the kind of file that refused it.
TEST(OpenRegularFileTest, OnlyARegularFileOpens) {
  std::string dir = ::testing::TempDir() + "zem-io-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string file = dir + "/file";
  const std::string fifo = dir + "/fifo";
  {
    const FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    ASSERT_EQ(::write(fd.get(), "12345", 5), 5);
  }
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  const auto opened = open_regular_file(file.c_str());
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->size, 5U);

  const struct {
    std::string path;
    FileError::Step step;
    int os_error;
    FileType type;
  } refused[] = {
      {dir + "/missing", FileError::Step::open, ENOENT, FileType::regular},
      {dir, FileError::Step::read, EISDIR, FileType::directory},
      {fifo, FileError::Step::read, 0, FileType::fifo},  // refused without waiting for a writer
  };
  for (const auto& c : refused) {
    const auto result = open_regular_file(c.path.c_str());
    ASSERT_FALSE(result) << c.path;
    EXPECT_EQ(result.error().step, c.step) << c.path;
    EXPECT_EQ(result.error().os_error, c.os_error) << c.path;
    EXPECT_EQ(result.error().type, c.type) << c.path;
  }
  ::unlink(file.c_str());
  ::unlink(fifo.c_str());
  ::rmdir(dir.c_str());
}

// Whether `fd` is an open descriptor of this process.
bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// A descriptor is closed exactly once, by whoever owns it last, through
// every operation the owner offers.
TEST(FileDescriptorTest, ClosesWhatItOwnsOnceThroughEveryOperation) {
  const auto open_null = [] { return FileDescriptor(::open("/dev/null", O_RDONLY)); };
  FileDescriptor first = open_null();
  FileDescriptor second = open_null();
  const int first_fd = first.get();
  const int second_fd = second.get();
  ASSERT_TRUE(is_open(first_fd) && is_open(second_fd));

  second = std::move(first);  // closes what `second` held, takes `first`'s
  EXPECT_FALSE(is_open(second_fd));
  EXPECT_EQ(second.get(), first_fd);
  EXPECT_EQ(first.get(), -1);  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_TRUE(is_open(first_fd));

  auto& alias = second;
  second = std::move(alias);  // assigning to itself keeps the descriptor
  EXPECT_EQ(second.get(), first_fd);
  EXPECT_TRUE(is_open(first_fd));

  FileDescriptor third(std::move(second));
  EXPECT_EQ(third.get(), first_fd);
  EXPECT_EQ(second.get(), -1);  // NOLINT(bugprone-use-after-move)

  {
    FileDescriptor released = open_null();
    const int fd = released.release();
    EXPECT_EQ(released.get(), -1);
    EXPECT_TRUE(is_open(fd));
    ::close(fd);
  }
  { const FileDescriptor scoped(std::move(third)); }
  EXPECT_FALSE(is_open(first_fd));  // closed when its last owner went
}

// Descriptor 0 is owned like any other: with standard input closed, the
// next file opened takes it.
TEST(FileDescriptorTest, DescriptorZeroIsClosedToo) {
  const int saved = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  for (const bool by_assignment : {false, true}) {
    ::close(STDIN_FILENO);
    ASSERT_EQ(::open("/dev/null", O_RDONLY), 0);
    {
      FileDescriptor zero(0);
      if (by_assignment) {
        zero = FileDescriptor();
        EXPECT_FALSE(is_open(0));
      }
    }
    EXPECT_FALSE(is_open(0)) << by_assignment;
  }
  if (saved >= 0) {
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
  }
}

}  // namespace
}  // namespace zem::io

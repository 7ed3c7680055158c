// The verifier against a hostile environment and hostile files: every fault is
// a clear failure with status 101 and nothing on standard output, and no file
// costs more memory than it holds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "verifier_fixture.hpp"

namespace zem::testing {
namespace {

// A hostile file may cost no more memory than a healthy run of the same
// build plus 32 MiB: a claim the verifier believed would cost gigabytes,
// while the healthy run's own size (larger under the sanitizers, whose
// shadow memory grows with the program) is not the file's doing.
class EnvironmentFaultTest : public VerifierTest {
 protected:
  [[nodiscard]] long memory_bound_kib() {
    const RunResult healthy = run({example_package(), "7", example_record()});
    EXPECT_EQ(healthy.status, 0) << healthy.err;
    return healthy.max_rss_kib + 32 * 1024;
  }
};

// The build may lie where an unprivileged user cannot go (a checkout under
// /root): a copy of the verifier, and of the shared library it loads when it
// has one, is placed in a directory that user can enter, so that only the
// permissions of the files under test decide the outcome.
class ReachableVerifier {
 public:
  ReachableVerifier() {
    namespace fs = std::filesystem;
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec |
                                     fs::perms::group_read | fs::perms::others_exec |
                                     fs::perms::others_read);
    const fs::path verifier(ZEM_VERIFIER_PATH);
    program_ = dir_.path() + "/" + verifier.filename().string();
    fs::copy_file(verifier, program_);
#ifdef ZEM_PACKAGE_SHARED_LIBRARY
    const fs::path library(ZEM_PACKAGE_SHARED_LIBRARY);
    fs::copy_file(library, dir_.path() + "/" + library.filename().string());
#endif
  }
  [[nodiscard]] const std::string& program() const { return program_; }
  // The loader finds the copied library before the build's.
  [[nodiscard]] std::vector<std::string> environment() const {
    return {"LD_LIBRARY_PATH=" + dir_.path()};
  }

 private:
  ScratchDirectory dir_;
  std::string program_;
};

TEST_F(EnvironmentFaultTest, UnreadableFilesAreRefused) {
  // Permissions do not bind root, so the run drops to an unprivileged user;
  // the test directory itself is then closed to it.
  if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  }
  const ReachableVerifier verifier;
  const std::string package = example_package();
  const std::string record = example_record();
  const std::vector<std::string> as_nobody{
      "--reuid=65534", "--regid=65534", "--clear-groups", verifier.program(), package, "7", record};
  ::chmod(directory().c_str(), 0711);  // nobody may pass through but not list
  ::chmod((directory() + "/" + package).c_str(), 0600);
  ::chmod((directory() + "/" + record).c_str(), 0644);
  // The verifier's own outputs must stay writable by the unprivileged run.
  for (const char* output : {".stdout", ".stderr"}) {
    const int fd = ::open((directory() + "/" + output).c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    ::fchmod(fd, 0666);
    ::close(fd);
  }
  const auto expect_refused = [&](const std::string& message) {
    const RunResult run =
        run_program("/usr/bin/setpriv", as_nobody,
                    RunSettings{directory(), verifier.environment(), ".stdout", {}});
    EXPECT_EQ(run.status, 101) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  };
  expect_refused("cannot open package: Permission denied (os error 13)");
  ::chmod((directory() + "/" + package).c_str(), 0644);
  ::chmod((directory() + "/" + record).c_str(), 0600);
  expect_refused("Permission denied (os error 13)");
}

TEST_F(EnvironmentFaultTest, HugeSparseRecordIsRefusedUnread) {
  const std::string package = example_package();
  const std::string record = "huge.record";
  const int fd = ::open((directory() + "/" + record).c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 40), 0);  // 1 TiB of holes
  ::close(fd);
  const RunResult run = this->run({package, "7", record});
  EXPECT_EQ(run.status, 101);
  EXPECT_NE(run.err.find("length 1099511627776 does not match expected length 40"),
            std::string::npos)
      << run.err;
  EXPECT_LT(run.max_rss_kib, memory_bound_kib());
}

// Peak memory of a run stays small, whatever the file claims.
TEST_F(EnvironmentFaultTest, MemoryStaysBoundedWhateverTheFileClaims) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> package;
    const char* outcome;  // a text of standard error or output
  };
  PackageOptions huge_size = example_options();
  huge_size.blob_encodings[0].uncompressed_size = (std::uint64_t{1} << 63) - 1;
  PackageOptions too_large = example_options();
  too_large.blob_encodings[0].uncompressed_size = std::uint64_t{1} << 63;
  PackageOptions broken_frame = huge_size;
  broken_frame.tweak = [](schema::Application::Builder root) {
    auto data = root.getBlobs()[0].getData();
    data[data.size() / 2] ^= 0xff;  // the frame no longer decodes
  };
  RawPackage amplified(build_package(example_application(), example_options()));
  const std::size_t at = amplified.root_pointer(8);
  const std::size_t tag = amplified.append(((std::uint64_t{1} << 29) - 1) << 2);
  amplified.set(at, RawPackage::list_pointer(at, tag, 7, 0));

  const Case cases[] = {
      {"framing claims 4 GiB", words_to_bytes(std::vector<std::uint32_t>{0, 0x20000000, 0, 0}),
       "needs 4294967304 bytes but the file holds 16"},
      {"uncompressed size 2^63 - 1", build_package(example_application(), huge_size),
       "status=match"},
      {"uncompressed size 2^63", build_package(example_application(), too_large),
       "exceeds the largest object size"},
      {"broken frame with uncompressed size 2^63 - 1",
       build_package(example_application(), broken_frame), "Io(Other: "},
      {"2^29 zero-sized entry points", amplified.bytes(), "Capnp(failed: "},
  };
  const std::string record = example_record();
  const long bound_kib = memory_bound_kib();
  for (const Case& c : cases) {
    const RunResult run = this->run({write("package.zpkg", c.package), "7", record});
    EXPECT_NE((run.out + run.err).find(c.outcome), std::string::npos) << c.name << ": " << run.err;
    EXPECT_LT(run.max_rss_kib, bound_kib) << c.name;
  }
}

}  // namespace
}  // namespace zem::testing

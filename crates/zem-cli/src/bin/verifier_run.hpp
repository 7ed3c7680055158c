#pragma once

// Runs the real verifier binary for tests.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "package_builder.hpp"

namespace zem::testing {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // peak resident memory of the run
};

[[noreturn]] void throw_errno(const char* what);

// Runs the verifier in `directory` with `args` passed as raw bytes, an empty
// environment and standard input from /dev/null. Standard output goes to
// `stdout_path` (relative to `directory`), standard error to a file beside it.
// `wrapper`, when given, is a command that runs the verifier (its path and
// arguments), such as one that drops privileges. A run still going after 30
// seconds is killed.
[[nodiscard]] RunResult run_verifier(const std::vector<std::string>& args,
                                     const std::string& directory,
                                     const std::string& stdout_path = ".stdout",
                                     const std::vector<std::string>& wrapper = {});

// Each test works in a fresh directory, removed with everything in it.
class VerifierTest : public ::testing::Test {
 public:
  VerifierTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zem-verifier-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw_errno("mkdtemp");
    dir_ = pattern;
  }
  VerifierTest(const VerifierTest&) = delete;
  VerifierTest& operator=(const VerifierTest&) = delete;
  ~VerifierTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes `bytes` to `name` in the test directory and returns `name`: the
  // verifier runs in that directory, so that is the path it is given.
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    zem::testing::write_file(dir_ + "/" + name, bytes);
    return name;
  }
  std::string package(const zem::Application& model, const zem::testing::PackageOptions& options,
                      const std::string& name = "package.zpkg") const {
    return write(name, zem::testing::build_package(model, options));
  }
  std::string example_package(const std::string& name = "example.zpkg") const {
    return package(zem::testing::example_application(), zem::testing::example_options(), name);
  }
  std::string example_record(const std::string& name = "device.record") const {
    return write(name, words_to_bytes(make_template_tile().record));
  }
  std::string make_directory(const std::string& name) const {
    std::filesystem::create_directory(dir_ + "/" + name);
    return name;
  }
  std::string make_fifo(const std::string& name) const {
    if (::mkfifo((dir_ + "/" + name).c_str(), 0600) != 0) throw_errno("mkfifo");
    return name;
  }
  [[nodiscard]] RunResult run(const std::vector<std::string>& args,
                              const std::string& stdout_path = ".stdout",
                              const std::vector<std::string>& wrapper = {}) const {
    return run_verifier(args, dir_, stdout_path, wrapper);
  }
  [[nodiscard]] const std::string& directory() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace zem::testing

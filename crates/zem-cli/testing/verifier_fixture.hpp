#pragma once

// A test fixture that runs the real verifier binary in a fresh directory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "package_builder.hpp"
#include "program_run.hpp"

namespace zem::testing {

using RunResult = ProgramRun;

// Each test works in a fresh directory, removed with everything in it.
class VerifierTest : public ::testing::Test {
 public:
  // Writes `bytes` to `name` in the test directory and returns `name`: the
  // verifier runs in that directory, so that is the path it is given.
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    return dir_.write(name, bytes);
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
    std::filesystem::create_directory(directory() + "/" + name);
    return name;
  }
  std::string make_fifo(const std::string& name) const {
    if (::mkfifo((directory() + "/" + name).c_str(), 0600) != 0) {
      throw std::system_error(errno, std::generic_category(), "mkfifo");
    }
    return name;
  }
  // Runs the verifier with `args` as raw bytes and `environment` as its only
  // environment. Standard output goes to `stdout_path`, relative to the
  // test directory or absolute; `wrapper` is a command that runs the
  // verifier, such as one that drops privileges.
  [[nodiscard]] RunResult run(const std::vector<std::string>& args,
                              const std::string& stdout_path = ".stdout",
                              const std::vector<std::string>& wrapper = {},
                              const std::vector<std::string>& environment = {}) const {
    return run_program(ZEM_VERIFIER_PATH, args,
                       RunSettings{directory(), environment, stdout_path, wrapper});
  }
  [[nodiscard]] const std::string& directory() const { return dir_.path(); }

 private:
  ScratchDirectory dir_;
};

}  // namespace zem::testing

#pragma once

// Runs the tools' real binaries for tests: one way to start a program and
// collect its exit status, output and peak memory.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zem::testing {

struct ProgramRun {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // peak resident memory of the run
};

struct RunSettings {
  // The working directory of the run.
  std::string directory = ".";
  // "NAME=value" entries; the run gets no other environment.
  std::vector<std::string> environment;
  // Where standard output goes instead of being captured: a path relative to
  // `directory` (read back afterwards) or an absolute one (a device, say).
  std::optional<std::string> stdout_path;
  // A command that runs the program (its path and arguments), such as one
  // that drops privileges.
  std::vector<std::string> wrapper;
  // Standard error on a pseudo-terminal instead of a file, for what a
  // program shows only on a terminal: `err` is then what the terminal got,
  // each newline as the terminal sends it back ("\r\n").
  bool stderr_on_terminal = false;
};

// Runs `program` with `args` passed as raw bytes and standard input from
// /dev/null. A run still going after 30 seconds is killed, and then fails.
[[nodiscard]] ProgramRun run_program(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const RunSettings& settings = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();

  [[nodiscard]] const std::string& path() const { return path_; }
  // Writes `bytes` to `name` in the directory and returns `name`.
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const;

 private:
  std::string path_;
};

}  // namespace zem::testing

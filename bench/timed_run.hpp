#pragma once

// Runs a program as a child process and measures it from the outside.

#include <sys/types.h>

#include <string>
#include <vector>

namespace zem::bench {

struct TimedRun {
  int status = -1;            // exit status, or 128 + the signal that ended it
  double seconds = 0;         // wall time from the spawn to the child's end
  double user_seconds = 0;    // processor time in the child's own code and libraries
  double system_seconds = 0;  // processor time in the kernel on the child's behalf
  long peak_rss_kib = 0;      // the child's peak resident memory
};

// Starts programs from a small helper process and reports on them.
//
// The kernel counts a process's peak resident memory across exec: a child
// started from a process that holds hundreds of MiB would report at least
// that much. So the launcher is forked before the benchmark takes any memory,
// and every measured program is started from it.
class Launcher {
 public:
  // Forks the helper; call before allocating anything large.
  Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;
  ~Launcher();

  // Runs `argv` (program path first) with `environment` ("NAME=value"
  // entries, none by default), standard input from /dev/null and standard
  // output and error written to the files `out_path` and `err_path`, and
  // waits for it. Throws std::runtime_error when the program cannot be
  // started.
  [[nodiscard]] TimedRun run(const std::vector<std::string>& argv, const std::string& out_path,
                             const std::string& err_path,
                             const std::vector<std::string>& environment = {});

 private:
  pid_t pid_ = -1;
  int requests_ = -1;  // to the helper
  int replies_ = -1;   // from the helper
};

}  // namespace zem::bench

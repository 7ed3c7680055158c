#include "verifier_run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace zem::testing {
namespace {

// A run that hangs (on a FIFO, say) is killed after this long and fails.
constexpr auto run_timeout = std::chrono::seconds(30);

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return std::move(contents).str();
}

}  // namespace

void throw_errno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

RunResult run_verifier(const std::vector<std::string>& args, const std::string& directory,
                       const std::string& stdout_path, const std::vector<std::string>& wrapper) {
  std::vector<std::string> storage = wrapper;
  storage.emplace_back(ZEM_VERIFIER_PATH);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  char* environment[] = {nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  constexpr int create = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), create, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, ".stderr", create, 0600);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, storage[0].c_str(), &actions, nullptr, argv.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");

  int wait_status = 0;
  struct rusage usage {};
  const auto deadline = std::chrono::steady_clock::now() + run_timeout;
  for (;;) {
    const pid_t done = ::wait4(pid, &wait_status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw_errno("wait4");
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  RunResult run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.max_rss_kib = usage.ru_maxrss;
  // Output sent to a device by absolute path is gone; only a file here is read.
  if (!stdout_path.starts_with('/')) run.out = read_file(directory + "/" + stdout_path);
  run.err = read_file(directory + "/.stderr");
  return run;
}

}  // namespace zem::testing

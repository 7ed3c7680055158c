#include "program_run.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include "package_builder.hpp"

namespace zem::testing {
namespace {

// A run that hangs (on a FIFO, say) is killed after this long and fails.
constexpr auto run_timeout = std::chrono::seconds(30);

[[noreturn]] void throw_errno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// An anonymous file that receives one of the child's output streams.
class Capture {
 public:
  explicit Capture(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) throw_errno("memfd_create");
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  ~Capture() { ::close(fd_); }
  [[nodiscard]] int fd() const { return fd_; }

  [[nodiscard]] std::string contents() const {
    std::string text;
    char buffer[4096];
    for (off_t offset = 0;;) {
      const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw_errno("pread");
      if (n == 0) return text;
      text.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
  }

 private:
  int fd_;
};

// A pseudo-terminal: the program writes to its far end, and what it shows
// is read here as it comes, so that the program never waits on a full
// terminal.
class Terminal {
 public:
  Terminal() {
    if (::openpty(&near_, &far_, nullptr, nullptr, nullptr) != 0) throw_errno("openpty");
    // Neither end stays open in the program past the one it is given.
    ::fcntl(near_, F_SETFD, FD_CLOEXEC);
    ::fcntl(far_, F_SETFD, FD_CLOEXEC);
    ::fcntl(near_, F_SETFL, ::fcntl(near_, F_GETFL) | O_NONBLOCK);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal() {
    ::close(near_);
    close_far();
  }
  [[nodiscard]] int far() const { return far_; }
  // Once the program has it, only the program holds the far end: when the
  // program ends, reading the near end then finds its end.
  void close_far() {
    if (far_ >= 0) ::close(far_);
    far_ = -1;
  }
  // Takes in what the terminal holds now.
  void drain() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(near_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // nothing more now (EAGAIN), or the far end is closed (EIO)
      shown_.append(buffer, static_cast<std::size_t>(n));
    }
  }
  [[nodiscard]] const std::string& shown() const { return shown_; }

 private:
  int near_ = -1;
  int far_ = -1;
  std::string shown_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return std::move(contents).str();
}

}  // namespace

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       const RunSettings& settings) {
  std::vector<std::string> storage = settings.wrapper;
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = settings.environment;
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);

  const Capture out("stdout");
  const Capture err("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, settings.directory.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (settings.stdout_path) {
    posix_spawn_file_actions_addopen(&actions, 1, settings.stdout_path->c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out.fd(), 1);
  }
  std::optional<Terminal> terminal;
  if (settings.stderr_on_terminal) terminal.emplace();
  posix_spawn_file_actions_adddup2(&actions, terminal ? terminal->far() : err.fd(), 2);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, storage[0].c_str(), &actions, nullptr, argv.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");
  if (terminal) terminal->close_far();

  int wait_status = 0;
  struct rusage usage {};
  const auto deadline = std::chrono::steady_clock::now() + run_timeout;
  for (;;) {
    const pid_t done = ::wait4(pid, &wait_status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw_errno("wait4");
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
    if (terminal) terminal->drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ProgramRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.max_rss_kib = usage.ru_maxrss;
  if (!settings.stdout_path) {
    run.out = out.contents();
  } else if (!settings.stdout_path->starts_with('/')) {
    // Output sent to a device by absolute path is gone; only a file is read.
    run.out = read_file(settings.directory + "/" + *settings.stdout_path);
  }
  if (terminal) {
    terminal->drain();
    run.err = terminal->shown();
  } else {
    run.err = err.contents();
  }
  return run;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zem-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw_errno("mkdtemp");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDirectory::write(const std::string& name,
                                    std::span<const std::uint8_t> bytes) const {
  write_file(path_ + "/" + name, bytes);
  return name;
}

}  // namespace zem::testing

#include "timed_run.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace zem::bench {
namespace {

// A request is three lists of strings, each the count of strings and then
// each string's length and bytes: argv, the two output paths, and the
// environment. A reply is a `Reply`.
struct Reply {
  int spawn_error = 0;  // errno of a failed spawn, else 0
  TimedRun run;
};

bool write_all(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool read_all(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_strings(int fd, const std::vector<std::string>& strings) {
  const std::uint64_t count = strings.size();
  if (!write_all(fd, &count, sizeof count)) return false;
  for (const std::string& s : strings) {
    const std::uint64_t length = s.size();
    if (!write_all(fd, &length, sizeof length) || !write_all(fd, s.data(), s.size())) return false;
  }
  return true;
}

bool read_strings(int fd, std::vector<std::string>& strings) {
  std::uint64_t count = 0;
  if (!read_all(fd, &count, sizeof count)) return false;
  strings.assign(count, {});
  for (std::string& s : strings) {
    std::uint64_t length = 0;
    if (!read_all(fd, &length, sizeof length)) return false;
    s.resize(length);
    if (!read_all(fd, s.data(), s.size())) return false;
  }
  return true;
}

double seconds_of(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

Reply spawn_and_wait(std::vector<std::string>& arguments, const std::string& out_path,
                     const std::string& err_path, std::vector<std::string>& variables) {
  Reply reply;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  constexpr int create = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), create, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), create, 0600);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  reply.spawn_error =
      ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (reply.spawn_error != 0) return reply;

  int wait_status = 0;
  struct rusage usage {};
  while (::wait4(pid, &wait_status, 0, &usage) < 0) {
    if (errno != EINTR) {
      reply.spawn_error = errno;
      return reply;
    }
  }
  const auto end = std::chrono::steady_clock::now();
  reply.run.status =
      WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  reply.run.seconds = std::chrono::duration<double>(end - start).count();
  reply.run.user_seconds = seconds_of(usage.ru_utime);
  reply.run.system_seconds = seconds_of(usage.ru_stime);
  reply.run.peak_rss_kib = usage.ru_maxrss;
  return reply;
}

// The helper's life: one reply per request until the benchmark closes the
// pipe.
[[noreturn]] void serve(int requests, int replies) {
  std::vector<std::string> arguments;
  std::vector<std::string> paths;
  std::vector<std::string> environment;
  while (read_strings(requests, arguments) && read_strings(requests, paths) &&
         read_strings(requests, environment) && !arguments.empty() && paths.size() == 2) {
    const Reply reply = spawn_and_wait(arguments, paths[0], paths[1], environment);
    if (!write_all(replies, &reply, sizeof reply)) break;
  }
  std::_Exit(0);
}

}  // namespace

Launcher::Launcher() {
  int to_helper[2];
  int from_helper[2];
  if (::pipe2(to_helper, O_CLOEXEC) != 0 || ::pipe2(from_helper, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  pid_ = ::fork();
  if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid_ == 0) {
    ::close(to_helper[1]);
    ::close(from_helper[0]);
    serve(to_helper[0], from_helper[1]);
  }
  ::close(to_helper[0]);
  ::close(from_helper[1]);
  requests_ = to_helper[1];
  replies_ = from_helper[0];
}

Launcher::~Launcher() {
  ::close(requests_);
  ::close(replies_);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

TimedRun Launcher::run(const std::vector<std::string>& argv, const std::string& out_path,
                       const std::string& err_path, const std::vector<std::string>& environment) {
  Reply reply;
  if (!write_strings(requests_, argv) || !write_strings(requests_, {out_path, err_path}) ||
      !write_strings(requests_, environment) || !read_all(replies_, &reply, sizeof reply)) {
    throw std::runtime_error("the launcher process is gone");
  }
  if (reply.spawn_error != 0) {
    throw std::runtime_error("cannot run " + argv.at(0) + ": " + std::strerror(reply.spawn_error));
  }
  return reply.run;
}

}  // namespace zem::bench

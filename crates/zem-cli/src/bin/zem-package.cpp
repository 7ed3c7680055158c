// zem-package SUBCOMMAND ...
//
// A toolkit for application packages: `inspect` shows what a package holds,
// `check` reads and checks packages stage by stage, `compare` shows what
// differs between two packages, `extract` writes a tile's memory image or a
// blob's bytes, `diff` compares a device record with a tile's patched
// template word by word, and `template` shows template setups and the record
// a tile expects. Run with --help for the details.
//
// Exit status: 0 success, 1 an invalid package (inspect, check), a differing
// record (diff) or differing packages (compare), 2 any other failure,
// reported as one line on standard error.

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <span>
#include <variant>

#include "common/thread_count.hpp"
#include "toolkit/command_line.hpp"
#include "toolkit/commands.hpp"
#include "toolkit/tool_error.hpp"

namespace {

namespace tk = zem::toolkit;

// The tool's one failure path: one line on standard error, status 2.
int fail(const tk::Failure& error) {
  tk::report(error);
  return tk::to_int(tk::ExitStatus::failure);
}

// Runs the subcommand. Those that read a package check its blobs on the
// threads that ZEM_THREADS or the processors allow.
struct Dispatch {
  tk::Outcome<tk::ExitStatus> operator()(const tk::Information& information) const {
    fmt::print(stdout, "{}", information.text);
    return tk::ExitStatus::success;
  }
  template <class Options, class Run>
  static tk::Outcome<tk::ExitStatus> reading(const Options& options, Run run) {
    ZEM_ASSIGN_OR_RETURN(const unsigned threads,
                         zem::cli::thread_count(std::getenv("ZEM_THREADS")));
    return run(options, zem::ReadOptions{threads});
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::InspectOptions& options) const {
    return reading(options, tk::run_inspect);
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::CheckOptions& options) const {
    return reading(options, tk::run_check);
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::CompareOptions& options) const {
    return reading(options, tk::run_compare);
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::ExtractOptions& options) const {
    return reading(options, tk::run_extract);
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::DiffOptions& options) const {
    return reading(options, tk::run_diff);
  }
  tk::Outcome<tk::ExitStatus> operator()(const tk::TemplateOptions& options) const {
    return reading(options, tk::run_template);
  }
};

int run(std::span<char* const> arguments) {
  const tk::Outcome<tk::Invocation> invocation = tk::parse_command_line(arguments);
  if (!invocation) return fail(invocation.error());
  const tk::Outcome<tk::ExitStatus> status = std::visit(Dispatch{}, *invocation);
  if (!status) return fail(status.error());
  // Output that could not be written is no success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return fail(tk::Failure{"cannot write to standard output"});
  }
  return tk::to_int(*status);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run({argv, static_cast<std::size_t>(argc > 0 ? argc : 0)});
  } catch (const std::bad_alloc&) {
    return fail(tk::Failure{"out of memory"});
  } catch (const std::exception& e) {
    return fail(tk::Failure{e.what()});
  }
}

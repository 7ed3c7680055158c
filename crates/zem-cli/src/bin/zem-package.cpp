// zem-package SUBCOMMAND ...
//
// A toolkit for application packages, which reads and writes them. Its
// subcommands:
//
//   inspect   what a package holds, as far as it can be read
//   check     packages read and checked, one line per stage
//   compare   what differs between two packages
//   extract   a tile's memory image or a blob's bytes
//   diff      a device record against a tile's patched template, explained
//   template  template setups, or the record a tile expects
//   verify    every tile of devices against a package
//   report    verify documents of a fleet merged into one report
//   map       pictures of a package's tiles and a tile's memory
//   unpack    a package as a manifest and a file per blob
//   pack      a package built from such a directory
//   repack    a package with its blobs stored another way
//
// They are the table that CMake makes from ZEM_PACKAGE_SUBCOMMANDS (one file
// each in toolkit/commands/), from which the help, the man page and the
// shell completion come too; a test holds this list to the table.
// `zem-package SUBCOMMAND --help` says more, and what each exit status
// means; any failure is one line on standard error, status 2.

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <span>
#include <variant>

#include "common/thread_count.hpp"
#include "toolkit/command_line/command_line.hpp"
#include "toolkit/memory_reuse.hpp"
#include "toolkit/tool_error.hpp"

namespace {

namespace tk = zem::toolkit;

// The tool's one failure path: one line on standard error, status 2.
int fail(const tk::Failure& error) {
  tk::report(error);
  return tk::to_int(tk::ExitStatus::failure);
}

// Runs what the arguments ask for: the information, or the subcommand, on the
// threads that ZEM_THREADS or the processors allow.
tk::Outcome<tk::ExitStatus> run_invocation(const tk::Invocation& invocation) {
  if (const auto* information = std::get_if<tk::Information>(&invocation)) {
    fmt::print(stdout, "{}", information->text);
    return tk::ExitStatus::success;
  }
  ZEM_ASSIGN_OR_RETURN(const unsigned threads, zem::cli::thread_count(std::getenv("ZEM_THREADS")));
  return std::get<tk::SubcommandRun>(invocation)(threads);
}

int run(std::span<const char* const> arguments) {
  const tk::Outcome<tk::Invocation> invocation = tk::parse_command_line(arguments);
  if (!invocation) return fail(invocation.error());
  const tk::Outcome<tk::ExitStatus> status = run_invocation(*invocation);
  if (!status) return fail(status.error());
  // Output that could not be written is no success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return fail(tk::Failure{"cannot write to standard output"});
  }
  return tk::to_int(*status);
}

}  // namespace

int main(int argc, char** argv) {
  tk::reuse_freed_memory();
  try {
    const char* const* arguments = argv;
    return run({arguments, static_cast<std::size_t>(argc > 0 ? argc : 0)});
  } catch (const std::bad_alloc&) {
    return fail(tk::Failure{"out of memory"});
  } catch (const std::exception& e) {
    return fail(tk::Failure{e.what()});
  }
}

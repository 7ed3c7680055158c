// zem-package-template-record PACKAGE TILE RECORD
//
// Rebuilds one tile's memory image from an application package, finds the
// template setup in it, patches the template words and compares them with a
// device record. Prints one line on standard output when the record matches;
// any failure is reported on standard error with exit status 101.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "common/setup_line.hpp"
#include "common/thread_count.hpp"
#include "template_record/failure.hpp"
#include "template_record/stage_failures.hpp"
#include "template_record/tile_number.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/package.hpp"

namespace {

namespace tr = zem::template_record;
using tr::Failure;
using tr::Outcome;

constexpr int failure_status = 101;

// The run's one failure path: the message on standard error, nothing on
// standard output, exit status 101.
[[noreturn]] void fail(const Failure& failure) {
  std::fflush(stdout);
  fmt::print(stderr, "zem-package-template-record: {}\n", failure.message);
  std::fflush(stderr);
  std::_Exit(failure_status);
}

// The value of a stage, or the end of the run with its failure.
template <class T>
T take(Outcome<T> outcome) {
  if (!outcome) {
    fail(outcome.error());
  }
  return std::move(*outcome);
}

struct Arguments {
  const char* package;
  std::uint32_t physical_tile;
  const char* record;
};

// Paths are used as the raw bytes the system gave; only the tile number must
// be text.
Outcome<Arguments> parse_arguments(std::span<char*> arguments) {
  auto next = [&, index = std::size_t{1}]() mutable -> const char* {
    return index < arguments.size() ? arguments[index++] : nullptr;
  };
  const char* package = next();
  if (package == nullptr) return std::unexpected(Failure{"missing package"});
  const char* tile = next();
  if (tile == nullptr) return std::unexpected(Failure{"missing physical tile"});
  auto tile_text = tr::physical_tile_text(tile);
  if (!tile_text) return std::unexpected(std::move(tile_text).error());
  auto physical_tile = tr::parse_physical_tile(*tile_text);
  if (!physical_tile) return std::unexpected(std::move(physical_tile).error());
  const char* record = next();
  if (record == nullptr) return std::unexpected(Failure{"missing device record"});
  if (next() != nullptr) {
    return std::unexpected(Failure{"assertion failed: arguments.next().is_none()"});
  }
  return Arguments{package, *physical_tile, record};
}

// Prints the success line; a line that cannot be written is no success.
Outcome<int> report_match(const std::string& line) {
  fmt::print(stdout, "{}\n", line);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return std::unexpected(tr::os_error("cannot write to standard output", errno));
  }
  return 0;
}

int run(std::span<char*> argv) {
  const Arguments arguments = take(parse_arguments(argv));
  const unsigned threads = take(zem::cli::thread_count(std::getenv("ZEM_THREADS")));
  const zem::Package package = take(tr::read_package(arguments.package, threads));
  const zem::TileMemory tile = take(tr::tile_memory(package, arguments.physical_tile));

  const zem::TemplateSetup setup = take(tr::template_setup(tile));
  fmt::print(stderr, "{}\n", zem::cli::template_setup_line(arguments.physical_tile, setup));

  const zem::ExpectedRecord expected = take(tr::expected_record(tile, setup));
  const zem::DeviceRecord record =
      take(tr::read_record(arguments.record, std::uint64_t{expected.size()} * 4));
  return take(report_match(take(tr::compare_record(expected, record))));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run({argv, static_cast<std::size_t>(argc > 0 ? argc : 0)});
  } catch (const std::bad_alloc&) {
    fail(Failure{"out of memory"});
  } catch (const std::exception& e) {
    fail(Failure{e.what()});
  }
}

// Writing packages against reading them: `zem-package repack` and `unpack`
// against `zem-package check` of the same package, and `repack --zstd 3`
// against the zstd tool compressing the same blob contents as one file.
//
//   zem_write_bench [--tiles N] [--rounds K] [--pause SECONDS] [--seed S]
//                   [--toolkit PATH] [--zstd PATH]
//
// It generates the package of N tiles (1,024), writes every blob's
// contents, in table order, as one file beside it, then alternates K rounds
// (at least 11), each run a whole process after a pause of SECONDS (0):
// `check`, `repack --keep`, `repack --zstd 3`, `zstd -3 -T2` over the
// contents file, `unpack` into a fresh directory, and `pack` of what was
// unpacked (reported, no target). Targets: `repack --keep` and `unpack` at
// most 1.5 times the check's median, `repack --zstd 3` at most 1.2 times
// zstd's, and the peak memory of `repack`, `unpack` and `pack` at most the
// package file plus the largest blob's contents plus 64 MiB. It also gives
// each run's processor time, and the wall time that the check's and zstd's
// processor time together would take shared out perfectly over this
// machine's processors: what a repack that checks what it reads costs at
// the least, if it compresses no faster than zstd. Exit status 0
// when every target is met, 1 when one is missed, 2 on bad arguments, 3 when
// a run fails.

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_options.hpp"
#include "large_package.hpp"
#include "machine.hpp"
#include "package_builder.hpp"
#include "package_reads.hpp"
#include "run_statistics.hpp"
#include "timed_run.hpp"
#include "workspace.hpp"

namespace {

using namespace zem::bench;
namespace fs = std::filesystem;

constexpr double keep_target = 1.5;
constexpr double zstd_target = 1.2;
constexpr double unpack_target = 1.5;
constexpr std::uint64_t memory_allowance = 64ULL << 20U;
constexpr std::uint64_t min_rounds = 11;

constexpr std::string_view option_names[] = {"tiles", "rounds", "pause", "seed", "toolkit", "zstd"};

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct Inputs {
  std::string package;
  std::string contents;  // every blob's contents, one after the other
  std::uint64_t file_bytes = 0;
  std::uint64_t contents_bytes = 0;
  std::uint64_t largest_blob = 0;
};

Inputs generate(const LargePackageOptions& options, const Workspace& workspace) {
  const LargePackage large = make_large_package(options);
  Inputs inputs{workspace.file("large.zpkg"), workspace.file("contents.bin"), large.package.size()};
  zem::testing::write_file(inputs.package, large.package);
  const auto checked = zem::testing::read_checked(large.package);
  if (!checked) throw std::runtime_error("the generated package does not read");
  std::ofstream out(inputs.contents, std::ios::binary);
  for (std::size_t i = 0; i < checked->model().blobs.size(); ++i) {
    auto contents = checked->blob_contents(i);
    if (!contents) throw std::runtime_error("a generated blob does not decompress");
    out.write(reinterpret_cast<const char*>(contents->data()),
              static_cast<std::streamsize>(contents->size()));
    inputs.contents_bytes += contents->size();
    inputs.largest_blob = std::max<std::uint64_t>(inputs.largest_blob, contents->size());
  }
  if (!out) throw std::runtime_error("cannot write " + inputs.contents);
  return inputs;
}

class Bench {
 public:
  Bench(Launcher& launcher, std::string toolkit, std::string zstd, unsigned pause,
        const Workspace& workspace)
      : launcher_(launcher),
        toolkit_(std::move(toolkit)),
        zstd_(std::move(zstd)),
        pause_(pause),
        workspace_(workspace),
        out_(workspace.file("run.out")),
        err_(workspace.file("run.err")) {}

  bool measure(const Inputs& inputs, std::uint64_t rounds) {
    const std::string repacked = workspace_.file("repacked.zpkg");
    const std::string unpacked = workspace_.file("unpacked");
    const struct {
      std::string name;
      std::vector<std::string> argv;
      bool memory_bound;  // held to the writing's memory bound
    } runs[] = {
        {"check", {toolkit_, "check", inputs.package}, false},
        {"repack --keep", {toolkit_, "repack", inputs.package, "-o", repacked, "--force"}, true},
        {"repack --zstd 3",
         {toolkit_, "repack", inputs.package, "-o", repacked, "--force", "--zstd", "3"},
         true},
        {"zstd -3 -T2",
         {zstd_, "-q", "-f", "-3", "-T2", inputs.contents, "-o", workspace_.file("contents.zst")},
         false},
        {"unpack", {toolkit_, "unpack", inputs.package, unpacked}, true},
        {"pack", {toolkit_, "pack", unpacked, "-o", repacked, "--force"}, true},
    };
    constexpr std::size_t run_count = std::size(runs);
    std::vector<std::vector<double>> seconds(run_count);
    std::vector<std::vector<double>> processor_seconds(run_count);  // user and system
    std::vector<long> peak_kib(run_count, 0);
    for (std::uint64_t round = 0; round <= rounds; ++round) {
      std::string line = fmt::format("round {}:", round);
      for (std::size_t r = 0; r < run_count; ++r) {
        // Unpacking needs a directory that is not there yet; making room
        // is not timed.
        if (runs[r].name == "unpack") fs::remove_all(unpacked);
        if (pause_ > 0) ::sleep(pause_);
        const TimedRun run = timed(runs[r].argv);
        line += fmt::format(" {} {:.1f} ms;", runs[r].name, run.seconds * 1e3);
        // Round 0 warms the page cache and is not counted.
        if (round == 0) continue;
        seconds[r].push_back(run.seconds);
        processor_seconds[r].push_back(run.user_seconds + run.system_seconds);
        peak_kib[r] = std::max(peak_kib[r], run.peak_rss_kib);
      }
      fmt::print("{}{}\n", line, round == 0 ? " (untimed)" : "");
      std::fflush(stdout);
    }
    std::vector<Spread> spread;
    std::vector<double> processor;  // median processor time of each run
    for (std::size_t r = 0; r < run_count; ++r) {
      spread.push_back(spread_of(seconds[r]));
      processor.push_back(spread_of(processor_seconds[r]).median);
      fmt::print("{}: {}; processor time {:.1f} ms; peak RSS {:.1f} MiB\n", runs[r].name,
                 spread_text(spread.back()), processor.back() * 1e3,
                 mib(static_cast<std::uint64_t>(peak_kib[r]) * 1024));
    }
    // A repack that checks what it reads does the check's work and a
    // compression's, which zstd's run measures; spread perfectly over every
    // processor, that work alone takes this long.
    const unsigned processors = tool_threads();
    const double check_and_zstd = (processor[0] + processor[3]) / processors;
    fmt::print(
        "repack --zstd 3 used {:.1f} ms of processor time; check and zstd {:.1f} together, shared "
        "out perfectly over {} processors, take {:.1f} ms, {:.3f} times zstd\n",
        processor[2] * 1e3, (processor[0] + processor[3]) * 1e3, processors, check_and_zstd * 1e3,
        check_and_zstd / spread[3].median);
    fmt::print("unpack used {:.1f} ms of processor time more than the check: its files\n",
               (processor[4] - processor[0]) * 1e3);
    bool met = true;
    const auto target = [&](std::string_view what, double ratio, double bound) {
      const bool ok = ratio <= bound;
      met = met && ok;
      fmt::print("{}: {:.3f} (target at most {:.1f}): {}\n", what, ratio, bound,
                 ok ? "met" : "MISSED");
    };
    target("repack --keep / check", spread[1].median / spread[0].median, keep_target);
    target("repack --zstd 3 / zstd -3 -T2", spread[2].median / spread[3].median, zstd_target);
    target("unpack / check", spread[4].median / spread[0].median, unpack_target);
    const std::uint64_t bound = inputs.file_bytes + inputs.largest_blob + memory_allowance;
    for (std::size_t r = 0; r < run_count; ++r) {
      if (!runs[r].memory_bound) continue;
      const std::uint64_t peak = static_cast<std::uint64_t>(peak_kib[r]) * 1024;
      const bool ok = peak <= bound;
      met = met && ok;
      fmt::print(
          "peak RSS of {}: {:.1f} MiB (bound: file {:.1f} + largest blob {:.1f} + 64 MiB = "
          "{:.1f} MiB): {}\n",
          runs[r].name, mib(peak), mib(inputs.file_bytes), mib(inputs.largest_blob), mib(bound),
          ok ? "met" : "MISSED");
    }
    return met;
  }

 private:
  TimedRun timed(const std::vector<std::string>& argv) {
    const TimedRun run = launcher_.run(argv, out_, err_);
    if (run.status != 0) {
      throw std::runtime_error(fmt::format("{} {} ended with status {}", argv[0],
                                           argv.size() > 1 ? argv[1] : "", run.status));
    }
    return run;
  }

  Launcher& launcher_;
  std::string toolkit_;
  std::string zstd_;
  unsigned pause_;
  const Workspace& workspace_;
  std::string out_;
  std::string err_;
};

int run(std::span<char* const> arguments) {
  // First, while this process is still small: see `Launcher`.
  Launcher launcher;
  const CommandOptions options = CommandOptions::parse(arguments, option_names);
  if (!options.positional.empty()) {
    throw std::invalid_argument("unexpected argument " + options.positional[0]);
  }
  const std::uint64_t rounds = options.number("rounds", min_rounds, 1000);
  if (rounds < min_rounds) {
    throw std::invalid_argument(fmt::format("--rounds must be at least {}", min_rounds));
  }
  const auto pause = static_cast<unsigned>(options.number("pause", 0, 60));
  const std::string toolkit = options.text("toolkit").value_or(ZEM_TOOLKIT_PATH);
  const std::string zstd = options.text("zstd").value_or("/usr/bin/zstd");
  if (!fs::exists(zstd)) {
    throw std::invalid_argument(zstd + " is missing: install Debian's zstd, or give --zstd PATH");
  }
  LargePackageOptions package;
  package.tiles = static_cast<std::uint32_t>(options.number("tiles", 1024, 65536));
  package.seed = options.number("seed", 1, UINT64_MAX);

  fmt::print("machine: {}\nlibraries: {}\nload average before: {}\n", describe_machine(),
             describe_libraries(), load_average());
  const Workspace workspace("zem-write");
  const Inputs inputs = generate(package, workspace);
  fmt::print("{} tiles: package {:.1f} MiB, blob contents {:.1f} MiB, largest blob {:.1f} MiB\n",
             package.tiles, mib(inputs.file_bytes), mib(inputs.contents_bytes),
             mib(inputs.largest_blob));
  Bench bench(launcher, toolkit, zstd, pause, workspace);
  const bool met = bench.measure(inputs, rounds);
  fmt::print("\nload average after: {}\n", load_average());
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return zem::bench::run_tool("zem_write_bench", argc, argv, run); }

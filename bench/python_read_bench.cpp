// Reading a package from Python against checking it with the toolkit, both
// as whole processes.
//
//   zem_python_read_bench [--tiles N] [--rounds K] [--seed S]
//                         [--python PATH] [--module-dir DIR] [--toolkit PATH]
//
// Generates the benchmark package (256 tiles unless --tiles) under the
// system's temporary directory, then alternates K rounds (at least 11) of:
// `zem-package check PACKAGE`; the Python interpreter running
// `zem_package.read(PACKAGE)`, the module found through PYTHONPATH; and the
// same interpreter importing the module and doing nothing else, to show what
// starting Python costs. Target: the read's median at most 1.1 times the
// check's. Exit status 0 when it is met, 1 when it is missed, 2 on bad
// arguments, 3 when a run fails.

#include <fmt/format.h>

#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_options.hpp"
#include "large_package.hpp"
#include "machine.hpp"
#include "package_builder.hpp"
#include "run_statistics.hpp"
#include "timed_run.hpp"
#include "workspace.hpp"

namespace {

using namespace zem::bench;

constexpr double read_target = 1.1;
constexpr std::uint64_t min_rounds = 11;

constexpr std::string_view option_names[] = {"tiles",  "rounds",     "seed",
                                             "python", "module-dir", "toolkit"};

class Bench {
 public:
  Bench(Launcher& launcher, const Workspace& workspace, std::string module_dir)
      : launcher_(launcher),
        out_(workspace.file("run.out")),
        err_(workspace.file("run.err")),
        environment_{"PYTHONPATH=" + std::move(module_dir)} {}

  TimedRun timed(const std::vector<std::string>& argv) {
    const TimedRun run = launcher_.run(argv, out_, err_, environment_);
    if (run.status != 0) {
      throw std::runtime_error(fmt::format("{} ended with status {}", argv[0], run.status));
    }
    return run;
  }

 private:
  Launcher& launcher_;
  std::string out_;
  std::string err_;
  std::vector<std::string> environment_;
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
  const std::string python = options.text("python").value_or(ZEM_PYTHON_PATH);
  const std::string module_dir = options.text("module-dir").value_or(ZEM_PYTHON_MODULE_DIR);
  const std::string toolkit = options.text("toolkit").value_or(ZEM_TOOLKIT_PATH);

  LargePackageOptions package_options;
  package_options.tiles = static_cast<std::uint32_t>(options.number("tiles", 256, 65536));
  package_options.seed = options.number("seed", 1, UINT64_MAX);

  fmt::print("machine: {}\nlibraries: {}\nload average before: {}\n", describe_machine(),
             describe_libraries(), load_average());
  fmt::print("python: {}\nmodule: {}\ntoolkit: {}\n", python, module_dir, toolkit);
  const Workspace workspace("zem-python-read");
  const std::string package = workspace.file("large.zpkg");
  {
    const LargePackage large = make_large_package(package_options);
    zem::testing::write_file(package, large.package);
    fmt::print("package: {} tiles, {} bytes\n", package_options.tiles, large.package.size());
  }
  std::fflush(stdout);

  Bench bench(launcher, workspace, module_dir);
  const std::vector<std::string> check{toolkit, "check", package};
  const std::vector<std::string> read{
      python, "-c", "import sys, zem_package; zem_package.read(sys.argv[1])", package};
  const std::vector<std::string> start{python, "-c", "import zem_package"};
  // One untimed round warms the page cache.
  for (const auto* argv : {&check, &read, &start}) static_cast<void>(bench.timed(*argv));

  std::vector<double> checks;
  std::vector<double> reads;
  std::vector<double> starts;
  for (std::uint64_t round = 1; round <= rounds; ++round) {
    checks.push_back(bench.timed(check).seconds);
    reads.push_back(bench.timed(read).seconds);
    starts.push_back(bench.timed(start).seconds);
    fmt::print("round {}: check {:.1f} ms; Python read {:.1f} ms; Python start {:.1f} ms\n", round,
               checks.back() * 1e3, reads.back() * 1e3, starts.back() * 1e3);
    std::fflush(stdout);
  }
  const Spread c = spread_of(checks);
  const Spread r = spread_of(reads);
  fmt::print("zem-package check: {}\n", spread_text(c));
  fmt::print("zem_package.read: {}\n", spread_text(r));
  fmt::print("Python and the import alone: {}\n", spread_text(spread_of(starts)));
  const double ratio = r.median / c.median;
  const bool met = ratio <= read_target;
  fmt::print("read / check: {:.3f} (target at most {:.1f}): {}\n", ratio, read_target,
             met ? "met" : "MISSED");
  fmt::print("load average after: {}\n", load_average());
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem_python_read_bench", argc, argv, run);
}

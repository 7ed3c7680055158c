// Checking a whole device, and many devices, against one package in one run,
// against the verifier on one tile of the same package and against the
// floor of reading the devices' record files.
//
//   zem_verify_bench [--tiles N] [--rounds K] [--devices D] [--seed S]
//                    [--verifier PATH] [--toolkit PATH] [--floor PATH]
//
// For 256 and 1,024 tiles (or N), and for the two layouts of a device where
// every tile holds a template and expects its own record (tiles with large
// blobs of their own; tiles that share one program and keep their data in
// blobs of their own), it generates the package and every tile's record
// under the system's temporary directory, then alternates K rounds (at least
// 11) of: the verifier on the middle tile, `zem-package verify` of one
// device, `zem-package verify` of D devices (16), every tile matching, and
// the floor program reading the record files of one device and of D
// devices on as many threads as verify uses. Targets: one device at most 1.2
// times the verifier's median; what D devices cost beyond one device at most
// 1.25 times what the floor's D devices cost beyond its one (the further
// devices' record files, the cost of starting a process cancelled out in
// both); and the peak memory of verify at most the package file's size plus
// 64 MiB. Exit status 0 when every target is met, 1
// when one is missed, 2 on bad arguments, 3 when a run fails.

#include <fmt/format.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "command_options.hpp"
#include "fleet_files.hpp"
#include "large_package.hpp"
#include "machine.hpp"
#include "run_statistics.hpp"
#include "timed_run.hpp"
#include "workspace.hpp"
#include "zem_package/read_options.hpp"

namespace {

using namespace zem::bench;
namespace fs = std::filesystem;

constexpr double device_target = 1.2;
constexpr double devices_target = 1.25;
constexpr std::uint64_t memory_allowance = 64ULL << 20U;
constexpr std::uint64_t min_rounds = 11;

constexpr std::string_view option_names[] = {"tiles",    "rounds",  "devices", "seed",
                                             "verifier", "toolkit", "floor"};

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

class Bench {
 public:
  Bench(Launcher& launcher, std::string verifier, std::string toolkit, std::string floor,
        unsigned threads, const Workspace& workspace)
      : launcher_(launcher),
        verifier_(std::move(verifier)),
        toolkit_(std::move(toolkit)),
        floor_(std::move(floor)),
        threads_(threads),
        out_(workspace.file("run.out")),
        err_(workspace.file("run.err")) {}

  // Times the five runs, alternating, and reports; whether the targets hold.
  bool measure(const FleetFiles& device, std::uint32_t tiles, std::uint64_t rounds) {
    const std::string tile = std::to_string(device.template_tile);
    const std::string record =
        fmt::format("{}/tile{}.rec", fs::path(device.patterns[0]).parent_path().string(), tile);
    const std::vector<std::string> one_tile{verifier_, device.package, tile, record};
    std::vector<std::string> one_device{toolkit_,  "verify",    device.package,
                                        "--quiet", "--records", device.patterns[0]};
    std::vector<std::string> all_devices{toolkit_, "verify", device.package, "--quiet"};
    for (const std::string& pattern : device.patterns) {
      all_devices.push_back("--records");
      all_devices.push_back(pattern);
    }
    const std::vector<std::string> floor_start{floor_, "--tiles", std::to_string(tiles),
                                               "--threads", std::to_string(threads_)};
    std::vector<std::string> floor_one = floor_start;
    floor_one.push_back(device.patterns[0]);
    std::vector<std::string> floor_all = floor_start;
    floor_all.insert(floor_all.end(), device.patterns.begin(), device.patterns.end());
    // One untimed round warms the page cache.
    for (const std::vector<std::string>* argv :
         {&one_tile, &std::as_const(one_device), &std::as_const(all_devices),
          &std::as_const(floor_one), &std::as_const(floor_all)}) {
      static_cast<void>(timed(*argv));
    }
    std::vector<double> verifier;
    std::vector<double> single;
    std::vector<double> many;
    std::vector<double> floor_single;
    std::vector<double> floor_many;
    long peak_kib = 0;
    for (std::uint64_t round = 1; round <= rounds; ++round) {
      verifier.push_back(timed(one_tile).seconds);
      const TimedRun device_run = timed(one_device);
      single.push_back(device_run.seconds);
      const TimedRun devices_run = timed(all_devices);
      many.push_back(devices_run.seconds);
      floor_single.push_back(timed(floor_one).seconds);
      floor_many.push_back(timed(floor_all).seconds);
      peak_kib = std::max({peak_kib, device_run.peak_rss_kib, devices_run.peak_rss_kib});
      fmt::print(
          "round {}: verifier {:.1f} ms; verify 1 device {:.1f} ms, {} devices {:.1f} ms; floor "
          "1 device {:.1f} ms, {} devices {:.1f} ms\n",
          round, verifier.back() * 1e3, single.back() * 1e3, device.patterns.size(),
          many.back() * 1e3, floor_single.back() * 1e3, device.patterns.size(),
          floor_many.back() * 1e3);
      std::fflush(stdout);
    }
    const Spread a = spread_of(verifier);
    const Spread b = spread_of(single);
    const Spread c = spread_of(many);
    const Spread d = spread_of(floor_single);
    const Spread e = spread_of(floor_many);
    const std::size_t n = device.patterns.size();
    fmt::print("verifier on tile {}: {}\n", tile, spread_text(a));
    fmt::print("verify of one device: {}\n", spread_text(b));
    fmt::print("verify of {} devices: {}\n", n, spread_text(c));
    fmt::print("floor, records of one device on {} threads: {}\n", threads_, spread_text(d));
    fmt::print("floor, records of {} devices on {} threads: {}\n", n, threads_, spread_text(e));
    bool met = true;
    const auto target = [&](std::string_view what, double ratio, double bound) {
      const bool ok = ratio <= bound;
      met = met && ok;
      fmt::print("{}: {:.3f} (target at most {:.2f}): {}\n", what, ratio, bound,
                 ok ? "met" : "MISSED");
    };
    target("one device / verifier", b.median / a.median, device_target);
    // The difference of medians: steadier on a shared machine than the
    // median of each round's difference.
    const double beyond = c.median - b.median;
    const double floor_beyond = e.median - d.median;
    fmt::print("{} further devices: verify {:.1f} ms, floor {:.1f} ms\n", n - 1, beyond * 1e3,
               floor_beyond * 1e3);
    target(fmt::format("{} further devices, verify / floor", n - 1),
           floor_beyond > 0 ? beyond / floor_beyond : (beyond > 0 ? 1e9 : 0.0), devices_target);
    const std::uint64_t peak = static_cast<std::uint64_t>(peak_kib) * 1024;
    const std::uint64_t bound = device.file_bytes + memory_allowance;
    const bool memory_ok = peak <= bound;
    met = met && memory_ok;
    fmt::print("peak RSS of verify: {:.1f} MiB (bound: file {:.1f} + 64 MiB = {:.1f} MiB): {}\n",
               mib(peak), mib(device.file_bytes), mib(bound), memory_ok ? "met" : "MISSED");
    return met;
  }

 private:
  TimedRun timed(const std::vector<std::string>& argv) {
    const TimedRun run = launcher_.run(argv, out_, err_);
    if (run.status != 0) {
      throw std::runtime_error(fmt::format("{} ended with status {}", argv[0], run.status));
    }
    return run;
  }

  Launcher& launcher_;
  std::string verifier_;
  std::string toolkit_;
  std::string floor_;
  unsigned threads_;
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
  const std::uint64_t devices = options.number("devices", 16, 256);
  if (devices < 2) throw std::invalid_argument("--devices must be at least 2");
  const std::string verifier = options.text("verifier").value_or(ZEM_VERIFIER_PATH);
  const std::string toolkit = options.text("toolkit").value_or(ZEM_TOOLKIT_PATH);
  const std::string floor = options.text("floor").value_or(ZEM_FLOOR_PATH);
  // The threads verify picks for itself, ZEM_THREADS unset.
  const unsigned threads = zem::available_threads();
  std::vector<std::uint32_t> sizes{256, 1024};
  if (options.text("tiles")) {
    sizes = {static_cast<std::uint32_t>(options.number("tiles", 256, 65536))};
  }

  fmt::print("machine: {}\nlibraries: {}\nthreads: {}\nload average before: {}\n",
             describe_machine(), describe_libraries(), threads, load_average());
  bool met = true;
  for (const std::uint32_t tiles : sizes) {
    for (const TileLayout layout :
         {TileLayout::own_blobs_every_template, TileLayout::shared_program}) {
      const Workspace workspace("zem-verify");
      LargePackageOptions package;
      package.tiles = tiles;
      package.layout = layout;
      package.seed = options.number("seed", 1, UINT64_MAX);
      fmt::print("\n{} tiles, layout {}\n", tiles, layout_name(layout));
      const FleetFiles device = make_fleet_files(package, devices, workspace);
      fmt::print("package: {:.1f} MiB\n", mib(device.file_bytes));
      Bench bench(launcher, verifier, toolkit, floor, threads, workspace);
      met = bench.measure(device, tiles, rounds) && met;
    }
  }
  fmt::print("\nload average after: {}\n", load_average());
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem_verify_bench", argc, argv, run);
}

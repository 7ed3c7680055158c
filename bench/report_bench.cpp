// Merging a large fleet's `verify --json` documents with `report`, against
// one `verify` of one device of the same package.
//
//   zem_report_bench [--tiles N] [--rounds K] [--shards S] [--devices D]
//                    [--seed S] [--toolkit PATH]
//
// Generates the 1,024-tile package (or N tiles) in which every tile holds a
// template setup and expects its own record, and the records of D devices
// (16), every one matching; runs `zem-package verify --json` of the D
// devices once, and writes S shards (64) of that document, each with its
// devices renamed so that no two shards share a device name, as S machines
// checking D devices each would write them. Then it alternates K rounds (at
// least 11), after one untimed round, of `zem-package report` of the S
// shards and `zem-package verify` of one device, and prints the median, min
// and max of each and the ratio of the medians. Target: the report of the
// S shards takes less than one verify of one device. Exit status 0 when it
// is met, 1 when it is missed, 2 on bad arguments, 3 when a run fails.

#include <fmt/format.h>

#include <cstdio>
#include <fstream>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_options.hpp"
#include "fleet_files.hpp"
#include "machine.hpp"
#include "run_statistics.hpp"
#include "timed_run.hpp"
#include "workspace.hpp"
#include "zem_package/read_options.hpp"

namespace {

using namespace zem::bench;
using Json = nlohmann::ordered_json;

constexpr std::uint64_t min_rounds = 11;

constexpr std::string_view option_names[] = {"tiles",   "rounds", "shards",
                                             "devices", "seed",   "toolkit"};

TimedRun timed(Launcher& launcher, const std::vector<std::string>& argv, const std::string& out,
               const std::string& err) {
  const TimedRun run = launcher.run(argv, out, err);
  if (run.status != 0) {
    throw std::runtime_error(
        fmt::format("{} {} ended with status {}", argv[0], argv.at(1), run.status));
  }
  return run;
}

// Shard `shard` of `document`: the same devices, each named after its shard,
// wherever the document names it.
std::string shard_text(Json document, std::uint64_t shard) {
  const auto name = [shard](std::size_t device) {
    return fmt::format("shard{}-device{}", shard, device);
  };
  Json& devices = document.at("devices");
  for (std::size_t d = 0; d < devices.size(); ++d) devices[d]["name"] = name(d);
  Json& across = document.at("acrossDevices");
  for (std::size_t d = 0; d < across.at("devices").size(); ++d) across["devices"][d] = name(d);
  for (Json& tile : across.at("onOneDevice")) {
    tile["name"] = name(tile.at("device").get<std::size_t>());
  }
  for (Json& device : devices) {
    for (Json& hint : device.at("deviceHints")) {
      if (hint.contains("device") && hint.contains("name")) {
        hint["name"] = name(hint["device"].get<std::size_t>());
      }
    }
  }
  return document.dump();
}

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
  const std::uint64_t shards = options.number("shards", 64, 4096);
  const std::uint64_t devices = options.number("devices", 16, 256);
  if (shards < 1 || devices < 1) {
    throw std::invalid_argument("--shards and --devices must be at least 1");
  }
  const std::string toolkit = options.text("toolkit").value_or(ZEM_TOOLKIT_PATH);
  LargePackageOptions package;
  package.tiles = static_cast<std::uint32_t>(options.number("tiles", 1024, 65536));
  package.layout = TileLayout::own_blobs_every_template;
  package.seed = options.number("seed", 1, UINT64_MAX);

  fmt::print("machine: {}\nlibraries: {}\nthreads: {}\nload average before: {}\n",
             describe_machine(), describe_libraries(), zem::available_threads(), load_average());
  fmt::print("\n{} tiles, layout {}, {} shards of {} devices\n", package.tiles,
             layout_name(package.layout), shards, devices);
  const Workspace workspace("zem-report");
  const FleetFiles files = make_fleet_files(package, devices, workspace);
  const std::string out = workspace.file("run.out");
  const std::string err = workspace.file("run.err");

  std::vector<std::string> verify_all{toolkit, "verify", files.package, "--json"};
  for (const std::string& pattern : files.patterns) {
    verify_all.push_back("--records");
    verify_all.push_back(pattern);
  }
  const std::string document_path = workspace.file("fleet.json");
  static_cast<void>(timed(launcher, verify_all, document_path, err));
  const Json document = Json::parse(std::ifstream(document_path, std::ios::binary));
  std::vector<std::string> report{toolkit, "report"};
  for (std::uint64_t s = 0; s < shards; ++s) {
    const std::string path = workspace.file(fmt::format("shard{}.json", s));
    std::ofstream(path, std::ios::binary) << shard_text(document, s);
    report.push_back(path);
  }
  fmt::print("package: {:.1f} MiB; each shard's document: {:.1f} MiB\n",
             static_cast<double>(files.file_bytes) / (1024.0 * 1024.0),
             static_cast<double>(std::filesystem::file_size(document_path)) / (1024.0 * 1024.0));
  const std::vector<std::string> verify_one{toolkit,   "verify",    files.package,
                                            "--quiet", "--records", files.patterns[0]};

  // One untimed round warms the page cache.
  static_cast<void>(timed(launcher, report, out, err));
  static_cast<void>(timed(launcher, verify_one, out, err));
  std::vector<double> merged;
  std::vector<double> verified;
  for (std::uint64_t round = 1; round <= rounds; ++round) {
    merged.push_back(timed(launcher, report, out, err).seconds);
    verified.push_back(timed(launcher, verify_one, out, err).seconds);
    fmt::print("round {}: report of {} shards {:.1f} ms; verify of one device {:.1f} ms\n", round,
               shards, merged.back() * 1e3, verified.back() * 1e3);
    std::fflush(stdout);
  }
  const Spread a = spread_of(merged);
  const Spread b = spread_of(verified);
  fmt::print("report of {} shards of {} devices: {}\n", shards, devices, spread_text(a));
  fmt::print("verify of one device: {}\n", spread_text(b));
  const double ratio = a.median / b.median;
  const bool met = ratio < 1.0;
  fmt::print("report / verify of one device: {:.3f} (target below 1): {}\n", ratio,
             met ? "met" : "MISSED");
  fmt::print("\nload average after: {}\n", load_average());
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem_report_bench", argc, argv, run);
}

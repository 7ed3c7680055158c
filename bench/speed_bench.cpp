// The verifier's speed and memory on large, realistic packages, against the
// floor of a single-threaded check.
//
// A check of a package must read its file, hash every blob byte and
// decompress every compressed blob; everything else it does is small. So
// this measures a full run of the verifier (the real binary, spawned on the
// package file, the page cache warm) against that floor (the same libraries
// reading the file into fresh memory, decompressing every payload into a
// buffer of its declared size and hashing every blob once, in this process,
// on one thread). The verifier runs with its default thread count and with
// ZEM_THREADS=1; the three alternate, so that a change in the machine's load
// touches all of them. `zem-package check` runs too, for its memory. Each
// timed run comes after a pause, as runs by hand do: memory freed by one run
// is not always at hand for the next after a while (a virtual machine may
// have handed it back to its host), and the slowest run shows what that
// costs. All three pause alike, so that none is favoured by the memory the
// one before it freed.
//
//   zem_speed_bench [--tiles N] [--compressed-percent P] [--seed S] [--pairs K]
//                   [--pause SECONDS]
//   zem_speed_bench --package FILE --tile T --record FILE [--pairs K] [--pause SECONDS]
//
// Either form takes --verifier PATH and --toolkit PATH to time other builds.
//
// Without --tiles, packages of 256 and of 1,024 tiles are generated in turn,
// and how the cost grows between them is checked too. Packages are
// generated in a fresh directory under the system's temporary directory and
// removed afterwards. Targets: the verifier at most 0.70 times the floor with
// its default threads and 1.05 times with one (medians); the slowest run with
// the default threads at most 1.25 times their median; peak memory of the verifier
// and of `zem-package check` at most the file size plus 40 MiB; the 1,024-tile
// run at most 4.4 times the 256-tile run. The exit status is 0 when every
// target is met, 1 when one is missed, 2 on bad arguments and 3 when a run
// fails.

#include <fmt/format.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command_options.hpp"
#include "decompress_hash_floor.hpp"
#include "large_package.hpp"
#include "machine.hpp"
#include "package_builder.hpp"
#include "package_payloads.hpp"
#include "run_statistics.hpp"
#include "timed_run.hpp"
#include "workspace.hpp"

namespace {

using namespace zem::bench;

constexpr double parallel_target = 0.70;
constexpr double single_thread_target = 1.05;
constexpr double tail_target = 1.25;
constexpr double growth_target = 4.4;
constexpr std::uint64_t memory_allowance = 40ULL << 20U;
constexpr std::uint64_t min_pairs = 11;

constexpr std::string_view usage =
    "usage: zem_speed_bench [--tiles N] [--compressed-percent P] [--seed S] [--pairs K] "
    "[--pause SECONDS] [--verifier PATH] [--toolkit PATH]\n"
    "       zem_speed_bench --package FILE --tile T --record FILE [--pairs K] "
    "[--pause SECONDS] [--verifier PATH] [--toolkit PATH]\n";

constexpr std::string_view option_names[] = {
    "tiles",  "compressed-percent", "seed",   "pairs", "pause", "package", "tile",
    "record", "verifier",           "toolkit"};

struct Subject {
  std::string package;
  std::string tile;
  std::string record;
};

// The package file in memory, in whole aligned words as the message reader
// wants them.
struct PackageImage {
  std::vector<std::uint64_t> words;
  std::size_t size = 0;
  [[nodiscard]] std::span<const std::uint8_t> bytes() const {
    return {reinterpret_cast<const std::uint8_t*>(words.data()), size};
  }
};

PackageImage load(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open " + path);
  PackageImage image;
  image.size = static_cast<std::size_t>(in.tellg());
  image.words.resize((image.size + 7) / 8);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(image.words.data()), static_cast<std::streamsize>(image.size));
  if (!in) throw std::runtime_error("cannot read " + path);
  return image;
}

// The whole of a small file; empty when it cannot be read.
std::string read_text_file(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      text.append(chunk, n);
    std::fclose(file);
  }
  return text;
}

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

Subject generate(const LargePackageOptions& options, const Workspace& workspace) {
  fmt::print("generating: {} tiles, {}% of blobs compressed, seed {}\n", options.tiles,
             options.compressed_percent, options.seed);
  const LargePackage large = make_large_package(options);
  Subject subject{workspace.file("large.zpkg"), std::to_string(large.template_tile),
                  workspace.file("large.record")};
  zem::testing::write_file(subject.package, large.package);
  zem::testing::write_file(subject.record, large.record);
  const LargePackageStats& s = large.stats;
  fmt::print(
      "package: {} segments, {} bindings, {} host pages, {} host calls; {} blobs "
      "({} loaded by several tiles)\n",
      s.segments, s.bindings, s.host_pages, s.host_calls, s.blobs, s.shared_blobs);
  return subject;
}

// What one package gave.
struct Measured {
  std::uint64_t file_bytes = 0;
  double parallel = 0;  // verifier median, default threads
  double single = 0;    // verifier median, ZEM_THREADS=1
  double floor = 0;     // floor median
  bool met = true;
};

class Bench {
 public:
  Bench(Launcher& launcher, std::string verifier, std::string toolkit, Subject subject,
        std::uint64_t pairs, std::chrono::milliseconds pause, const Workspace& workspace)
      : launcher_(launcher),
        verifier_(std::move(verifier)),
        toolkit_(std::move(toolkit)),
        subject_(std::move(subject)),
        pairs_(pairs),
        pause_(pause),
        out_(workspace.file("run.out")),
        err_(workspace.file("run.err")),
        image_(load(subject_.package)),
        payloads_(PackagePayloads::parse(image_.bytes())),
        floor_(subject_.package, image_.bytes(), payloads_) {
    const std::uint64_t record_bytes = std::filesystem::file_size(subject_.record);
    expected_line_ =
        fmt::format("templateRecordWords={} transition=1 status=match\n", record_bytes / 4);
  }

  Measured run() {
    const std::uint64_t file_bytes = image_.size;
    const std::uint64_t content_bytes = payloads_.content_bytes();
    fmt::print(
        "file: {} bytes ({:.1f} MiB); blobs: {}, {} compressed; contents {:.1f} MiB "
        "stored as {:.1f} MiB of payloads (ratio {:.2f})\n",
        file_bytes, mib(file_bytes), payloads_.blobs().size(), payloads_.compressed_count(),
        mib(content_bytes), mib(payloads_.payload_bytes()),
        static_cast<double>(content_bytes) / static_cast<double>(payloads_.payload_bytes()));

    // One untimed round warms the page cache, the allocator and the caches.
    static_cast<void>(verifier_seconds({}));
    static_cast<void>(verifier_seconds({"ZEM_THREADS=1"}));
    static_cast<void>(floor_seconds());

    const unsigned threads = tool_threads();
    std::vector<double> parallel;
    std::vector<double> single;
    std::vector<double> floor;
    for (std::uint64_t pair = 1; pair <= pairs_; ++pair) {
      std::this_thread::sleep_for(pause_);
      parallel.push_back(verifier_seconds({}));
      const TimedRun parallel_run = last_;
      std::this_thread::sleep_for(pause_);
      single.push_back(verifier_seconds({"ZEM_THREADS=1"}));
      std::this_thread::sleep_for(pause_);
      floor.push_back(floor_seconds());
      fmt::print(
          "round {}: verifier {:.1f} ms with {} threads (user {:.1f}, system {:.1f}), {:.1f} ms "
          "with 1; floor {:.1f} ms; ratios {:.3f} and {:.3f}\n",
          pair, parallel.back() * 1e3, threads, parallel_run.user_seconds * 1e3,
          parallel_run.system_seconds * 1e3, single.back() * 1e3, floor.back() * 1e3,
          parallel.back() / floor.back(), single.back() / floor.back());
      std::fflush(stdout);
    }
    long check_peak_kib = 0;
    for (std::uint64_t i = 0; i < 3; ++i)
      check_peak_kib = std::max(check_peak_kib, check_rss_kib());

    const Spread parallel_spread = spread_of(parallel);
    Measured measured{file_bytes, parallel_spread.median, spread_of(single).median,
                      spread_of(floor).median};
    const auto ratio_line = [&](std::string_view what, double time, double target) {
      const double ratio = time / measured.floor;
      const bool met = ratio <= target;
      measured.met = measured.met && met;
      fmt::print(
          "verifier with {}: median {:.1f} ms, {:.3f} times the floor (target at most "
          "{:.2f}): {}\n",
          what, time * 1e3, ratio, target, met ? "met" : "MISSED");
    };
    fmt::print(
        "over {} rounds, each run {} ms after the last: verifier with {} threads: {}; with 1: {}; "
        "floor: {}\n",
        pairs_, pause_.count(), threads, spread_text(parallel_spread),
        spread_text(spread_of(single)), spread_text(spread_of(floor)));
    ratio_line(fmt::format("the default threads ({})", threads), measured.parallel,
               parallel_target);
    ratio_line("ZEM_THREADS=1", measured.single, single_thread_target);
    const double tail = parallel_spread.max / parallel_spread.median;
    const bool tail_met = tail <= tail_target;
    measured.met = measured.met && tail_met;
    fmt::print(
        "slowest run with the default threads: {:.3f} times their median (target at most {:.2f}): "
        "{}\n",
        tail, tail_target, tail_met ? "met" : "MISSED");

    const std::uint64_t bound = file_bytes + memory_allowance;
    const auto memory_line = [&](std::string_view what, long peak_kib) {
      const std::uint64_t peak = static_cast<std::uint64_t>(peak_kib) * 1024;
      const bool met = peak <= bound;
      measured.met = measured.met && met;
      fmt::print(
          "peak RSS of {}: {:.1f} MiB (bound: file {:.1f} + 40 MiB = {:.1f} MiB; blob "
          "contents {:.1f} MiB): {}\n",
          what, mib(peak), mib(file_bytes), mib(bound), mib(content_bytes), met ? "met" : "MISSED");
    };
    memory_line("the verifier", peak_rss_kib_);
    memory_line("zem-package check", check_peak_kib);
    return measured;
  }

 private:
  double verifier_seconds(const std::vector<std::string>& environment) {
    const TimedRun run = launcher_.run(
        {verifier_, subject_.package, subject_.tile, subject_.record}, out_, err_, environment);
    const std::string out = read_text_file(out_);
    if (run.status != 0 || out != expected_line_) {
      throw std::runtime_error(fmt::format("the verifier failed with status {}: {}{}", run.status,
                                           out, read_text_file(err_)));
    }
    last_ = run;
    peak_rss_kib_ = std::max(peak_rss_kib_, run.peak_rss_kib);
    return run.seconds;
  }

  long check_rss_kib() {
    const TimedRun run = launcher_.run({toolkit_, "check", subject_.package}, out_, err_);
    if (run.status != 0) {
      throw std::runtime_error(fmt::format("zem-package check failed with status {}: {}{}",
                                           run.status, read_text_file(out_), read_text_file(err_)));
    }
    return run.peak_rss_kib;
  }

  double floor_seconds() {
    const auto start = std::chrono::steady_clock::now();
    floor_.run();
    const auto end = std::chrono::steady_clock::now();
    if (!floor_.digests_match())
      throw std::runtime_error("the floor's digests differ from the stored ones");
    return std::chrono::duration<double>(end - start).count();
  }

  Launcher& launcher_;
  std::string verifier_;
  std::string toolkit_;
  Subject subject_;
  std::uint64_t pairs_;
  std::chrono::milliseconds pause_;
  std::string out_;
  std::string err_;
  std::string expected_line_;
  PackageImage image_;
  PackagePayloads payloads_;
  DecompressHashFloor floor_;
  TimedRun last_;
  long peak_rss_kib_ = 0;
};

int run(std::span<char* const> arguments) {
  // First, while this process is still small: see `Launcher`.
  Launcher launcher;
  const CommandOptions options = CommandOptions::parse(arguments, option_names);
  if (!options.positional.empty())
    throw std::invalid_argument("unexpected argument " + options.positional[0]);
  const std::uint64_t pairs = options.number("pairs", min_pairs, 1000);
  const std::chrono::milliseconds pause(options.number("pause", 3, 600) * 1000);
  if (pairs < min_pairs)
    throw std::invalid_argument(fmt::format("--pairs must be at least {}", min_pairs));
  // Other builds of the tools can be measured against the same floor.
  const std::string verifier = options.text("verifier").value_or(ZEM_VERIFIER_PATH);
  const std::string toolkit = options.text("toolkit").value_or(ZEM_TOOLKIT_PATH);

  fmt::print("machine: {}\n", describe_machine());
  fmt::print("libraries: {}\n", describe_libraries());
  fmt::print("load average before: {}\n", load_average());
  fmt::print("verifier: {}\ntoolkit: {}\n", verifier, toolkit);
  std::fflush(stdout);

  const auto measure = [&](const Subject& subject, const Workspace& workspace) {
    Bench bench(launcher, verifier, toolkit, subject, pairs, pause, workspace);
    return bench.run();
  };

  bool met = true;
  if (const auto package = options.text("package")) {
    const auto tile = options.text("tile");
    const auto record = options.text("record");
    if (!tile || !record) throw std::invalid_argument("--package needs --tile and --record");
    const Workspace workspace("zem-speed");
    met = measure(Subject{*package, *tile, *record}, workspace).met;
  } else {
    // Without --tiles, two sizes, to see how the cost grows.
    LargePackageOptions package_options = options.package_options();
    std::vector<std::uint32_t> sizes{package_options.tiles};
    if (!options.text("tiles")) sizes = {256, 1024};
    std::vector<Measured> measured;
    for (const std::uint32_t tiles : sizes) {
      package_options.tiles = tiles;
      const Workspace workspace("zem-speed");
      const Subject subject = generate(package_options, workspace);
      std::fflush(stdout);
      measured.push_back(measure(subject, workspace));
      met = met && measured.back().met;
    }
    if (measured.size() == 2) {
      const double growth = measured[1].parallel / measured[0].parallel;
      const bool grown_met = growth <= growth_target;
      met = met && grown_met;
      fmt::print(
          "growth: {} tiles cost {:.2f} times {} tiles with the default threads ({:.2f} with "
          "one; file {:.2f} times as large; target at most {:.1f}): {}\n",
          sizes[1], growth, sizes[0], measured[1].single / measured[0].single,
          static_cast<double>(measured[1].file_bytes) / static_cast<double>(measured[0].file_bytes),
          growth_target, grown_met ? "met" : "MISSED");
    }
  }
  fmt::print("load average after: {}\n", load_average());
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem_speed_bench", argc, argv, run, usage);
}

// The verifier's speed on a large, realistic package, against its floor.
//
// A run of the verifier must hash every blob byte and decompress every
// compressed blob; everything else it does is small. So this measures the
// ratio of a full run (the real binary, spawned on the package file, the page
// cache warm) to that floor (the same libraries decompressing the same
// payloads from memory and hashing every blob once, single-threaded, in this
// process). Runs alternate, verifier then floor, so that a change in the
// machine's load touches both; the medians and their ratio are reported with
// the verifier's peak resident memory and the machine.
//
//   zem_speed_bench [--tiles N] [--compressed-percent P] [--seed S] [--pairs K]
//   zem_speed_bench --package FILE --tile T --record FILE [--pairs K]
//
// Either form takes --verifier PATH to time another build of the verifier.
//
// The first form generates the package and its record in a fresh directory
// under the system's temporary directory and removes them afterwards.
// Targets: the ratio at most 1.15, and peak memory at most the file size plus
// the blob contents plus 32 MiB. The exit status is 0 when both are met, 1
// when one is missed, 2 on bad arguments and 3 when a run fails.

#include <fmt/format.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
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
#include "timed_run.hpp"

namespace {

using namespace zem::bench;

constexpr double ratio_target = 1.15;
constexpr std::uint64_t memory_allowance = 32ULL << 20U;
constexpr std::uint64_t min_pairs = 5;

constexpr std::string_view option_names[] = {
    "tiles", "compressed-percent", "seed", "pairs", "package", "tile", "record", "verifier"};

// A fresh directory for the run's files, removed with them at the end.
class Workspace {
 public:
  Workspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zem-speed-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a directory");
    path_ = pattern;
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

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

double median(std::vector<double> values) {
  std::ranges::sort(values);
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
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

class Bench {
 public:
  Bench(Launcher& launcher, std::string verifier, Subject subject, std::uint64_t pairs,
        const Workspace& workspace)
      : launcher_(launcher),
        verifier_(std::move(verifier)),
        subject_(std::move(subject)),
        pairs_(pairs),
        out_(workspace.file("verifier.out")),
        err_(workspace.file("verifier.err")),
        image_(load(subject_.package)),
        payloads_(PackagePayloads::parse(image_.bytes())),
        floor_(payloads_) {
    const std::uint64_t record_bytes = std::filesystem::file_size(subject_.record);
    expected_line_ =
        fmt::format("templateRecordWords={} transition=1 status=match\n", record_bytes / 4);
  }

  int run() {
    const std::uint64_t file_bytes = image_.size;
    const std::uint64_t content_bytes = payloads_.content_bytes();
    fmt::print(
        "file: {} bytes ({:.1f} MiB); blobs: {}, {} compressed; contents {:.1f} MiB "
        "stored as {:.1f} MiB of payloads (ratio {:.2f})\n",
        file_bytes, mib(file_bytes), payloads_.blobs().size(), payloads_.compressed_count(),
        mib(content_bytes), mib(payloads_.payload_bytes()),
        static_cast<double>(content_bytes) / static_cast<double>(payloads_.payload_bytes()));

    // One untimed pair warms the page cache, the allocator and the caches.
    static_cast<void>(verifier_seconds());
    static_cast<void>(floor_seconds());

    std::vector<double> verifier;
    std::vector<double> user;
    std::vector<double> system;
    std::vector<double> floor;
    for (std::uint64_t pair = 1; pair <= pairs_; ++pair) {
      verifier.push_back(verifier_seconds());
      user.push_back(last_.user_seconds);
      system.push_back(last_.system_seconds);
      floor.push_back(floor_seconds());
      fmt::print(
          "pair {}: verifier {:.1f} ms (user {:.1f}, system {:.1f}; peak RSS {:.1f} MiB), "
          "floor {:.1f} ms, ratio {:.3f}\n",
          pair, verifier.back() * 1e3, user.back() * 1e3, system.back() * 1e3,
          static_cast<double>(last_.peak_rss_kib) / 1024.0, floor.back() * 1e3,
          verifier.back() / floor.back());
      std::fflush(stdout);
    }

    const double verifier_median = median(verifier);
    const double floor_median = median(floor);
    const double ratio = verifier_median / floor_median;
    const std::uint64_t bound = file_bytes + content_bytes + memory_allowance;
    const std::uint64_t peak = static_cast<std::uint64_t>(peak_rss_kib_) * 1024;
    const bool ratio_met = ratio <= ratio_target;
    const bool memory_met = peak <= bound;
    fmt::print(
        "verifier median: {:.1f} ms over {} runs (processor time in user space {:.1f} ms, "
        "in the kernel {:.1f} ms)\n",
        verifier_median * 1e3, pairs_, median(user) * 1e3, median(system) * 1e3);
    fmt::print("floor median: {:.1f} ms over {} runs\n", floor_median * 1e3, pairs_);
    fmt::print("ratio: {:.3f} (target at most {:.2f}): {}\n", ratio, ratio_target,
               ratio_met ? "met" : "MISSED");
    fmt::print(
        "peak RSS: {:.1f} MiB (bound: file {:.1f} + blob contents {:.1f} + 32 MiB = {:.1f} "
        "MiB): {}\n",
        mib(peak), mib(file_bytes), mib(content_bytes), mib(bound), memory_met ? "met" : "MISSED");
    return ratio_met && memory_met ? 0 : 1;
  }

 private:
  double verifier_seconds() {
    const TimedRun run =
        launcher_.run({verifier_, subject_.package, subject_.tile, subject_.record}, out_, err_);
    const std::string out = read_text_file(out_);
    if (run.status != 0 || out != expected_line_) {
      throw std::runtime_error(fmt::format("the verifier failed with status {}: {}{}", run.status,
                                           out, read_text_file(err_)));
    }
    last_ = run;
    peak_rss_kib_ = std::max(peak_rss_kib_, run.peak_rss_kib);
    return run.seconds;
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
  Subject subject_;
  std::uint64_t pairs_;
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
  const std::uint64_t pairs = options.number("pairs", 7, 1000);
  if (pairs < min_pairs)
    throw std::invalid_argument(fmt::format("--pairs must be at least {}", min_pairs));

  fmt::print("machine: {}\n", describe_machine());
  fmt::print("libraries: {}\n", describe_libraries());
  fmt::print("load average before: {}\n", load_average());
  std::fflush(stdout);

  const Workspace workspace;
  Subject subject;
  if (const auto package = options.text("package")) {
    const auto tile = options.text("tile");
    const auto record = options.text("record");
    if (!tile || !record) throw std::invalid_argument("--package needs --tile and --record");
    subject = Subject{*package, *tile, *record};
  } else {
    subject = generate(options.package_options(), workspace);
  }
  std::fflush(stdout);
  // Another build of the verifier can be measured against the same floor.
  const std::string verifier = options.text("verifier").value_or(ZEM_VERIFIER_PATH);
  fmt::print("verifier: {}\n", verifier);
  Bench bench(launcher, verifier, subject, pairs, workspace);
  const int status = bench.run();
  fmt::print("load average after: {}\n", load_average());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run({argv + 1, static_cast<std::size_t>(argc > 1 ? argc - 1 : 0)});
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr,
                 "zem_speed_bench: %s\nusage: zem_speed_bench [--tiles N] [--compressed-percent P] "
                 "[--seed S] [--pairs K] [--verifier PATH]\n       zem_speed_bench --package FILE "
                 "--tile T --record FILE [--pairs K] [--verifier PATH]\n",
                 e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zem_speed_bench: %s\n", e.what());
    return 3;
  }
}

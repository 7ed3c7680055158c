#pragma once

// What the end-to-end tests of zem-package share: a fixture that runs the
// real binary in a fresh directory, and the checks of its answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "damaged_packages.hpp"
#include "program_run.hpp"

namespace zem::testing {

inline constexpr int tool_success = 0;
inline constexpr int tool_negative = 1;
inline constexpr int tool_failure = 2;

using ToolJson = nlohmann::ordered_json;

// A JSON document of a subcommand: "inspect" and its text.
struct SubcommandDocument {
  std::string subcommand;
  std::string text;
};

// Checks each document against the schema of its subcommand, in one run of
// the schema checker; the failure names each document's value that breaks
// its schema, and the document.
inline ::testing::AssertionResult match_schemas(const std::vector<SubcommandDocument>& documents) {
  if (documents.empty()) return ::testing::AssertionSuccess();
  const auto file_name = [](std::size_t i) { return "document" + std::to_string(i) + ".json"; };
  const ScratchDirectory scratch;
  std::vector<std::string> args{ZEM_JSON_SCHEMA_CHECKER};
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::string name = file_name(i);
    scratch.write(name, std::span(reinterpret_cast<const std::uint8_t*>(documents[i].text.data()),
                                  documents[i].text.size()));
    args.push_back(std::string(ZEM_JSON_SCHEMA_DIR) + "/" + documents[i].subcommand +
                   ".schema.json");
    args.push_back(name);
  }
  const ProgramRun check =
      run_program(ZEM_PYTHON3_PATH, args, RunSettings{scratch.path(), {}, std::nullopt, {}});
  if (check.status == 0) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "schema check (status " << check.status << "):\n" << check.out << check.err;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    if (check.out.find(file_name(i) + ":") == std::string::npos) continue;
    failure << file_name(i) << " (" << documents[i].subcommand << " --json):\n"
            << documents[i].text;
  }
  return failure;
}

// The JSON documents runs of this test process wrote, until they are checked
// against their schemas: all at once, since one checker run costs what
// dozens of documents do. Each test's documents are checked as it ends; a
// document left unchecked ends the process in failure.
class PendingDocuments {
 public:
  static PendingDocuments& instance() {
    static PendingDocuments pending;
    return pending;
  }
  PendingDocuments(const PendingDocuments&) = delete;
  PendingDocuments& operator=(const PendingDocuments&) = delete;
  ~PendingDocuments() {
    if (documents_.empty()) return;
    std::fprintf(stderr, "%zu JSON documents were never checked against their schemas\n",
                 documents_.size());
    std::abort();
  }

  // Keeps the output of a run that asked for JSON: the subcommand is the
  // first argument that names one writing JSON; help is no document, nor is
  // the nothing a failed run writes.
  void add(const std::vector<std::string>& args, const std::string& out) {
    static constexpr std::array<std::string_view, 7> writing_json = {
        "inspect", "check", "compare", "template", "diff", "verify", "report"};
    if (out.empty() || std::ranges::find(args, "--json") == args.end() ||
        std::ranges::find(args, "--help") != args.end() ||
        std::ranges::find(args, "-h") != args.end()) {
      return;
    }
    const auto subcommand = std::ranges::find_first_of(args, writing_json);
    if (subcommand != args.end()) documents_.push_back({*subcommand, out});
  }

  ::testing::AssertionResult check() {
    const std::vector<SubcommandDocument> documents = std::move(documents_);
    documents_.clear();
    return match_schemas(documents);
  }

 private:
  PendingDocuments() = default;
  std::vector<SubcommandDocument> documents_;
};

// Runs zem-package in `directory` with the environment given (none by
// default). Standard output is captured, or goes to the file `stdout_path`
// when one is named. A JSON document it writes is checked against its
// schema when the test ends.
inline ProgramRun run_tool(const std::vector<std::string>& args, const std::string& directory,
                           const std::optional<std::string>& stdout_path = std::nullopt,
                           const std::vector<std::string>& environment = {}) {
  ProgramRun run = run_program(ZEM_PACKAGE_TOOL_PATH, args,
                               RunSettings{directory, environment, stdout_path, {}});
  PendingDocuments::instance().add(args, run.out);
  return run;
}

// The key of a stage in JSON.
inline std::string stage_json_key(ReadStage stage) {
  return stage == ReadStage::build_digest ? "buildDigest" : std::string(stage_name(stage));
}

// The model of the example package: what every subcommand's output is
// compared with.
inline const Application& example_model() {
  static const Application application = example_application();
  return application;
}

// The template setup line of the example's tile 7.
inline constexpr std::string_view example_setup_line =
    "physicalTile=7 primary=0x4c400 primaryWords=6 secondary=0x4c800 secondaryWords=4 "
    "patchTable=0x4cc00\n";

inline std::vector<std::uint8_t> as_bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Each test works in a fresh directory, removed with everything in it; the
// JSON documents its runs wrote must match their schemas.
class ZemPackageTest : public ::testing::Test {
 public:
  void TearDown() override { EXPECT_TRUE(PendingDocuments::instance().check()); }
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    return dir_.write(name, bytes);
  }
  std::string package(const std::string& name = "package.zpkg") const {
    return write(name, example_bytes());
  }
  std::string record(std::span<const std::uint32_t> words,
                     const std::string& name = "device.record") const {
    return write(name, words_to_bytes(words));
  }
  [[nodiscard]] std::vector<std::uint8_t> read(const std::string& name) const {
    std::ifstream in(dir_.path() + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  [[nodiscard]] const std::string& dir() const { return dir_.path(); }
  [[nodiscard]] bool exists(const std::string& name) const {
    return std::filesystem::exists(dir_.path() + "/" + name);
  }
  [[nodiscard]] ProgramRun run(const std::vector<std::string>& args,
                               const std::optional<std::string>& stdout_path = std::nullopt,
                               const std::vector<std::string>& environment = {}) const {
    return run_tool(args, dir_.path(), stdout_path, environment);
  }

 private:
  ScratchDirectory dir_;
};

// A fixture for each damaged package in turn.
class DamagedPackageToolTest : public ZemPackageTest,
                               public ::testing::WithParamInterface<DamagedPackage> {};

inline std::string damaged_case_name(const ::testing::TestParamInfo<DamagedPackage>& c) {
  return std::string(c.param.name);
}

// Status 2, nothing on standard output, and exactly one error line, then one
// line for each of `hints`.
inline ::testing::AssertionResult failed_with(const ProgramRun& run, std::string_view message,
                                              const std::vector<std::string_view>& hints = {}) {
  std::string line = "zem-package: error: " + std::string(message) + "\n";
  for (const std::string_view hint : hints)
    line += "zem-package: hint: " + std::string(hint) + "\n";
  if (run.status != tool_failure || !run.out.empty() || run.err != line) {
    return ::testing::AssertionFailure()
           << "expected \"" << line << "\"; got status " << run.status << ", stdout \"" << run.out
           << "\", stderr \"" << run.err << '"';
  }
  return ::testing::AssertionSuccess();
}

}  // namespace zem::testing

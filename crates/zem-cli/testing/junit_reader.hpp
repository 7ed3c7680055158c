#pragma once

// JUnit XML read back as CI systems read it: by the junitparser module,
// through tools/read_junit.py, which prints what it found as JSON.

#include <optional>
#include <string>

#include "toolkit_fixture.hpp"

namespace zem::testing {

// The exit status of the reader when junitparser is not installed.
inline constexpr int junit_reader_missing = 77;

struct JunitRead {
  int status = 0;  // 0, or why the file was not read
  ToolJson document;
  std::string err;
};

// Reads `file` (relative to `directory`): {"suites": [{"name", "tests",
// "failures", "skipped", "cases": [{"name", "result", "message", "text"}]}]}.
inline JunitRead read_junit(const std::string& directory, const std::string& file) {
  const ProgramRun run = run_program(ZEM_PYTHON3_PATH, {ZEM_JUNIT_READER, file},
                                     RunSettings{directory, {}, std::nullopt, {}});
  JunitRead read{run.status, nullptr, run.err};
  if (run.status == 0) read.document = ToolJson::parse(run.out);
  return read;
}

// {tests, failures, skipped} of each suite, by the suite's own counts; and
// the same counted from its cases, so that counts that disagree with the
// cases show.
inline std::string junit_counts(const ToolJson& document) {
  std::string text;
  for (const ToolJson& suite : document["suites"]) {
    std::size_t failures = 0;
    std::size_t skipped = 0;
    for (const ToolJson& c : suite["cases"]) {
      if (c["result"] == "failure") ++failures;
      if (c["result"] == "skipped") ++skipped;
    }
    text += suite["name"].get<std::string>() + ": " + suite["tests"].dump() + " " +
            suite["failures"].dump() + " " + suite["skipped"].dump() + " / " +
            std::to_string(suite["cases"].size()) + " " + std::to_string(failures) + " " +
            std::to_string(skipped) + "\n";
  }
  return text;
}

}  // namespace zem::testing

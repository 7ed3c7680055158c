// Replays every input that ever found a fault in a fuzz target, so that the
// ordinary test suite (and its sanitizer build) keeps them fixed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "harnesses.hpp"

namespace zem::fuzz {
namespace {

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t replay(const char* target, void (*harness)(std::span<const std::uint8_t>)) {
  std::size_t replayed = 0;
  const std::filesystem::path directory = std::filesystem::path(ZEM_FUZZ_REGRESSIONS) / target;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README") continue;
    SCOPED_TRACE(entry.path().filename().string());
    harness(read_file(entry.path()));
    ++replayed;
  }
  return replayed;
}

TEST(FuzzRegressionTest, PackageReader) { EXPECT_GT(replay("package_reader", package_reader), 0U); }

// The agreement of the reads takes package files too.
TEST(FuzzRegressionTest, ReadAgreement) { EXPECT_GT(replay("package_reader", read_agreement), 0U); }

TEST(FuzzRegressionTest, TemplateRecord) {
  EXPECT_GT(replay("template_record", template_record), 0U);
}

// The explanation takes the template inputs, and more after them.
TEST(FuzzRegressionTest, RecordExplanation) {
  EXPECT_GT(replay("template_record", record_explanation), 0U);
}

TEST(FuzzRegressionTest, ManifestReader) {
  EXPECT_GT(replay("manifest_reader", manifest_reader), 0U);
}

}  // namespace
}  // namespace zem::fuzz

// A read completes with validation, then the build digest comparison: only a
// package that passes both is handed out.

#include <gtest/gtest.h>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "raw_package.hpp"
#include "zem_package/application.hpp"

namespace zem {
namespace {

using testing::read_result;

using testing::build_package;
using testing::example_application;
using testing::example_options;
using testing::PackageOptions;
using testing::RawPackage;
using Root = schema::Application::Builder;

// The example with its stored build digest replaced by `change(digest)`.
std::vector<std::uint8_t> with_digest(
    const std::function<std::vector<std::uint8_t>(Digest)>& change,
    Application model = example_application()) {
  PackageOptions options = example_options();
  const Digest digest = model.build_digest();
  options.tweak = [&](Root root) {
    const std::vector<std::uint8_t> stored = change(digest);
    root.setBuildDigest({stored.data(), stored.size()});
  };
  return build_package(model, options);
}

TEST(ReadCompletionTest, StoredDigestMustBeExactlyTheComputedOne) {
  const struct {
    const char* name;
    std::function<std::vector<std::uint8_t>(Digest)> change;
    const char* result;
  } cases[] = {
      {"equal", [](Digest d) { return std::vector<std::uint8_t>(d.begin(), d.end()); }, "success"},
      {"one bit flipped",
       [](Digest d) {
         d[31] ^= 1;
         return std::vector<std::uint8_t>(d.begin(), d.end());
       },
       R"(Invalid("build digest mismatch"))"},
      {"33 bytes starting with the digest",
       [](Digest d) {
         std::vector<std::uint8_t> v(d.begin(), d.end());
         v.push_back(0);
         return v;
       },
       R"(Invalid("build digest mismatch"))"},
      {"its first 31 bytes",
       [](Digest d) { return std::vector<std::uint8_t>(d.begin(), d.begin() + 31); },
       R"(Invalid("build digest mismatch"))"},
      {"empty", [](Digest) { return std::vector<std::uint8_t>{}; },
       R"(Invalid("build digest mismatch"))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_result(with_digest(c.change)), c.result) << c.name;
  }
}

TEST(ReadCompletionTest, ABrokenRuleIsReportedBeforeAWrongDigest) {
  Application broken = example_application();
  broken.device_config_writes.push_back(DeviceConfigWrite{0x102, 0});
  const auto wrong = [](Digest d) {
    d[0] ^= 0xff;
    return std::vector<std::uint8_t>(d.begin(), d.end());
  };
  EXPECT_EQ(read_result(with_digest(wrong, broken)),
            R"(Invalid("unaligned or duplicate device configuration write"))");
}

TEST(ReadCompletionTest, BuildDigestPointerIsFollowedOnlyAfterValidation) {
  // The build digest's pointer (root pointer 9) is made a struct pointer,
  // which data cannot be read from.
  const auto break_pointer = [](std::vector<std::uint8_t> package) {
    RawPackage raw(package);
    raw.set(raw.root_pointer(9), std::uint64_t{1} << 32);
    return raw.bytes();
  };
  const std::string alone =
      read_result(break_pointer(build_package(example_application(), example_options())));
  EXPECT_EQ(alone.rfind("Capnp(failed: ", 0), 0U) << alone;

  Application broken = example_application();
  broken.tiles.push_back(broken.tiles[0]);
  EXPECT_EQ(read_result(break_pointer(build_package(broken, example_options()))),
            R"(Invalid("duplicate physical tile 3"))");
}

TEST(ReadCompletionTest, AStrictReadCompletesItselfAndASurveySaysHowFarItGot) {
  Application broken = example_application();
  broken.bindings_2[0].name = broken.bindings_1[0].name;
  const std::vector<std::uint8_t> package = build_package(broken, example_options());
  const auto completed = Package::read(io::FileDescriptor(testing::memory_file(package)));
  ASSERT_FALSE(completed.has_value());
  EXPECT_EQ(completed.error().error.to_string(),
            R"(Invalid("empty or duplicate binding weights"))");
  EXPECT_EQ(completed.error().element.to_string(), "bindings2[0]");

  // A survey keeps what it read, and says how far its completion got.
  const auto survey = testing::read_survey(package);
  ASSERT_TRUE(survey.has_value());
  EXPECT_EQ(survey->model().bindings_2[0].name, "weights");
  ASSERT_TRUE(survey->stored_build_digest().has_value());
  EXPECT_EQ(survey->stored_build_digest()->size(), 32U);
  EXPECT_EQ(survey->stage_state(ReadStage::validation), StageState::failed);
  EXPECT_EQ(survey->stage_state(ReadStage::build_digest), StageState::not_run);
  ASSERT_EQ(survey->failures().size(), 1U);
  EXPECT_EQ(survey->failures().front(), completed.error());
}

}  // namespace
}  // namespace zem

// The checking read: where a read fails, that it agrees with the full read
// on every package, and that threads change nothing of the outcome.

#include "zem_package/package.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <random>

#include <fmt/format.h>

#include "damaged_packages.hpp"
#include "blobs/ordered_work.hpp"
#include "package_builder.hpp"
#include "raw_package.hpp"
#include "package_reads.hpp"
#include "read_agreement.hpp"

namespace zem {
namespace {

namespace zt = zem::testing;
using F = PackageField;
namespace dv = detail_value;

// The failure of reading and completing `bytes`, or none.
std::optional<ReadFailure> failure_of(std::span<const std::uint8_t> bytes, unsigned threads = 1) {
  auto checked = zt::read_checked(bytes, threads);
  if (!checked) return checked.error();
  return std::nullopt;
}

class DamagedPackageTest : public ::testing::TestWithParam<zt::DamagedPackage> {};

TEST_P(DamagedPackageTest, FailsAtItsStageAndElementAsEveryReadDoes) {
  const zt::DamagedPackage& damaged = GetParam();
  const std::vector<std::uint8_t> bytes = damaged.bytes();
  const std::optional<ReadFailure> failure = failure_of(bytes);
  ASSERT_TRUE(failure);
  EXPECT_EQ(stage_name(failure->stage), stage_name(damaged.stage));
  EXPECT_EQ(failure->element.to_string(), damaged.element);
  EXPECT_EQ(zt::read_result(bytes), failure->error.to_string());
  EXPECT_TRUE(failure->error.to_string().starts_with(damaged.error_start));
}

// A survey stops only at the framing and the header; past any other failure
// it reads on, its first failure is the read's, and it says what it read.
TEST_P(DamagedPackageTest, SurveyReadsPastAFailureWhereItCan) {
  const zt::DamagedPackage& damaged = GetParam();
  const std::vector<std::uint8_t> bytes = damaged.bytes();
  const ReadResult<Package> survey = zt::read_survey(bytes);
  if (damaged.stage == ReadStage::framing || damaged.stage == ReadStage::header) {
    ASSERT_FALSE(survey);
    EXPECT_EQ(survey.error(), failure_of(bytes));
    return;
  }
  ASSERT_TRUE(survey) << survey.error().error.to_string();
  const Application example = zt::example_application();
  ASSERT_FALSE(survey->failures().empty());
  EXPECT_EQ(survey->failures().front(), failure_of(bytes));
  EXPECT_EQ(survey->stage_state(damaged.stage), StageState::failed);
  // The stages before the failing one passed; completion follows the rest.
  for (const ReadStage stage :
       {ReadStage::framing, ReadStage::header, ReadStage::blobs, ReadStage::structure,
        ReadStage::validation, ReadStage::build_digest}) {
    if (stage < damaged.stage) {
      EXPECT_EQ(survey->stage_state(stage), StageState::passed);
    }
  }
  if (damaged.stage <= ReadStage::structure) {
    EXPECT_EQ(survey->stage_state(ReadStage::validation), StageState::not_run);
    EXPECT_EQ(survey->stage_state(ReadStage::build_digest), StageState::not_run);
  }
  // Exactly the part that holds the failing element failed.
  for (const PackagePart part : all_package_parts) {
    const bool failing = survey->failures().front().element.within({{field_of(part)}}) &&
                         damaged.stage <= ReadStage::structure;
    EXPECT_EQ(survey->part_state(part), failing ? PartState::failed : PartState::read)
        << field_name(field_of(part));
    EXPECT_EQ(survey->part_failures(part).size(), failing ? 1U : 0U);
  }
  // What lies past the failing part was read all the same.
  if (damaged.stage == ReadStage::blobs) {
    EXPECT_EQ(survey->model().tiles, example.tiles);
    EXPECT_EQ(survey->model().device_config_writes, example.device_config_writes);
  }
  if (damaged.stage == ReadStage::structure) {
    EXPECT_EQ(survey->model().blobs.size(), example.blobs.size());
    EXPECT_EQ(survey->model().entry_points, example.entry_points);
  }
}

TEST(PackageTest, SurveyKeepsWhatCameBeforeTheFailingElement) {
  const std::vector<std::uint8_t> bytes = zt::tweaked([](schema::Application::Builder root) {
    root.getBlobs()[0].getDigest()[3] ^= 1U;  // blob 0 fails, blob 1 passes
    auto bindings = root.getBindings1();
    const char bad[] = "w\xff";
    bindings[0].setLabel(capnp::Text::Reader(bad, 2));
  });
  ReadResult<Package> survey = zt::read_survey(bytes);
  ASSERT_TRUE(survey);
  ASSERT_EQ(survey->failures().size(), 2U);
  EXPECT_EQ(survey->failures()[0].element.to_string(), "blobs[0].digest");
  EXPECT_EQ(survey->failures()[1].element.to_string(), "bindings1[0].label");
  EXPECT_EQ(survey->part_failures(PackagePart::bindings1).front(), survey->failures()[1]);
  // The binding's name was read before its label: it names the binding.
  EXPECT_EQ(survey->failures()[1].details,
            (std::vector<FailureDetail>{{"name", dv::Text{"weights"}}}));
  // Every blob keeps its place; the one that failed has no contents, and
  // neither has a tile that takes bytes from it, while the others are whole.
  ASSERT_EQ(survey->model().blobs.size(), 2U);
  EXPECT_FALSE(survey->model().blobs[0].checked);
  EXPECT_TRUE(survey->model().blobs[1].checked);
  EXPECT_EQ(survey->blob_contents(0).error(), survey->failures()[0]);
  EXPECT_EQ(survey->blob_contents(1).value(), zt::example_application().blobs[1].data);
  EXPECT_TRUE(survey->tile_memory(3));
  EXPECT_EQ(survey->tile_memory(7).error().error.to_string(),
            R"(Invalid("segment at 0x4c000 on tile 7 takes data from blob 0, which did not pass )"
            R"(its checks"))");
  EXPECT_EQ(survey->stored_blobs().size(), 2U);
  EXPECT_TRUE(survey->model().bindings_1.empty());
  EXPECT_EQ(survey->model().bindings_2.size(), 1U);
  EXPECT_FALSE(survey->valid());
  EXPECT_EQ(zt::read_checked(bytes).error(), survey->failures()[0]);
}

// A blob's failure says what its check found: the digest its contents have,
// or that they are larger than the declared size.
TEST(PackageTest, BlobFailuresSayWhatTheCheckFound) {
  const Application example = zt::example_application();
  const std::vector<std::uint8_t> damaged_digest =
      zt::tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; });
  const auto failure = failure_of(damaged_digest);
  ASSERT_TRUE(failure);
  ASSERT_GE(failure->details.size(), 2U);
  const std::vector<std::uint8_t> computed(example.blobs[1].digest.begin(),
                                           example.blobs[1].digest.end());
  std::vector<std::uint8_t> stored = computed;
  stored[0] ^= 1U;
  // The computed digest follows the stored one.
  const auto at =
      std::ranges::find(failure->details, FailureDetail{"stored digest", dv::Digest{stored}});
  ASSERT_LT(at + 1, failure->details.end());
  EXPECT_EQ(at[1], (FailureDetail{"computed digest", dv::Digest{computed}}));

  const std::uint64_t size = example.blobs[0].data.size();
  const std::vector<std::uint8_t> short_declared =
      zt::tweaked([&](auto root) { root.getBlobs()[0].setUncompressedSize(size - 1); });
  const auto too_small = failure_of(short_declared);
  ASSERT_TRUE(too_small);
  EXPECT_EQ(too_small->error.to_string(), "Io(Other: Destination buffer is too small)");
  const FailureDetail explanation{
      "explanation",
      dv::Text{fmt::format(
          "the contents are larger than the declared uncompressed size of {} bytes", size - 1)}};
  EXPECT_NE(std::ranges::find(too_small->details, explanation), too_small->details.end());

  // A frame that does not decompress at all is not said to be too large.
  const auto corrupt =
      failure_of(zt::tweaked([](auto root) { root.getBlobs()[0].getData()[0] ^= 1U; }));
  ASSERT_TRUE(corrupt);
  EXPECT_EQ(std::ranges::count(corrupt->details, std::string("explanation"), &FailureDetail::name),
            0)
      << corrupt->error.to_string();
}

// A survey checks every blob and lists each that fails, in file order,
// whatever the threads; a strict read stops at the first. A blob that passes
// after a failure is kept, and makes a later copy of it a duplicate. Past
// the most listed, failures are counted.
TEST(PackageTest, SurveyListsEveryFailingBlob) {
  const std::vector<std::uint8_t> bytes = zt::build_package(
      [] {
        Application model = zt::example_application();
        model.blobs.push_back(zt::make_blob(std::vector<std::uint8_t>(16, 5)));
        model.blobs.push_back(model.blobs[2]);
        return model;
      }(),
      [] {
        zt::PackageOptions options = zt::example_options();
        options.tweak = [](schema::Application::Builder root) {
          root.getBlobs()[0].getDigest()[0] ^= 1U;
        };
        return options;
      }());
  for (const unsigned threads : {1U, 3U}) {
    const ReadResult<Package> survey = zt::read_survey(bytes, threads);
    ASSERT_TRUE(survey);
    const std::span<const ReadFailure> failures = survey->part_failures(PackagePart::blobs);
    ASSERT_EQ(failures.size(), 2U) << threads;
    EXPECT_EQ(failures[0], failure_of(bytes, threads));
    EXPECT_EQ(failures[1].element.to_string(), "blobs[3]");
    EXPECT_EQ(failures[1].details.back(),
              (FailureDetail{"same digest as", ElementPath{{F::blobs, 2}}}));
    EXPECT_EQ(survey->unlisted_failures(PackagePart::blobs), 0U);
    // Every blob keeps its place: the good ones after a failure are kept.
    std::vector<bool> checked;
    for (const BlobInfo& blob : survey->model().blobs) checked.push_back(blob.checked);
    EXPECT_EQ(checked, (std::vector<bool>{false, true, true, false})) << threads;
    EXPECT_EQ(survey->stored_blobs().size(), 4U);
  }

  Application many = zt::example_application();
  for (std::size_t i = 0; i < most_blob_failures_listed + 2; ++i) {
    many.blobs.push_back(many.blobs[1]);
  }
  const ReadResult<Package> survey =
      zt::read_survey(zt::build_package(many, zt::example_options()), 2);
  ASSERT_TRUE(survey);
  EXPECT_EQ(survey->part_failures(PackagePart::blobs).size(), most_blob_failures_listed);
  EXPECT_EQ(survey->part_failures(PackagePart::blobs).back().element.to_string(),
            fmt::format("blobs[{}]", most_blob_failures_listed + 1));
  EXPECT_EQ(survey->unlisted_failures(PackagePart::blobs), 2U);
  EXPECT_EQ(survey->model().blobs.size(), many.blobs.size());
  EXPECT_EQ(std::ranges::count(survey->model().blobs, true, &BlobInfo::checked), 2);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest, ::testing::ValuesIn(zt::damaged_packages()),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(PackageTest, RuleFailuresNameTheValuesThatBrokeThem) {
  const struct {
    const char* name;
    std::function<void(Application&)> change;
    std::string element;
    std::vector<FailureDetail> details;
  } cases[] = {
      {"unaligned write",
       [](Application& m) { m.device_config_writes[0].address = 0x102; },
       "deviceConfigWrites[0]",
       {{"address", dv::Address{0x102}}}},
      {"repeated write",
       [](Application& m) { m.device_config_writes.push_back(m.device_config_writes[0]); },
       "deviceConfigWrites[2]",
       {{"address", dv::Address{0x100}},
        {"earlier write", ElementPath{{F::device_config_writes, 0}}}}},
      {"overlapping segments",
       [](Application& m) {
         Segment second = m.tiles[1].segments[0];
         second.address += 0x10;
         second.data_size = 0;
         m.tiles[1].segments.push_back(second);
       },
       "tiles[1]",
       {{"segment", ElementPath{{F::tiles, 1}, {F::segments, 0}}},
        {"overlapping segment", ElementPath{{F::tiles, 1}, {F::segments, 2}}}}},
      {"segment past its blob",
       [](Application& m) { m.tiles[0].segments[0].blob_offset = 1000; },
       "tiles[0].segments[0]",
       {{"blobOffset", dv::Number{1000}},
        {"dataSize", dv::Number{256}},
        {"blob size", dv::Number{256}}}},
      {"binding name repeated",
       [](Application& m) { m.bindings_2[0].name = m.bindings_1[0].name; },
       "bindings2[0]",
       {{"earlier binding", ElementPath{{F::bindings1, 0}}}}},
      {"binding name of the second list repeated in the third",
       [](Application& m) { m.bindings_3.push_back(m.bindings_2[0]); },
       "bindings3[0]",
       {{"earlier binding", ElementPath{{F::bindings2, 0}}}}},
      {"binding name repeated within the second list",
       [](Application& m) {
         Binding first = m.bindings_2[0];
         first.name = "first";
         m.bindings_2 = {first, m.bindings_2[0], m.bindings_2[0]};
       },
       "bindings2[2]",
       {{"earlier binding", ElementPath{{F::bindings2, 1}}}}},
      {"binding name repeated within the third list",
       [](Application& m) {
         m.bindings_3 = {m.bindings_1[0], m.bindings_1[0]};
         m.bindings_3[0].name = "third";
         m.bindings_3[1].name = "third";
       },
       "bindings3[1]",
       {{"earlier binding", ElementPath{{F::bindings3, 0}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Application model = zt::example_application();
    c.change(model);
    const std::optional<ReadFailure> failure =
        failure_of(zt::build_package(model, zt::example_options()));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->stage, ReadStage::validation);
    EXPECT_EQ(failure->element.to_string(), c.element);
    EXPECT_EQ(failure->details, c.details);
  }
}

TEST(PackageTest, KeepsTheMessageInsteadOfTheContents) {
  const std::vector<std::uint8_t> bytes =
      zt::build_package(zt::example_application(), zt::example_options());
  auto package = zt::read_checked(bytes);
  ASSERT_TRUE(package) << package.error().error.to_string();
  Application full = zt::example_application();
  zt::index_blobs(full);
  const std::vector<BlobInfo>& blobs = package->model().blobs;
  ASSERT_EQ(blobs.size(), full.blobs.size());
  for (std::size_t i = 0; i < full.blobs.size(); ++i) {
    EXPECT_EQ(blobs[i].size, full.blobs[i].data.size());
    EXPECT_EQ(blobs[i].digest, full.blobs[i].digest);
    EXPECT_EQ(package->blob_contents(i).value(), full.blobs[i].data);
    // A payload's offset names where its bytes stand in the file.
    const BlobStorage& storage = blobs[i].storage;
    ASSERT_LE(storage.file_offset + storage.stored_size, bytes.size());
    if (storage.compression == compression_none) {
      EXPECT_TRUE(
          std::ranges::equal(std::span(bytes).subspan(storage.file_offset, storage.stored_size),
                             full.blobs[i].data.bytes()));
    }
  }
  EXPECT_EQ(blobs[0].storage.compression, compression_zstd);
  EXPECT_EQ(blobs[1].storage.compression, compression_none);
  EXPECT_EQ(blobs[1].storage.stored_size, full.blobs[1].data.size());
  // The model without contents gives the full model's answers.
  EXPECT_EQ(package->model().build_digest(), full.build_digest());
  EXPECT_TRUE(package->model().validate());
  EXPECT_EQ(package->stage_state(ReadStage::build_digest), StageState::passed);
  EXPECT_TRUE(std::ranges::equal(package->message_bytes(), bytes));
  for (const TileImage& tile : full.tiles) {
    EXPECT_EQ(package->tile_memory(tile.physical_tile), full.tile_memory(tile.physical_tile));
  }
  EXPECT_EQ(package->tile_memory(9).error().subject, FailureSubject::unknown_tile);
}

// The memory of a surveyed tile copies blob by blob, which is the list order
// only where no two segments overlap: overlapping segments are refused, and
// segments that only touch (one ends where the next begins) are not.
TEST(PackageTest, SurveyedTileMemoryRefusesOverlapsButNotTouchingSegments) {
  const struct {
    const char* name;
    std::uint32_t first;  // tile 7's segments, 0x1000 and 0x200 bytes long
    std::uint32_t second;
    std::string error;  // empty when the memory is the full model's
  } cases[] = {
      {"touching", 0x4c000, 0x4d000, ""},
      {"touching, the later listed first", 0x4c200, 0x4c000, ""},
      {"one byte in common", 0x4c000, 0x4cfff,
       R"(Invalid("segments at 0x4c000 and 0x4cfff on tile 7 overlap"))"},
      {"one byte in common, the later listed first", 0x4c1ff, 0x4c000,
       R"(Invalid("segments at 0x4c000 and 0x4c1ff on tile 7 overlap"))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Application model = zt::example_application();
    model.tiles[1].segments[0].address = c.first;
    model.tiles[1].segments[1].address = c.second;
    const ReadResult<Package> survey =
        zt::read_survey(zt::build_package(model, zt::example_options()));
    ASSERT_TRUE(survey);
    const ReadResult<TileMemory> memory = survey->tile_memory(7);
    if (c.error.empty()) {
      ASSERT_TRUE(memory) << memory.error().error.to_string();
      EXPECT_EQ(*memory, model.tile_memory(7));
    } else {
      ASSERT_FALSE(memory);
      EXPECT_EQ(memory.error().error.to_string(), c.error);
    }
  }
}

// Thousands of blobs, several of them broken: whatever the threads, the first
// broken one in file order is reported, as one thread reports it.
TEST(PackageTest, ThreadsReportTheFirstFailingBlobInFileOrder) {
  Application model = zt::example_application();
  for (std::uint32_t i = 0; i < 3000; ++i) {
    const std::vector<std::uint8_t> contents(64 + i % 200, static_cast<std::uint8_t>(i));
    std::vector<std::uint8_t> unique = contents;
    unique[0] = static_cast<std::uint8_t>(i >> 8);
    unique[1] = static_cast<std::uint8_t>(i);
    model.blobs.push_back(zt::make_blob(unique));
  }
  zt::PackageOptions options = zt::example_options();
  zt::BlobEncoding compressed;
  compressed.compressed = true;
  options.blob_encodings.resize(model.blobs.size(), compressed);
  const struct {
    const char* name;
    std::function<void(schema::Application::Builder)> tweak;
    std::string element;
  } cases[] = {
      {"wrong digests late and early",
       [](schema::Application::Builder root) {
         root.getBlobs()[2900].getDigest()[0] ^= 1U;
         root.getBlobs()[1700].getDigest()[5] ^= 1U;
       },
       "blobs[1700].digest"},
      {"a duplicate before a broken frame",
       [](schema::Application::Builder root) {
         root.getBlobs()[2500].setData(root.getBlobs()[2200].getData().asReader());
         root.getBlobs()[2500].setDigest(root.getBlobs()[2200].getDigest().asReader());
         root.getBlobs()[2500].setUncompressedSize(root.getBlobs()[2200].getUncompressedSize());
         root.getBlobs()[2600].getData()[4] ^= 0xffU;
       },
       "blobs[2500]"},
      {"a declared size too small",
       [](schema::Application::Builder root) { root.getBlobs()[2999].setUncompressedSize(3); },
       "blobs[2999].data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    options.tweak = c.tweak;
    const std::vector<std::uint8_t> bytes = zt::build_package(model, options);
    const std::optional<ReadFailure> one = failure_of(bytes, 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->element.to_string(), c.element) << one->error.to_string();
    for (const unsigned threads : {2U, 3U, 8U}) {
      EXPECT_EQ(failure_of(bytes, threads), one) << threads << " threads";
    }
    EXPECT_EQ(zt::read_disagreement(bytes), "");
  }
}

// A file large enough for several 2 MiB shares is read on several threads: the
// same bytes as one read, and the file left just past the message.
TEST(PackageTest, LargeFilesReadInSharesGiveTheSameModel) {
  Application model = zt::example_application();
  std::vector<std::uint8_t> noise(9 << 20);
  std::mt19937 random(3);
  for (std::uint8_t& byte : noise) byte = static_cast<std::uint8_t>(random());
  model.blobs.push_back(zt::make_blob(noise));
  std::vector<std::uint8_t> bytes = zt::build_package(model, zt::example_options());
  const std::size_t message = bytes.size();
  bytes.resize(message + 100, 0xee);  // never read

  const Result<Application> one = Application::read(zt::memory_file(bytes));
  ASSERT_TRUE(one) << one.error().to_string();
  for (const unsigned threads : {2U, 3U, 5U}) {
    const int fd = zt::memory_file(bytes);
    const int kept = ::dup(fd);
    const Result<Application> shared = Application::read(fd, ReadOptions{threads});
    ASSERT_TRUE(shared) << shared.error().to_string();
    EXPECT_EQ(*shared, *one);
    EXPECT_EQ(::lseek(kept, 0, SEEK_CUR), static_cast<off_t>(message)) << threads;
    ::close(kept);
  }
  // Cut inside the last share: the read ends where the file does.
  bytes.resize(message - 1000);
  EXPECT_EQ(zt::read_result(bytes),
            fmt::format("Capnp(failed: premature end of file: the message framing needs {} bytes "
                        "but the file holds {})",
                        message, message - 1000));
}

// Every byte of a small package changed, and every length it can be cut to:
// the reads agree on each.
TEST(PackageTest, ReadsAgreeOnEveryDamagedCopy) {
  const std::vector<std::uint8_t> bytes =
      zt::build_package(zt::example_application(), zt::example_options());
  std::mt19937 random(7);
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::vector<std::uint8_t> changed = bytes;
    changed[at] ^= static_cast<std::uint8_t>(1U << (random() % 8));
    ASSERT_EQ(zt::read_disagreement(changed), "") << "byte " << at;
    ASSERT_EQ(zt::read_disagreement(std::span(bytes).first(at)), "") << "cut to " << at;
  }
}

// Items are accepted in order and the first failure in order is reported,
// whichever thread meets it and whenever.
TEST(OrderedWorkTest, ReportsTheFirstFailureInOrder) {
  const struct {
    std::size_t count;
    std::vector<std::size_t> failing_work;
    std::vector<std::size_t> failing_accept;
    std::optional<std::size_t> first;
  } cases[] = {
      {0, {}, {}, std::nullopt}, {100, {}, {}, std::nullopt}, {100, {99}, {}, 99},
      {100, {70, 30}, {}, 30},   {100, {70}, {40}, 40},       {100, {10}, {40}, 10},
      {1, {0}, {}, 0},
  };
  for (const auto& c : cases) {
    for (const unsigned threads : {1U, 2U, 7U}) {
      std::vector<std::size_t> accepted;
      const auto result = run_in_order(
          c.count, threads,
          [&](unsigned worker, std::size_t index) {
            EXPECT_LT(worker, threads);
            return std::ranges::find(c.failing_work, index) == c.failing_work.end();
          },
          [&](std::size_t index) {
            accepted.push_back(index);
            return std::ranges::find(c.failing_accept, index) == c.failing_accept.end();
          });
      EXPECT_EQ(result, c.first) << threads << " threads";
      const std::size_t expected_accepted = c.first ? *c.first : c.count;
      std::vector<std::size_t> in_order(expected_accepted);
      std::iota(in_order.begin(), in_order.end(), 0);
      if (c.first && std::ranges::find(c.failing_work, *c.first) == c.failing_work.end()) {
        in_order.push_back(*c.first);  // accepted, and refused
      }
      EXPECT_EQ(accepted, in_order) << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace zem

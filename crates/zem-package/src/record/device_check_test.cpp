// A device checked against one package: each status where it belongs, the
// same verdicts on any number of threads.

#include "zem_package/device_check.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "package_builder.hpp"
#include "package_reads.hpp"
#include "record/for_each_index.hpp"

namespace zem {
namespace {

namespace zt = zem::testing;

// The example's tile 7 holds the template; tile 8 loads the same image,
// tile 9 one whose primary region lies past its end, and tile 3 no setup.
Package device_package() {
  Application model = zt::example_application();
  std::vector<std::uint8_t> broken = zt::make_template_tile().image;
  broken[0x44 + 2] = 0x4f;  // primary region at 0x4fc400, far outside
  model.blobs.push_back(zt::make_blob(broken));
  model.tiles.push_back(TileImage{8, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  model.tiles.push_back(TileImage{9, 0, 0, 0, {Segment{0x4c000, 0x1000, 2, 0, 0x1000, 0}}});
  zt::index_blobs(model);
  auto package = zt::read_checked(zt::build_package(model, zt::example_options()));
  if (!package) throw std::runtime_error(package.error().error.to_string());
  return std::move(*package);
}

io::Result<DeviceRecord> record_of(const std::vector<std::uint32_t>& words) {
  const std::vector<std::uint8_t> bytes = zt::words_to_bytes(words);
  return device_record(bytes, bytes.size());
}

TEST(DeviceCheckTest, EveryTileEndsInOneStatus) {
  const Package package = device_package();
  const std::vector<std::uint32_t> good = zt::make_template_tile().record;
  std::vector<std::uint32_t> late(good.size(), 0);
  std::copy(good.begin(), good.end() - 1, late.begin() + 1);

  const auto check = DeviceCheck::prepare(package, {}, 2);
  ASSERT_TRUE(check) << check.error().error.to_string();
  std::vector<std::uint32_t> verified;
  for (const CheckedTile& tile : check->tiles()) verified.push_back(tile.physical_tile);
  EXPECT_EQ(verified, (std::vector<std::uint32_t>{7, 8, 9}));
  EXPECT_EQ(check->tile(8)->setup.setup, check->tile(7)->setup.setup);
  EXPECT_EQ(check->tile(3), nullptr);
  EXPECT_EQ(std::vector<std::uint32_t>(check->tiles_without_setup().begin(),
                                       check->tiles_without_setup().end()),
            std::vector<std::uint32_t>{3});

  const std::map<std::uint32_t, io::Result<DeviceRecord>> device{{7, record_of(late)}};
  const RecordSource records = [&](std::uint32_t tile, std::uint64_t) {
    const auto found = device.find(tile);
    if (found != device.end()) return found->second;
    return io::Result<DeviceRecord>(
        std::unexpected(io::FileError{io::FileError::Step::open, ENOENT, io::FileType::regular}));
  };
  const DeviceResult device_one = check->verify(records, 8, 1);
  const std::vector<TileVerdict>& one = device_one.tiles;
  ASSERT_EQ(one.size(), 3U);
  EXPECT_EQ(one[0].status, TileStatus::differ);
  EXPECT_EQ(one[0].diff->differing_words, 10U);
  EXPECT_EQ(one[0].diff->hints.front(), Hint{hint::Shifted{1}});
  // What owns the first differing word's address: tile 7's first segment,
  // blob 0, and the binding whose slice covers it.
  const ExplainedWord& first = one[0].diff->differences.front();
  EXPECT_EQ(first.place.address, 0x4c400U);
  EXPECT_EQ(first.unpatched, 100U);
  EXPECT_EQ(first.patch->group, 0U);
  ASSERT_TRUE(first.owner.segment && first.owner.segment->data);
  EXPECT_EQ(first.owner.segment->data->blob, 0U);
  EXPECT_EQ(first.owner.slices.at(0).name, "weights");
  EXPECT_EQ(one[1].status, TileStatus::missing);
  EXPECT_EQ(one[2].status, TileStatus::failed);
  EXPECT_NE(one[2].reason.find("out of range"), std::string::npos) << one[2].reason;

  // The same verdicts on any number of threads; a right record matches.
  EXPECT_EQ(device_one.counts.of(TileStatus::differ), 1U);
  EXPECT_EQ(device_one.counts.tiles(), 3U);
  EXPECT_EQ(check->verify(records, 8, 4), device_one);
  const RecordSource right = [&](std::uint32_t, std::uint64_t) { return record_of(good); };
  const std::vector<TileVerdict> matching = check->verify(right, 8, 3).tiles;
  EXPECT_EQ(matching[0].status, TileStatus::match);
  EXPECT_EQ(matching[1].status, TileStatus::match);
  // Several devices at once: each device's own verdicts, in the order given.
  const std::vector<DeviceResult> both =
      check->verify(std::vector<RecordSource>{right, records}, 8, 4);
  ASSERT_EQ(both.size(), 2U);
  EXPECT_EQ(both[0].tiles, matching);
  EXPECT_EQ(both[1], device_one);
  EXPECT_EQ(DeviceCheck::prepare(package, std::vector<std::uint32_t>{5}, 1).error().subject,
            FailureSubject::unknown_tile);
}

// Two devices are one dump twice only when some record they share differs
// from what its tile expects: devices verified on different tiles, whose
// shared tiles match alike, each differing on a tile of its own, are not.
TEST(DeviceHintsTest, SameRecordsOnlyWhereASharedRecordDiffers) {
  struct Tile {
    std::uint32_t tile;
    TileStatus status;
    std::uint8_t record;  // the record's digest, filled with this byte
  };
  const auto device = [](const std::vector<Tile>& tiles) {
    DeviceResult result;
    for (const Tile& t : tiles) {
      result.tiles.push_back(TileVerdict{t.tile, t.status, "", RecordDiff{}});
      result.counts.add(t.status);
      Digest digest{};
      digest.fill(t.record);
      result.record_digests.emplace_back(digest);
    }
    return result;
  };
  const TileStatus differ = TileStatus::differ;
  const TileStatus match = TileStatus::match;
  const struct {
    const char* name;
    std::vector<Tile> a, b;
    bool same;
  } cases[] = {
      {"one dump twice", {{1, differ, 9}, {2, match, 2}}, {{1, differ, 9}, {2, match, 2}}, true},
      {"each differing apart",
       {{1, differ, 9}, {2, match, 2}},
       {{2, match, 2}, {3, differ, 8}},
       false},
      {"different wrong records", {{1, differ, 9}}, {{1, differ, 8}}, false},
  };
  for (const auto& c : cases) {
    std::vector<DeviceResult> results{device(c.a), device(c.b)};
    const std::vector<std::string> names{"a", "b"};
    add_same_records_hints(results, names);
    const std::vector<DeviceHint> a_hints =
        c.same ? std::vector<DeviceHint>{device_hint::SameRecords{1, "b"}}
               : std::vector<DeviceHint>{};
    EXPECT_EQ(results[0].hints, a_hints) << c.name;
    EXPECT_EQ(results[1].hints.size(), a_hints.size()) << c.name;
  }
  // Only the devices given are compared, however many lie beyond them.
  std::vector<DeviceResult> three(3, device({{1, differ, 9}}));
  const std::vector<std::string> names{"a", "b", "c"};
  add_same_records_hints(std::span(three).first(2), std::span(names).first(2));
  EXPECT_EQ(three[0].hints, (std::vector<DeviceHint>{device_hint::SameRecords{1, "b"}}));
  EXPECT_EQ(three[1].hints, (std::vector<DeviceHint>{device_hint::SameRecords{0, "a"}}));
  EXPECT_EQ(three[2].hints, std::vector<DeviceHint>{});
}

// Records that are the expected records of the tiles on both sides of their
// own are said to be numbered off by -1, the nearer offset downward, however
// many other offsets the first record's tiles give to try, and in whatever
// order.
TEST(DeviceHintsTest, AnOffsetThatHoldsBothWaysIsTakenDownward) {
  // From tile 120, the tiles that expect what tiles 120 and 122 hold.
  const std::set<std::int64_t> offsets{-24, -23, -22, -21, -20, -17, -15, -14, -11, -7, -4, -1,
                                       1,   3,   7,   8,   9,   10,  11,  15,  16,  17, 18, 19,
                                       20,  22,  23,  26,  29,  30,  31,  33,  36,  37, 39, 40};
  Application model = zt::example_application();
  const zt::TemplateTile tile = zt::make_template_tile();
  // Two templates, raised by 1 and by 2 in the words the record holds.
  for (std::uint8_t raise = 1; raise <= 2; ++raise) {
    std::vector<std::uint8_t> raised = tile.image;
    for (std::size_t offset :
         {0x400U, 0x404U, 0x408U, 0x40cU, 0x410U, 0x414U, 0x800U, 0x804U, 0x808U, 0x80cU}) {
      raised[offset] = static_cast<std::uint8_t>(raised[offset] + raise);
    }
    model.blobs.push_back(zt::make_blob(raised));
  }
  std::vector<std::uint32_t> verified;
  for (std::uint32_t t = 96; t <= 160; ++t) {
    const bool second = offsets.contains(std::int64_t{t} - 120);
    model.tiles.push_back(
        TileImage{t,
                  0,
                  0,
                  0,
                  {Segment{0x4c000, 0x1000, model.blobs.size() - (second ? 1 : 2), 0, 0x1000, 0}}});
    verified.push_back(t);
  }
  zt::index_blobs(model);
  const auto package = zt::read_checked(zt::build_package(model, zt::example_options()));
  ASSERT_TRUE(package) << package.error().error.to_string();
  const auto check = DeviceCheck::prepare(*package, verified, 1);
  ASSERT_TRUE(check) << check.error().error.to_string();

  std::vector<std::uint32_t> second = tile.record;
  for (std::uint32_t& word : second) word += 2;
  const RecordSource records = [&](std::uint32_t t, std::uint64_t) {
    if (t == 120 || t == 122) return record_of(second);
    return io::Result<DeviceRecord>(
        std::unexpected(io::FileError{io::FileError::Step::open, ENOENT, io::FileType::regular}));
  };
  const DeviceResult result = check->verify(records, 8, 1);
  EXPECT_EQ(result.counts.of(TileStatus::differ), 2U);
  EXPECT_EQ(result.hints, (std::vector<DeviceHint>{device_hint::OffBy{-1, 2}}));
}

// Each index is worked on once, on no more threads than asked for, the
// calling one included: with one (or none), no thread is started. Each piece
// of work lasts long enough for every thread started to take some, and the
// threads are told apart by their ids (a count of the process's threads
// would also see those a sanitizer's runtime starts).
TEST(ForEachIndexTest, WorksEachIndexOnceOnAtMostTheThreadsAsked) {
  for (const unsigned threads : {0U, 1U, 2U, 4U}) {
    std::mutex mutex;
    std::set<std::thread::id> workers;
    std::vector<int> runs(8, 0);
    for_each_index(runs.size(), threads, [&](std::size_t i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const std::scoped_lock lock(mutex);
      ++runs[i];
      workers.insert(std::this_thread::get_id());
    });
    EXPECT_LE(workers.size(), std::max(threads, 1U)) << threads;
    EXPECT_EQ(runs, std::vector<int>(8, 1)) << threads;
  }
}

// Where each template word was read from and which patch changed it, on
// both sides of the edge between the regions: the first secondary word is
// position 0 of the second group.
TEST(ExpectedRecordTest, WordsOnEachSideOfTheRegionEdge) {
  ExpectedRecord record;
  record.setup = TemplateSetup{0x4c400, 0x4c800, 2, 2, 0x4cc00};
  record.words.primary_patches = {{1, 0, 7}};
  record.words.secondary_patches = {{0, 0, 9}};
  const struct {
    std::size_t index;
    WordPlace place;
    std::optional<WordPatch> patch;
  } cases[] = {
      {0, {Region::primary, 0, 0x4c400}, std::nullopt},
      {1, {Region::primary, 4, 0x4c404}, WordPatch{0, {1, 0, 7}}},
      {2, {Region::secondary, 0, 0x4c800}, WordPatch{1, {0, 0, 9}}},
      {3, {Region::secondary, 4, 0x4c804}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(word_place(record.setup, c.index), c.place) << c.index;
    EXPECT_EQ(word_patch(record, c.index), c.patch) << c.index;
  }
}

}  // namespace
}  // namespace zem

#include "toolkit/compare/comparison.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "damaged_packages.hpp"
#include "toolkit/compare/comparison_report.hpp"
#include "format/hex.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

// Two packages as `compare` reads them.
struct Pair {
  ReadResult<Package> first;
  ReadResult<Package> second;

  [[nodiscard]] Comparison compare(std::optional<std::uint64_t> second_trailing = 0) const {
    const auto compared = [](const char* name, const ReadResult<Package>& reading,
                             std::optional<std::uint64_t> trailing) {
      // A survey that read every part has completed itself: its one
      // failure, if any, is its completion's.
      ComparedPackage package{name, &*reading, std::nullopt, trailing};
      if (!reading->failures().empty()) package.completion_failure = reading->failures().front();
      return package;
    };
    return compare_packages(compared("a.zpkg", first, 0),
                            compared("b.zpkg", second, second_trailing));
  }
};

Pair pair_of(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
  Pair pair{Package::read(first, {.mode = ReadMode::survey}),
            Package::read(second, {.mode = ReadMode::survey})};
  EXPECT_TRUE(pair.first && pair.second);
  return pair;
}

// One change to the example at a time: the packages differ, and the change is
// said where it belongs. Changed bytes are found in the rebuilt image.
TEST(ComparisonTest, FindsEachKindOfDifference) {
  const struct {
    std::string_view name;
    std::function<void(Application&)> change;
    std::vector<std::string_view> lines;
  } cases[] = {
      {"compiler", [](Application& m) { m.compiler = "1.4.3"; }, {"compiler: 1.4.2 -> 1.4.3\n"}},
      {"blob contents",
       [](Application& m) {
         std::vector<std::uint8_t> table(m.blobs[1].data.bytes().begin(),
                                         m.blobs[1].data.bytes().end());
         table[5] ^= 0xffU;
         m.blobs[1] = zt::make_blob(table);
         zt::index_blobs(m);
       },
       {"blobs: 1 changed\n", "tiles: 2 changed\n",
        "    image     differs from 0x4c005: 1 byte differs, 256 -> 256 bytes\n"}},
      {"segment",
       [](Application& m) { m.tiles[1].segments[1].data_size = 0x40; },
       {"  changed   tile 7\n", "    changed   segment at 0x4e000: dataSize 128 -> 64\n",
        "    image     differs from 0x4e040: 63 bytes differ, 8704 -> 8704 bytes\n"}},
      // The bytes only the larger image holds differ too.
      {"segment grown",
       [](Application& m) { m.tiles[1].segments[1].memory_size = 0x300; },
       {"    image     differs from 0x4e200: 256 bytes differ, 8704 -> 8960 bytes\n"}},
      {"tile added",
       [](Application& m) {
         m.tiles.push_back(TileImage{9, 0, 0, 0, {}});
       },
       {"  added     tile 9: aux1 0, aux2 0, aux3 0, segments 0, imageSize 0\n"}},
      {"tiles reordered",
       [](Application& m) { std::swap(m.tiles[0], m.tiles[1]); },
       {"tiles: reordered\n", "  reordered tiles: in another order\n"}},
      {"binding",
       [](Application& m) {
         m.bindings_1[0].label = "f16";
         m.bindings_1[0].slices[0].length = 28;
       },
       {"  changed   binding weights: label f32 -> f16\n",
        "    changed   slices[0]: length 24 -> 28\n"}},
      // Eight values are shown, more are counted.
      {"values",
       [](Application& m) {
         m.bindings_1[0].values = {1, 2, 3, 4, 5, 6, 7, 8};
         m.bindings_2[0].values = {1, 2, 3, 4, 5, 6, 7, 8, 9};
       },
       {"  changed   binding weights: values 1 2 -> 1 2 3 4 5 6 7 8\n",
        "  changed   binding scratch: values none -> 1 2 3 4 5 6 7 8 ... (9 values)\n"}},
      {"slice added",
       [](Application& m) {
         m.bindings_1[0].slices.push_back(RegionSlice{7, 0x4c800, 0, 8});
       },
       {"  changed   binding weights\n",
        "    added     slices[1]: physicalTile 7, address 0x4c800, offset 0, length 8\n"}},
      {"binding moved to another list",
       [](Application& m) {
         m.bindings_3.push_back(m.bindings_2[0]);
         m.bindings_2.clear();
       },
       {"  changed   binding scratch: list 2 -> 3\n"}},
      {"host exchange",
       [](Application& m) {
         m.host_exchange.startup_offset = 4;
         m.host_exchange.pages[1].size = 0x200;
         m.host_exchange.calls[0].page_refs_2[0].length = 0x80;
       },
       {"  changed   host exchange: startupOffset 0 -> 4\n",
        "  changed   page 2: size 256 -> 512\n", "  changed   call host_print\n",
        "    changed   pageRefs2[0]: length 256 -> 128\n"}},
      {"entry point removed",
       [](Application& m) { m.entry_points.pop_back(); },
       {"  removed   entry point irq: aux 1, externalSyncs 2\n"}},
      {"write",
       [](Application& m) { m.device_config_writes[1].value = 0; },
       {"  changed   write at 0x104: value 0xffffffff -> 0x00000000\n"}},
  };
  const std::vector<std::uint8_t> example = zt::example_bytes();
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> changed = zt::with_model(c.change);
    const Comparison comparison = pair_of(example, changed).compare();
    EXPECT_FALSE(comparison.equal()) << c.name;
    const std::string text = comparison_text(comparison, "a.zpkg", "b.zpkg");
    for (const std::string_view line : c.lines) {
      EXPECT_NE(text.find(line), std::string::npos) << c.name << ": " << line << "in:\n" << text;
    }
    EXPECT_TRUE(text.ends_with("status=differ\n")) << text;
  }
}

// What differs only in storage is no difference: the packages compare equal,
// with notes.
TEST(ComparisonTest, StorageIsNoDifference) {
  zt::PackageOptions plain;  // every blob stored plain
  zt::PackageOptions declared = zt::example_options();
  declared.blob_encodings[0].uncompressed_size = 8192;
  const Application model = zt::example_application();
  const std::vector<std::uint8_t> first = zt::build_package(model, plain);
  const std::vector<std::uint8_t> second = zt::build_package(model, declared);
  const Comparison comparison = pair_of(first, second).compare(16);
  EXPECT_TRUE(comparison.equal());
  const std::string text = comparison_text(comparison, "a.zpkg", "b.zpkg");
  const std::string blob = short_digest(model.blobs[0].digest);
  const std::string stored = std::to_string(zt::compress(model.blobs[0].data.bytes()).size());
  for (const std::string& line :
       {std::string("blobs: equal\n"), std::string("tiles: equal\n"),
        "note: blob " + blob + " is stored none (4096 bytes) in a.zpkg and zstd (" + stored +
            " bytes) in b.zpkg\n",
        std::string("note: b.zpkg has 16 bytes after the message\n"),
        std::string("differingSections=0 status=equal\n")}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "in:\n" << text;
  }
  const Json document = comparison_json(comparison, "a.zpkg", "b.zpkg");
  EXPECT_EQ(document["equal"], true);
  EXPECT_EQ(document["notes"].size(), 2U);
}

// A package that fails validation is compared all the same, with a note;
// the JSON holds each change with what identifies it.
TEST(ComparisonTest, InvalidPackagesAreComparedAsRead) {
  const std::vector<std::uint8_t> invalid =
      zt::with_model([](Application& m) { m.device_config_writes[1].address = 0x106; });
  const Comparison comparison = pair_of(zt::example_bytes(), invalid).compare();
  const Json document = comparison_json(comparison, "a.zpkg", "b.zpkg");
  EXPECT_EQ(document["deviceConfigWrites"],
            Json::parse(R"([{"change": "removed", "address": "0x104",
                             "values": {"value": "0xffffffff"}},
                            {"change": "added", "address": "0x106",
                             "values": {"value": "0xffffffff"}}])"));
  ASSERT_EQ(document["notes"].size(), 1U);
  EXPECT_EQ(document["notes"][0]["kind"], "notValid");
  EXPECT_TRUE(document["notes"][0]["message"].get<std::string>().starts_with(
      "b.zpkg is not valid, and is compared as read: validation failed at deviceConfigWrites[1]"));
}

}  // namespace
}  // namespace zem::toolkit

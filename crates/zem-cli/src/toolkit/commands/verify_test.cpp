// End-to-end tests of `zem-package verify`: a device of several tiles made
// in code, each status and each hint where it belongs, JSON whose every key
// holds one type.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <set>

#include "text_count.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using Words = std::vector<std::uint32_t>;

// Tiles 7 and 8 load the example's template; tile 10 one whose template
// regions hold every word plus one (so it expects every word plus one);
// tile 9 one whose primary region lies far outside its image; tile 3 has no
// template setup.
std::vector<std::uint8_t> device_package() {
  Application model = example_application();
  const TemplateTile tile = make_template_tile();
  std::vector<std::uint8_t> raised = tile.image;
  for (std::size_t offset :
       {0x400U, 0x404U, 0x408U, 0x40cU, 0x410U, 0x414U, 0x800U, 0x804U, 0x808U, 0x80cU}) {
    ++raised[offset];  // no word's low byte is 0xff
  }
  std::vector<std::uint8_t> broken = tile.image;
  broken[0x46] = 0x4f;  // primary region at 0x4fc400
  model.blobs.push_back(make_blob(raised));
  model.blobs.push_back(make_blob(broken));
  model.tiles.push_back(TileImage{8, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  model.tiles.push_back(TileImage{9, 0, 0, 0, {Segment{0x4c000, 0x1000, 3, 0, 0x1000, 0}}});
  model.tiles.push_back(TileImage{10, 0, 0, 0, {Segment{0x4c000, 0x1000, 2, 0, 0x1000, 0}}});
  index_blobs(model);
  return build_package(model, example_options());
}

Words tile_10_record() {
  Words words = make_template_tile().record;
  for (std::uint32_t& w : words) ++w;
  return words;
}

// Collects the scalar type of each key over documents: a key that holds a
// number, a string or a boolean holds the same kind everywhere (null aside,
// for a value that is absent; a count and a list may share a name).
class KeyTypes {
 public:
  void add(const ToolJson& json) {
    if (json.is_object()) {
      for (const auto& [key, value] : json.items()) {
        if (value.is_primitive() && !value.is_null()) types_[key].insert(value.type_name());
        add(value);
      }
    } else if (json.is_array()) {
      for (const ToolJson& item : json) add(item);
    }
  }
  [[nodiscard]] std::string mixed() const {
    std::string keys;
    for (const auto& [key, types] : types_) {
      if (types.size() > 1) keys += key + " ";
    }
    return keys;
  }

 private:
  std::map<std::string, std::set<std::string>> types_;
};

class VerifyTest : public ZemPackageTest {
 protected:
  void SetUp() override { write("device.zpkg", device_package()); }
};

TEST_F(VerifyTest, ADeviceWithSeveralFaultsAtOnce) {
  const Words good = make_template_tile().record;
  Words swapped = good;
  for (std::uint32_t& w : swapped) w = std::byteswap(w);
  std::filesystem::create_directory(dir() + "/dev");
  record(swapped, "dev/tile7.rec");
  record(good, "dev/tile10.rec");  // tile 7's record where tile 10's should be
  // tile 8's record is missing, tile 9 fails before its record is read.

  const ProgramRun text = run({"verify", "device.zpkg", "--records", "dev/tile{tile}.rec"});
  EXPECT_EQ(text.status, tool_negative) << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_TRUE(
      text.out.starts_with("no template setup: tile 3\ntile 7   differ  10 of 10 words "
                           "differ\n"))
      << text.out;
  for (const char* line :
       {"    hint: byte-swapped: every word is the expected one with its four bytes reversed\n",
        "\ntile 8   missing  dev/tile8.rec\n", "\ntile 9   failed  index ",
        "\ntile 10  differ  10 of 10 words differ\n",
        "    hint: record-of-tile: the record is the one tile 7 expects\n",
        "\ntiles 4: 2 differ, 1 missing, 1 failed; 1 tile has no template setup\n"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\nin\n" << text.out;
  }

  // The right records match; a second device is read against the same
  // package in the same run.
  std::filesystem::create_directory(dir() + "/good");
  record(good, "good/tile7.rec");
  record(good, "good/tile8.rec");
  record(tile_10_record(), "good/tile10.rec");
  const ProgramRun two = run({"verify", "device.zpkg", "--tiles", "7-8,10", "--records",
                              "good/tile{tile}.rec", "--records", "dev/tile{tile}.rec", "--quiet"});
  EXPECT_EQ(two.status, tool_negative) << two.err;
  EXPECT_EQ(two.out.find("tile 7   match"), std::string::npos) << two.out;
  EXPECT_NE(two.out.find("devices 2:\n  good/tile{tile}.rec: tiles 3: 3 match\n"),
            std::string::npos)
      << two.out;
  const ProgramRun all_good =
      run({"verify", "device.zpkg", "--tiles", "7,8,10", "--records", "good/tile{tile}.rec"});
  EXPECT_EQ(all_good.status, tool_success) << all_good.out << all_good.err;

  const ProgramRun json = run({"verify", "--json", "device.zpkg", "--records", "dev/tile{tile}.rec",
                               "--records", "good/tile{tile}.rec"});
  EXPECT_EQ(json.status, tool_negative);
  const ToolJson document = ToolJson::parse(json.out);
  EXPECT_EQ(document["noTemplateSetup"], ToolJson::parse("[3]"));
  EXPECT_EQ(document["summary"]["devices"], 2);
  EXPECT_EQ(document["summary"]["missing"], 1);
  const ToolJson& tile_10 = document["devices"][0]["tiles"][3];
  EXPECT_EQ(tile_10["physicalTile"], 10);
  const ToolJson& hints = tile_10["hints"];
  EXPECT_NE(
      std::ranges::find(
          hints, ToolJson::parse(R"({"kind": "record-of-tile", "tile": 7, "change": "none"})")),
      hints.end())
      << hints.dump();
  KeyTypes types;
  types.add(document);
  EXPECT_EQ(types.mixed(), "");

  // Devices side by side, by name: tile 7 differs on dev alone, tile 8 is
  // missing on dev, tile 9 fails on both.
  const ProgramRun named = run({"verify", "device.zpkg", "--quiet", "--records",
                                "A=dev/tile{tile}.rec", "--records", "B=good/tile{tile}.rec"});
  EXPECT_EQ(named.status, tool_negative) << named.err;
  for (const char* line :
       {"device A: records dev/tile{tile}.rec\n",
        "\nhints: 1 byte-swapped, 2 record-of-tile, 1 single-bit\n",
        "devices 2:\n  A: tiles 4: 2 differ, 1 missing, 1 failed; 1 tile has no template setup\n"
        "    hints: 1 byte-swapped, 2 record-of-tile, 1 single-bit\n",
        "across devices: 4 tiles do not match on some device\n"
        "  tile  A     B\n  7     D:bs  .\n  8     M     .\n  9     F     F\n  10    D:rt  .\n"
        "legend: . match, D differ, M missing, F failed, bs byte-swapped, rt record-of-tile; - not "
        "verified; a code after : is the strongest hint\n"
        "on every device: tile 9\non one device only: tiles 7 (A), 8 (A), 10 (A)\n"}) {
    EXPECT_NE(named.out.find(line), std::string::npos) << line << "\nin\n" << named.out;
  }
  const ToolJson across =
      ToolJson::parse(run({"verify", "--json", "device.zpkg", "--records", "A=dev/tile{tile}.rec",
                           "--records", "B=good/tile{tile}.rec"})
                          .out);
  EXPECT_EQ(across["devices"][0]["name"], "A");
  EXPECT_EQ(across["devices"][0]["summary"]["hints"],
            ToolJson::parse(R"([{"kind": "byte-swapped", "tiles": 1},
                                {"kind": "record-of-tile", "tiles": 2},
                                {"kind": "single-bit", "tiles": 1}])"));
  EXPECT_EQ(across["acrossDevices"]["onEveryDevice"], ToolJson::parse("[9]"));
  EXPECT_EQ(across["acrossDevices"]["rows"][0],
            ToolJson::parse(R"({"physicalTile": 7, "failing": 1, "cells": [
              {"status": "differ", "code": "D:bs", "hint": "byte-swapped"},
              {"status": "match", "code": "."}]})"));

  // Every link of the page leads to an anchor the page holds.
  ASSERT_EQ(run({"verify", "device.zpkg", "--quiet", "--records", "A=dev/tile{tile}.rec",
                 "--records", "B=good/tile{tile}.rec", "--html", "fleet.html"})
                .status,
            tool_negative);
  const std::vector<std::uint8_t> bytes = read("fleet.html");
  const std::string page(bytes.begin(), bytes.end());
  std::size_t links = 0;
  for (std::size_t at = page.find("href=\"#"); at != std::string::npos;
       at = page.find("href=\"#", at + 1)) {
    const std::size_t start = at + 7;
    const std::string id = page.substr(start, page.find('"', start) - start);
    EXPECT_NE(page.find("id=\"" + id + "\""), std::string::npos) << id;
    ++links;
  }
  EXPECT_GT(links, 0U);
  EXPECT_NE(page.find("<h2>Across devices</h2>"), std::string::npos);

  // What a whole device's records say, each on a device made to say it.
  std::filesystem::create_directory(dir() + "/empty");
  std::filesystem::create_directory(dir() + "/other");
  for (const char* name : {"other/tile7.rec", "other/tile8.rec", "other/tile10.rec"}) {
    record(Words(12, 0x5a5a5a5a), name);
  }
  std::filesystem::create_directory(dir() + "/zeros");
  for (const char* name : {"zeros/tile7.rec", "zeros/tile8.rec", "zeros/tile10.rec"}) {
    record(Words(12, 0), name);
  }
  std::filesystem::copy(dir() + "/dev", dir() + "/copy");
  std::filesystem::copy(dir() + "/good", dir() + "/good2");
  const struct {
    std::vector<std::string> devices;
    std::string hint;
    bool given = true;
  } wide[] = {
      {{"nodir/tile{tile}.rec"},
       "device hint: no-records: no record file was found for any tile; the directory nodir does "
       "not exist\n"},
      {{"empty/tile{tile}.rec"},
       "device hint: no-records: no record file was found for any tile; the directory empty "
       "exists\n"},
      {{"other/tile{tile}.rec"},
       "device hint: foreign-records: none of the 3 records read is the expected record of any "
       "verified tile of this package\n"},
      // Blank records are each tile's all-zeros, not another package's.
      {{"zeros/tile{tile}.rec"}, "device hint: foreign-records", false},
      {{"dev/tile{tile}.rec", "copy/tile{tile}.rec"},
       "device hint: same-records: every record is byte for byte the one of device "
       "copy/tile{tile}.rec\n"},
      // Two healthy devices agree because both match: no hint.
      {{"good/tile{tile}.rec", "good2/tile{tile}.rec"}, "device hint: same-records", false},
  };
  for (const auto& c : wide) {
    std::vector<std::string> arguments{"verify", "device.zpkg", "--quiet"};
    for (const std::string& device : c.devices)
      arguments.insert(arguments.end(), {"--records", device});
    const ProgramRun run = this->run(arguments);
    EXPECT_EQ(run.out.find(c.hint) != std::string::npos, c.given) << c.hint << "\nin\n" << run.out;
  }
}

// A dump numbered off by one: each record is the one the tile before (or
// after) expects, and the device says so, at either end of the tile numbers.
TEST_F(VerifyTest, ADumpNumberedOffByOne) {
  const TemplateTile tile = make_template_tile();
  const struct {
    std::uint32_t first;  // of three tiles
    int by;               // the tile whose record each record is, from its own
    std::vector<std::uint32_t> read;
    const char* hint;
  } cases[] = {
      {0, -1, {1, 2}, "tile numbered 1 lower: the records are numbered off by -1\n"},
      {4294967293U,
       1,
       {4294967293U, 4294967294U},
       "tile numbered 1 higher: the records are numbered off by 1\n"},
  };
  for (const auto& c : cases) {
    Application model = example_application();
    for (std::uint32_t n = 0; n < 3; ++n) {
      std::vector<std::uint8_t> raised = tile.image;
      for (std::size_t offset :
           {0x400U, 0x404U, 0x408U, 0x40cU, 0x410U, 0x414U, 0x800U, 0x804U, 0x808U, 0x80cU}) {
        raised[offset] = static_cast<std::uint8_t>(raised[offset] + n + 1);
      }
      model.blobs.push_back(make_blob(raised));
      model.tiles.push_back(TileImage{
          c.first + n, 0, 0, 0, {Segment{0x4c000, 0x1000, model.blobs.size() - 1, 0, 0x1000, 0}}});
    }
    index_blobs(model);
    write("fleet.zpkg", build_package(model, example_options()));
    std::filesystem::create_directories(dir() + "/off");
    for (const std::uint32_t t : c.read) {
      Words words = tile.record;
      // Tile t + by's record: raised by its place among the three, plus one.
      for (std::uint32_t& w : words) w += t + static_cast<std::uint32_t>(c.by) - c.first + 1;
      record(words, "off/tile" + std::to_string(t) + ".rec");
    }
    const ProgramRun off =
        run({"verify", "fleet.zpkg", "--tiles", fmt::format("{}-{}", c.first, c.first + 2),
             "--records", "off/tile{tile}.rec"});
    EXPECT_NE(
        off.out.find(fmt::format("device hint: off-by: no record matches its own tile, but "
                                 "each of the 2 records read is the expected record of the ") +
                     c.hint),
        std::string::npos)
        << off.out;
  }
}

// A device of more tiles than their views can show on one page: every grid
// stays, and the page counts the views it leaves out.
TEST_F(VerifyTest, ViewsPastThePagesBoundAreCounted) {
  Application model = example_application();
  for (std::uint32_t t = 100; t < 1124; ++t) {
    model.tiles.push_back(TileImage{t, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  }
  write("many.zpkg", build_package(model, example_options()));
  ASSERT_EQ(run({"verify", "many.zpkg", "--records", "none/tile{tile}.rec", "--html", "many.html"})
                .status,
            tool_negative);
  const std::vector<std::uint8_t> bytes = read("many.html");
  const std::string page(bytes.begin(), bytes.end());
  EXPECT_LE(page.size(), std::size_t{2} << 20);
  // Tile 7 and the 1,024 added, all missing.
  const std::size_t views = occurrences(page, "<section class=\"tile");
  EXPECT_LT(views, 1025U);
  EXPECT_NE(page.find(fmt::format(R"(data-omitted="{0}">{0} tile views and 0 device views do not)",
                                  1025 - views)),
            std::string::npos)
      << views << " views";
}

// Each hint on a record made to have it, in tile 7 of the device.
TEST_F(VerifyTest, EachHintWhereItHolds) {
  const Words good = make_template_tile().record;
  Words late(good.size(), 0);
  std::copy(good.begin(), good.end() - 1, late.begin() + 1);
  Words early(good.begin() + 2, good.end());
  early.insert(early.end(), {0, 0});
  Words flipped = good;
  flipped[4] ^= 1U << 9;
  const Words gathered{100, 200, 300, 400, 500, 600, 7, 8, 9, 10};
  Words longer = good;
  longer.push_back(0xabc);
  Words halves = good;
  for (std::uint32_t& word : halves) word = std::rotl(word, 16);
  Words cut = good;
  std::fill(cut.begin() + 6, cut.end(), 0xffffffff);
  Words stuck = good;
  for (std::uint32_t& word : stuck) word |= 1U << 31;
  const struct {
    const char* name;
    Words record;
    const char* hint;
  } cases[] = {
      {"short", Words(good.begin(), good.begin() + 8),
       R"({"kind": "short", "words": 2, "missing": [{"word": 8, "expected": "0x00000009"},
                                                    {"word": 9, "expected": "0x0000000a"}]})"},
      {"long", longer,
       R"({"kind": "long", "words": 1, "atLeast": false, "read": 1,
           "extra": [{"word": 10, "actual": "0x00000abc"}]})"},
      {"late", late, R"({"kind": "shifted", "words": 1})"},
      {"early", early, R"({"kind": "shifted", "words": -2})"},
      {"unpatched", gathered, R"({"kind": "unpatched"})"},
      {"zeros", Words(10, 0), R"({"kind": "all-zeros"})"},
      {"ones", Words(10, 0xffffffff), R"({"kind": "all-ones"})"},
      {"one bit", flipped, R"({"kind": "single-bit", "bit": 9, "words": 1, "indexes": [4]})"},
      {"halves", halves, R"({"kind": "half-swapped"})"},
      {"cut short", cut, R"({"kind": "truncated", "fromWord": 6, "fill": "0xffffffff"})"},
      {"stuck", stuck, R"({"kind": "stuck-bit", "bit": 31, "stuckAt": 1, "words": 10})"},
  };
  KeyTypes types;
  for (const auto& c : cases) {
    record(c.record, "tile.rec");
    const ProgramRun run =
        this->run({"verify", "--json", "device.zpkg", "--tiles", "7", "--records", "tile.rec"});
    EXPECT_EQ(run.status, tool_negative) << c.name << run.err;
    const ToolJson document = ToolJson::parse(run.out);
    types.add(document);
    const ToolJson& hints = document["devices"][0]["tiles"][0]["hints"];
    EXPECT_NE(std::ranges::find(hints, ToolJson::parse(c.hint)), hints.end())
        << c.name << ": " << hints.dump();
  }
  EXPECT_EQ(types.mixed(), "");

  // --max limits the words listed, never the hints: they hold of the whole
  // record.
  record(flipped, "tile.rec");
  const ProgramRun none_listed = run(
      {"verify", "--json", "device.zpkg", "--tiles", "7", "--records", "tile.rec", "--max", "0"});
  const ToolJson listed = ToolJson::parse(none_listed.out);
  const ToolJson& tile = listed["devices"][0]["tiles"][0];
  EXPECT_TRUE(tile["differences"].empty());
  EXPECT_EQ(tile["hints"],
            ToolJson::parse(R"([{"kind": "single-bit", "bit": 9, "words": 1, "indexes": []}])"));
}

TEST_F(VerifyTest, RecordsOfEveryKindAndBadArguments) {
  const Words good = make_template_tile().record;
  // A directory is unreadable; standard input names one tile's record.
  std::filesystem::create_directory(dir() + "/tile7.rec");
  const ProgramRun unreadable =
      run({"verify", "device.zpkg", "--tiles", "7", "--records", "tile{tile}.rec"});
  EXPECT_EQ(unreadable.status, tool_negative);
  EXPECT_NE(unreadable.out.find("tile 7  unreadable  tile7.rec: Is a directory (os error 21)"),
            std::string::npos)
      << unreadable.out;
  record(good, "stdin.rec");
  const ProgramRun piped =
      run_program("/bin/sh",
                  {"-c", std::string(ZEM_PACKAGE_TOOL_PATH) +
                             " verify device.zpkg --tiles 7 --records - < stdin.rec"},
                  RunSettings{dir(), {}, std::nullopt, {}});
  EXPECT_EQ(piped.status, tool_success) << piped.out << piped.err;
  // One device is said as one.
  record(good, "tile7.one");
  ASSERT_EQ(run({"verify", "device.zpkg", "--tiles", "7", "--records", "tile{tile}.one", "--html",
                 "one.html"})
                .status,
            tool_success);
  const std::vector<std::uint8_t> page = read("one.html");
  const std::string one(page.begin(), page.end());
  EXPECT_NE(one.find("<p>1 device."), std::string::npos);
  // Devices side by side need two.
  EXPECT_EQ(one.find("<h2>Across devices</h2>"), std::string::npos);

  EXPECT_TRUE(failed_with(run({"verify", "device.zpkg", "--records", "one.rec"}),
                          "verify: --records \"one.rec\" has no {tile}: every tile would read the "
                          "same file (or give --tiles with one tile) (see zem-package verify "
                          "--help)"));
  for (const auto& [arguments, message] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--records", "=dev/t{tile}"},
            "verify: --records \"=dev/t{tile}\": the NAME before = is empty (write ./=dev/t{tile} "
            "for a file whose name starts with =)"},
           {{"--records", "A=a/t{tile}", "--records", "A=b/t{tile}"},
            "verify: --records: two devices are named \"A\""},
           {{"--records", "a/t{tile}", "--records", "B=a/t{tile}"},
            "verify: --records: two devices read the same records \"a/t{tile}\""},
       }) {
    std::vector<std::string> all{"verify", "device.zpkg"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    EXPECT_TRUE(failed_with(run(all), message + " (see zem-package verify --help)")) << message;
  }
  // A = after a / or a { belongs to the pattern.
  EXPECT_NE(
      run({"verify", "device.zpkg", "--records", "x/a=b{tile}"}).out.find("missing  x/a=b8\n"),
      std::string::npos);
  EXPECT_TRUE(failed_with(run({"verify", "device.zpkg"}),
                          "verify: give at least one --records PATTERN (see zem-package verify "
                          "--help)"));
  EXPECT_TRUE(failed_with(run({"verify", "device.zpkg", "--tiles", "5", "--records", "t{tile}"}),
                          "device.zpkg: no tile has physical tile number 5",
                          {"the package has tiles 3, 7-10"}));
  EXPECT_TRUE(failed_with(run({"verify", "device.zpkg", "--tiles", "9-2", "--records", "t{tile}"}),
                          "verify: invalid tile list \"9-2\": the range 9-2 runs backwards (see "
                          "zem-package verify --help)"));
}

}  // namespace
}  // namespace zem::testing

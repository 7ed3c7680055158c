// End-to-end tests of `zem-package report`: shards of a fleet verified in
// code, merged; a duplicate device, a document of another package and
// documents that are no verify document refused; the JUnit XML read by a
// real JUnit reader.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <bit>

#include "junit_reader.hpp"
#include "toolkit/report/verify_documents.hpp"
#include "toolkit/report/well_formed_document.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using Words = std::vector<std::uint32_t>;

// The example with tile 10 loading tile 7's template too.
std::vector<std::uint8_t> fleet_package() {
  return with_model([](Application& model) {
    model.tiles.push_back(TileImage{10, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  });
}

class ReportTest : public ZemPackageTest {
 protected:
  // Devices a (every record right), b (tile 7 byte-swapped) and c (tile 7
  // byte-swapped, tile 10 missing), verified in two shards, a and b then c;
  // and the documents that are refused.
  void SetUp() override {
    write("fleet.zpkg", fleet_package());
    const Words good = make_template_tile().record;
    Words swapped = good;
    for (std::uint32_t& w : swapped) w = std::byteswap(w);
    for (const char* device : {"a", "b", "c"})
      std::filesystem::create_directory(dir() + "/" + device);
    record(good, "a/tile7.rec");
    record(good, "a/tile10.rec");
    record(swapped, "b/tile7.rec");
    record(good, "b/tile10.rec");
    record(swapped, "c/tile7.rec");
    shard("shard1.json", "fleet.zpkg", {"a/tile{tile}.rec", "b/tile{tile}.rec"});
    shard("shard2.json", "fleet.zpkg", {"c/tile{tile}.rec"});
    shard("again.json", "fleet.zpkg", {"b/tile{tile}.rec"});
    shard("foreign.json", package("other.zpkg"), {"a/tile{tile}.rec"});
    const ProgramRun inspect = run({"inspect", "--json", "fleet.zpkg"});
    write("inspect.json", as_bytes(inspect.out));
    const std::string first(as_text("shard1.json"));
    write("cut.json", as_bytes(first.substr(0, first.size() / 2)));
    std::string older = first;
    older.replace(older.find("\"format\": 4"), 11, "\"format\": 3");
    write("older.json", as_bytes(older));
    write("bad.json", as_bytes("{\"format\": 4,\n  \"devices\": [} "));
    write("end.json", as_bytes("{\"format\": 4}}"));  // wrong at its last byte, not cut short
    // Whole before its NUL byte: a parser that stopped there would take it.
    write("nul.json", as_bytes(std::string("{\"format\": 4}\0}", 15)));
    std::string twice(as_text("shard2.json"));
    twice.replace(twice.find("\"physicalTile\": 10"), 18, "\"physicalTile\": 7");
    write("twice.json", as_bytes(twice));
    // Arrays in arrays, as deep as a document may nest and one level more.
    for (const std::size_t levels : {std::size_t{17}, std::size_t{18}}) {
      write(fmt::format("deep{}.json", levels),
            as_bytes(std::string(levels, '[') + std::string(levels, ']')));
    }
  }

  void shard(const std::string& name, const std::string& package,
             const std::vector<std::string>& patterns) {
    std::vector<std::string> args{"verify", "--json", package};
    for (const std::string& pattern : patterns) {
      args.push_back("--records");
      args.push_back(pattern);
    }
    const ProgramRun run = this->run(args);
    ASSERT_NE(run.out, "") << run.err;
    write(name, as_bytes(run.out));
  }

  [[nodiscard]] std::string as_text(const std::string& name) const {
    const std::vector<std::uint8_t> bytes = read(name);
    return {bytes.begin(), bytes.end()};
  }
};

TEST_F(ReportTest, ShardsMergedAndDocumentsRefused) {
  const auto usage = [](std::string_view message) {
    return "report: " + std::string(message) + " (see zem-package report --help)";
  };
  const std::string digest = ToolJson::parse(as_text("shard1.json"))["buildDigest"];
  const std::string other = ToolJson::parse(as_text("foreign.json"))["buildDigest"];
  ASSERT_NE(digest, other);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string error;  // empty: merged
  } cases[] = {
      {"two shards", {"shard1.json", "shard2.json"}, ""},
      {"a device twice",
       {"shard1.json", "shard2.json", "again.json"},
       "device b/tile{tile}.rec is in both shard1.json and again.json"},
      {"another package",
       {"shard1.json", "foreign.json"},
       "shard1.json and foreign.json are verify documents of different packages: build digest " +
           digest + " and " + other},
      {"not verify",
       {"shard1.json", "inspect.json"},
       "inspect.json: not a verify document (as zem-package verify --json writes): it lacks "
       "format, devices, noTemplateSetup or summary"},
      {"cut short", {"cut.json"}, ""},
      {"older format",
       {"older.json"},
       "older.json: a verify document of format 3; report reads format 4"},
      {"not JSON", {"bad.json"}, "bad.json: not valid JSON at line 2, column 15"},
      {"not JSON at the end", {"end.json"}, "end.json: not valid JSON at line 1, column 14"},
      {"a NUL byte", {"nul.json"}, "nul.json: not valid JSON at line 1, column 14"},
      {"a tile twice",
       {"twice.json"},
       "twice.json: not a verify document (as zem-package verify --json writes): devices[0] "
       "names tile 7 twice"},
      // Read on several threads, the first failing document in the order
      // given is the one named.
      {"first failure",
       {"shard1.json", "older.json", "bad.json", "none.json", "shard2.json"},
       "older.json: a verify document of format 3; report reads format 4"},
      {"nested to the limit",
       {"deep17.json"},
       "deep17.json: not a verify document (as zem-package verify --json writes): it lacks "
       "format, devices, noTemplateSetup or summary"},
      {"nested past the limit",
       {"deep18.json"},
       "deep18.json: not a verify document: nested deeper than 16"},
      {"missing", {"none.json"}, "none.json: No such file or directory (os error 2)"},
      {"junit nowhere",
       {"shard1.json", "--junit", "x/r.xml"},
       usage("--junit x/r.xml: the directory x does not exist")},
      {"html nowhere",
       {"shard1.json", "--html", "x/r.html"},
       usage("--html x/r.html: the directory x does not exist")},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"report"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun run = this->run(args);
    if (std::string_view(c.name) == "cut short") {
      EXPECT_EQ(run.status, tool_failure) << c.name;
      EXPECT_TRUE(
          run.err.starts_with("zem-package: error: cut.json: the JSON ends early, at line "))
          << run.err;
    } else if (c.error.empty()) {
      EXPECT_EQ(run.status, tool_negative) << c.name << run.err;
    } else {
      EXPECT_TRUE(failed_with(run, c.error)) << c.name;
    }
  }

  const ProgramRun text = run({"report", "shard1.json", "shard2.json"});
  for (const char* line : {
           "devices 3:\n  a/tile{tile}.rec: tiles 2: 2 match (from shard1.json)\n",
           // Tile 7's record byte-swapped is tile 10's byte-swapped too.
           "\n  c/tile{tile}.rec: tiles 2: 1 differ, 1 missing; hints: 1 byte-swapped, 1 "
           "record-of-tile (from shard2.json)\n",
           "\nall devices: tiles 6: 3 match, 2 differ, 1 missing; hints: 2 byte-swapped, 2 "
           "record-of-tile\n",
           "\non every device: no tile\non one device only: tile 10 (c/tile{tile}.rec)\n",
       }) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\nin\n" << text.out;
  }
  // The first line counts the documents merged.
  EXPECT_NE(text.out.find("(build digest " + digest + "), 2 documents\n"), std::string::npos)
      << text.out;
  const ProgramRun one = run({"report", "shard2.json"});
  EXPECT_NE(one.out.find("(build digest " + digest + "), 1 document\n"), std::string::npos)
      << one.out;

  const ProgramRun json = run({"report", "--json", "shard1.json", "shard2.json", "--junit",
                               "fleet.xml", "--html", "fleet.html"});
  EXPECT_EQ(json.status, tool_negative) << json.err;
  const ToolJson document = ToolJson::parse(json.out);
  EXPECT_EQ(document["summary"]["devices"], 3);
  EXPECT_EQ(document["summary"]["differ"], 2);
  EXPECT_EQ(document["summary"]["hints"], ToolJson::parse(R"([{"kind": "byte-swapped", "tiles": 2},
                                {"kind": "record-of-tile", "tiles": 2}])"));
  EXPECT_EQ(document["acrossDevices"]["onOneDevice"][0]["name"], "c/tile{tile}.rec");
  std::string codes;
  for (const ToolJson& row : document["acrossDevices"]["rows"]) {
    codes += std::to_string(row["physicalTile"].get<std::uint32_t>()) + ":";
    for (const ToolJson& cell : row["cells"]) {
      codes += ' ';
      codes += cell.is_null() ? "-" : cell["code"].get_ref<const std::string&>();
    }
    codes += "\n";
  }
  EXPECT_EQ(codes, "7: . D:bs D:bs\n10: . . M\n");
  EXPECT_TRUE(exists("fleet.html"));

  const JunitRead read = read_junit(dir(), "fleet.xml");
  if (read.status == junit_reader_missing) GTEST_SKIP() << read.err;
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(junit_counts(read.document),
            "a/tile{tile}.rec: 3 0 1 / 3 0 1\n"
            "b/tile{tile}.rec: 3 1 1 / 3 1 1\n"
            "c/tile{tile}.rec: 3 2 1 / 3 2 1\n");
  const ToolJson& c_tiles = read.document["suites"][2]["cases"];
  EXPECT_EQ(c_tiles[1]["message"], "differ: 10 words differ");
  EXPECT_NE(c_tiles[1]["text"].get<std::string>().find("hint: byte-swapped"), std::string::npos)
      << c_tiles[1];
}

// The fast reader takes what verify wrote and gives what the exact reader
// gives; a document edited past what it reads exactly is left to the exact
// reader, or read the same by both.
TEST_F(ReportTest, TheFastReaderAgreesWithTheExactOne) {
  const auto edited = [&](const std::string& name, std::string_view from, std::string_view to) {
    std::string text = as_text(name);
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  const struct {
    const char* name;
    std::string text;
    bool fast;  // read by the fast reader
  } cases[] = {
      {"shard1", as_text("shard1.json"), true},
      {"shard2", as_text("shard2.json"), true},
      {"foreign", as_text("foreign.json"), true},
      {"a float count",
       edited("shard2.json", "\"differingWords\": ", "\"differingWords\": 0.5, \"x\": "), true},
      {"minus zero", edited("shard2.json", "\"physicalTile\": 7", "\"physicalTile\": -0"), false},
      {"a key twice", edited("shard2.json", "\"status\": ", "\"status\": \"match\", \"status\": "),
       false},
      {"a float in a hint", edited("shard2.json", "\"kind\": ", "\"z\": 1.5, \"kind\": "), false},
      {"a float tile", edited("shard2.json", "\"physicalTile\": 7", "\"physicalTile\": 7.0"),
       false},
      {"not JSON", as_text("bad.json"), false},
      // Numbers at the edges of what a tile number takes.
      {"tile 0", edited("shard2.json", "\"physicalTile\": 7", "\"physicalTile\": 0"), true},
      {"the largest tile",
       edited("shard2.json", "\"physicalTile\": 7", "\"physicalTile\": 4294967295"), true},
      {"a tile past the largest",
       edited("shard2.json", "\"physicalTile\": 7", "\"physicalTile\": 4294967296"), false},
      {"a negative number in a hint", edited("shard2.json", "\"kind\": ", "\"z\": -2, \"kind\": "),
       true},
      // A first difference that is not whole is shown as none, by both.
      {"a difference without its actual word", edited("shard2.json", "\"actual\": ", "\"got\": "),
       true},
      {"a difference whose actual word is a number",
       edited("shard2.json", "\"actual\": ", "\"actual\": 1, \"got\": "), true},
      // Every member missing or of the wrong kind is the exact reader's to
      // refuse.
      {"no package", edited("shard2.json", "\"package\": ", "\"pkg\": "), false},
      {"a package that is a number",
       edited("shard2.json", "\"package\": ", "\"package\": 1, \"pkg\": "), false},
      {"tiles without setups not a list",
       edited("shard2.json", "\"noTemplateSetup\": ", "\"noTemplateSetup\": 1, \"x\": "), false},
      {"a device without records", edited("shard2.json", "\"records\": ", "\"pattern\": "), false},
      {"a device whose tiles are no list",
       edited("shard2.json", "\"tiles\": ", "\"tiles\": 1, \"x\": "), false},
      {"a tile without a status", edited("shard2.json", "\"status\": ", "\"state\": "), false},
      {"a status that is a number",
       edited("shard2.json", "\"status\": ", "\"status\": 1, \"state\": "), false},
      {"hints that are no list", edited("shard2.json", "\"hints\": ", "\"hints\": {}, \"x\": "),
       false},
      {"differences that are no list",
       edited("shard2.json", "\"differences\": ", "\"differences\": {}, \"x\": "), false},
  };
  for (const auto& c : cases) {
    const std::optional<toolkit::VerifyDocument> fast =
        toolkit::read_well_formed_document(c.text, "d.json");
    EXPECT_EQ(fast.has_value(), c.fast) << c.name;
    if (!fast) continue;
    const auto exact = toolkit::parse_verify_document_exactly(c.text, "d.json");
    ASSERT_TRUE(exact.has_value()) << c.name;
    EXPECT_EQ(*fast, *exact) << c.name;
  }
}

}  // namespace
}  // namespace zem::testing

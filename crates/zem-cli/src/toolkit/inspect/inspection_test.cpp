#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "damaged_packages.hpp"
#include "toolkit/inspect/inspection_json.hpp"
#include "toolkit/inspect/inspection_text.hpp"
#include "format/hex.hpp"
#include "toolkit/package/package_layout.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;
using Json = nlohmann::ordered_json;

// What `inspect` gathers for a package file holding `bytes`.
struct Inspected {
  ReadResult<Package> package;
  Inspection inspection;
};

std::unique_ptr<Inspected> inspect(std::span<const std::uint8_t> bytes) {
  auto result = std::make_unique<Inspected>(
      Inspected{Package::read(bytes, {.mode = ReadMode::survey}), Inspection{}});
  result->inspection.path = "package.zpkg";
  result->inspection.check = check_package(result->package);
  if (result->package) result->inspection.package = &*result->package;
  return result;
}

// The document as a reader gets it: through its text.
Json document_of(const Inspection& inspection) {
  return Json::parse(json_text(inspection_json(inspection)));
}

TEST(InspectTest, TileLayoutSpansEverySegment) {
  TileImage tile{7,
                 0,
                 0,
                 0,
                 {Segment{0x4d000, 0x10, 0, 0, 0, 0}, Segment{0x4c800, 0, 0, 0, 0, 0},
                  Segment{0x4c900, 0x100, 0, 0, 0, 0}}};
  const TileLayout layout = tile_layout(tile);
  EXPECT_EQ(layout.load_base, 0x4c800U);
  EXPECT_EQ(layout.image_size, 0x810U);
  // Segments that no rule has checked cannot make the size wrap.
  tile.segments = {Segment{0, 0, 0, 0, 0, 0}, Segment{0xfffffff0, 0xffffffff, 0, 0, 0, 0}};
  EXPECT_EQ(tile_layout(tile).image_size, 0xfffffff0ULL + 0xffffffffULL);
  EXPECT_EQ(tile_layout(TileImage{}).load_base, std::nullopt);
}

TEST(InspectTest, CountsSegmentUsesPerBlob) {
  PackageModel model;
  model.blobs.resize(2);
  model.tiles = zt::example_application().tiles;
  model.tiles[0].segments.push_back(Segment{0x4d000, 0, 99, 0, 0, 0});  // no such blob
  // One that names blob 0 but takes no bytes from it.
  model.tiles[0].segments.push_back(Segment{0x4d100, 0x10, 0, 0, 0, 0});
  EXPECT_EQ(segments_per_blob(model), (std::vector<std::size_t>{1, 2}));
  RegionSlice slice{7, 0xffffffff, 0, 0xffffffffffffffff};
  EXPECT_EQ(slice_end(slice), std::nullopt);
  slice.length = 2;
  EXPECT_EQ(slice_end(slice), 0x100000001ULL);
}

TEST(InspectTest, JsonHoldsTheWholeExample) {
  const std::vector<std::uint8_t> bytes = zt::example_bytes();
  const auto inspected = inspect(bytes);
  const Json document = document_of(inspected->inspection);
  const Application model = zt::example_application();

  std::vector<std::string> keys;
  for (const auto& [key, value] : document.items()) keys.push_back(key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"format", "package", "valid", "checks", "error", "failures",
                                      "unlistedBlobFailures", "hints", "compiler", "blobs", "tiles",
                                      "bindings", "hostExchange", "entryPoints",
                                      "deviceConfigWrites", "buildDigest", "notes"}));
  EXPECT_EQ(document["format"], 4);
  EXPECT_EQ(document["valid"], true);
  EXPECT_TRUE(document["error"].is_null());
  EXPECT_EQ(document["checks"]["buildDigest"], "ok");
  EXPECT_EQ(document["compiler"], "1.4.2");

  const Json& blob = document["blobs"][0];
  EXPECT_EQ(blob["digest"], hex_bytes(model.blobs[0].digest));
  EXPECT_EQ(blob["compression"], "zstd");
  // Sizes are 64-bit in the model: strings, which no reader rounds.
  EXPECT_EQ(blob["storedSize"], std::to_string(zt::compress(model.blobs[0].data.bytes()).size()));
  EXPECT_EQ(blob["uncompressedSize"], "4096");
  EXPECT_EQ(blob["declaredUncompressedSize"], "4096");
  EXPECT_EQ(blob["segments"], 1);
  EXPECT_EQ(document["blobs"][1]["compression"], "none");
  EXPECT_EQ(document["blobs"][1]["storedSize"], "256");
  EXPECT_EQ(document["blobs"][1]["segments"], 2);

  const Json& tile = document["tiles"][1];
  EXPECT_EQ(tile["physicalTile"], 7);
  EXPECT_EQ(tile["aux3"], 3);
  EXPECT_EQ(tile["loadBase"], "0x4c000");
  EXPECT_EQ(tile["imageSize"], 0x2200);
  EXPECT_EQ(tile["segments"][1],
            Json::parse(R"({"address": "0x4e000", "end": "0x4e200", "memorySize": 512,
                            "blob": "1", "blobOffset": "128", "dataSize": 128, "aux": 0})"));

  EXPECT_EQ(document["bindings"][0],
            Json::parse(R"({"list": 1, "name": "weights", "label": "f32", "values": [1, 2],
                            "slices": [{"physicalTile": 7, "address": "0x4c400",
                                        "end": "0x4c418", "length": "24", "offset": "0"}]})"));
  EXPECT_EQ(document["bindings"][1]["list"], 2);

  const Json& host = document["hostExchange"];
  EXPECT_EQ(host["startupPage"], 1);
  EXPECT_EQ(host["requiredPages"], Json::parse("[1]"));
  EXPECT_EQ(host["startupOffset"], "0");
  EXPECT_EQ(host["pages"][1], Json::parse(R"({"id": 2, "size": "256"})"));
  EXPECT_EQ(host["calls"][0]["name"], "host_print");
  EXPECT_EQ(host["calls"][0]["pageRefs1"][0],
            Json::parse(R"({"page": 1, "offset": "16", "length": "32", "aux64": "0"})"));
  EXPECT_EQ(host["calls"][0]["pageRefs2"][0]["length"], "256");

  EXPECT_EQ(document["entryPoints"][1],
            Json::parse(R"({"name": "irq", "aux": 1, "externalSyncs": 2})"));
  EXPECT_EQ(document["deviceConfigWrites"][1],
            Json::parse(R"({"address": "0x104", "value": "0xffffffff"})"));

  const std::string digest = hex_bytes(model.build_digest());
  EXPECT_EQ(document["buildDigest"],
            Json({{"stored", digest}, {"computed", digest}, {"matches", true}}));
}

TEST(InspectTest, JsonOfAPackageThatFailsACheckStillShowsItsContents) {
  const std::vector<std::uint8_t> bytes =
      zt::tweaked([](auto root) { root.getBuildDigest()[0] ^= 1U; });
  const Json document = document_of(inspect(bytes)->inspection);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["error"]["stage"], "buildDigest");
  EXPECT_EQ(document["error"]["element"], "buildDigest");
  EXPECT_EQ(document["error"]["message"], R"(Invalid("build digest mismatch"))");
  EXPECT_EQ(document["error"]["details"][0]["name"], "stored");
  EXPECT_EQ(document["failures"], Json::array({document["error"]}));
  EXPECT_EQ(document["checks"]["validation"], "ok");
  EXPECT_EQ(document["checks"]["buildDigest"], "failed");
  EXPECT_EQ(document["buildDigest"]["matches"], false);
  EXPECT_NE(document["buildDigest"]["stored"], document["buildDigest"]["computed"]);
  EXPECT_EQ(document["tiles"].size(), 2U);
}

// Past a failing blob the rest of the table and the structure are still
// shown: every blob that passed with its digest, the one that failed null.
TEST(InspectTest, JsonOfAPackageWhoseBlobFailsShowsWhatWasRead) {
  const std::vector<std::uint8_t> bytes =
      zt::tweaked([](auto root) { root.getBlobs()[0].getDigest()[0] ^= 1U; });
  const Json document = document_of(inspect(bytes)->inspection);
  EXPECT_EQ(document["error"]["element"], "blobs[0].digest");
  EXPECT_EQ(document["checks"]["structure"], "ok");
  EXPECT_EQ(document["checks"]["validation"], "skipped");
  ASSERT_EQ(document["blobs"].size(), 2U);
  EXPECT_TRUE(document["blobs"][0]["digest"].is_null());
  EXPECT_EQ(document["blobs"][1]["digest"], hex_bytes(zt::example_application().blobs[1].digest));
  EXPECT_EQ(document["blobs"][1]["storedSize"], "256");
  EXPECT_EQ(document["tiles"].size(), 2U);
  EXPECT_TRUE(document["buildDigest"]["computed"].is_null());

  const Json unreadable = document_of(inspect(std::vector<std::uint8_t>{})->inspection);
  std::vector<std::string> keys;
  for (const auto& [key, value] : unreadable.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"format", "package", "valid", "checks", "error",
                                            "failures", "unlistedBlobFailures", "hints"}));
  EXPECT_TRUE(unreadable["error"]["element"].is_null());
}

// The element that failed is marked where the tables show it, and its
// failure said again at the end of its section.
TEST(InspectTest, TextMarksTheFailingElement) {
  const struct {
    std::string_view name;
    std::function<std::vector<std::uint8_t>()> bytes;
    std::string_view marked;
    std::string_view section_line;
  } cases[] = {
      {"write",
       [] {
         return zt::with_model([](Application& m) { m.device_config_writes[1].address = 0x106; });
       },
       "! 0x106    0xffffffff\n",
       "! validation failed at deviceConfigWrites[1] (address 0x106): "
       "Invalid(\"unaligned or duplicate device configuration write\")\n"},
      {"tile", [] { return zt::with_model([](Application& m) { m.tiles[0].physical_tile = 7; }); },
       "! tile 7: load base 0x4c000, image 8704 bytes, aux 1 2 3, segments 2\n",
       "! validation failed at tiles[1] (earlier tile tiles[0]): "
       "Invalid(\"duplicate physical tile 7\")\n"},
      {"segment",
       [] {
         return zt::with_model([](Application& m) { m.tiles[1].segments[1].blob_offset = 0x100; });
       },
       "  ! 1  0x4e000  0x4e200     512     1          256   128    0\n",
       "! validation failed at tiles[1].segments[1] (blobOffset 256, dataSize 128, blob size "
       "256): Invalid(\"invalid segment on tile 7\")\n"},
      {"call",
       [] {
         return zt::with_model([](Application& m) { m.host_exchange.calls[0].invocations = 0; });
       },
       "  ! host_print            0     0     0          2\n",
       "! validation failed at hostExchange.calls[0]: "
       "Invalid(\"host call host_print has no invocations\")\n"},
      // The host exchange's line stands for its startup page and offset.
      {"startup page",
       [] { return zt::with_model([](Application& m) { m.host_exchange.startup_page = 9; }); },
       "! host exchange: startup page 9 at offset 0,",
       "! validation failed at hostExchange.startupPage (startupPage 9): "
       "Invalid(\"invalid host startup protocol\")\n"},
      {"startup offset",
       [] {
         return zt::with_model([](Application& m) { m.host_exchange.startup_offset = 0x1000; });
       },
       "! host exchange: startup page 1 at offset 4096,",
       "! validation failed at hostExchange.startupOffset (startupOffset 4096, page size 4096): "
       "Invalid(\"invalid host startup protocol\")\n"},
      {"tile list", [] { return zt::out_of_bounds_pointer(3); }, "! tiles: not read\n",
       "! structure failed at tiles: Capnp(failed: "},
      // Read, and empty: its count is 0, though the failure is the list's.
      {"empty tile list", [] { return zt::with_model([](Application& m) { m.tiles.clear(); }); },
       "! tiles: 0\n", "! validation failed at tiles: Invalid(\"application has no tiles\")\n"},
  };
  for (const auto& c : cases) {
    const std::string text = inspection_text(inspect(c.bytes())->inspection);
    EXPECT_NE(text.find(c.marked), std::string::npos) << c.name << ":\n" << text;
    EXPECT_NE(text.find(c.section_line), std::string::npos) << c.name << ":\n" << text;
    EXPECT_EQ(std::ranges::count(text, '!'), 2) << c.name << ":\n" << text;
  }
}

TEST(InspectTest, JsonTextIsValidEvenForBytesThatAreNotUtf8) {
  Inspection inspection;
  inspection.path = "package-\xff.zpkg";
  const Json document = Json::parse(json_text(inspection_json(inspection)));
  EXPECT_EQ(document["package"], "package-\xef\xbf\xbd.zpkg");  // U+FFFD
}

TEST(InspectTest, TextShowsSummaryAndTables) {
  const std::vector<std::uint8_t> bytes = zt::example_bytes();
  const std::string text = inspection_text(inspect(bytes)->inspection);
  const std::string digest = hex_bytes(zt::example_application().build_digest());
  const std::string compressed_size =
      std::to_string(zt::compress(zt::example_application().blobs[0].data.bytes()).size());
  for (const std::string& line : {
           std::string("package       package.zpkg\n"),
           std::string("compiler      1.4.2\n"),
           "build digest  " + digest + " (matches)\n",
           std::string("check         valid\n"),
           std::string("  tile 7: load base 0x4c000, image 8704 bytes, aux 1 2 3, segments 2\n"),
           std::string("    1  0x4e000  0x4e200     512     1          128   128    0\n"),
           std::string("     2  scratch  \"\"                  1\n"),
           std::string("    host_print     2     2       0     256    0\n"),
           std::string("  irq     1               2\n"),
           std::string("  0x104    0xffffffff\n"),
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "in:\n" << text;
  }
  // The blob rows, word by word: the columns' padding is the table's business.
  const std::vector<std::string> blob_rows = {
      "0 " + hex_bytes(zt::example_application().blobs[0].digest) + " zstd " + compressed_size +
          " 4096 4096 1",
      "1 " + hex_bytes(zt::example_application().blobs[1].digest) + " none 256 256 - 2",
  };
  std::istringstream lines(text);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string row;
    for (std::string word; words >> word;) row += (row.empty() ? "" : " ") + word;
    if (row.size() > 2 && row[1] == ' ' && row.find(" zstd ") != std::string::npos) {
      rows.push_back(row);
    } else if (row.size() > 2 && row[1] == ' ' && row.find(" none ") != std::string::npos) {
      rows.push_back(row);
    }
  }
  EXPECT_EQ(rows, blob_rows);
}

// A binding's values are listed up to eight, then counted.
TEST(InspectTest, BindingValuesAreListedUpToEight) {
  const std::vector<std::uint8_t> bytes = zt::with_model([](Application& m) {
    m.bindings_1[0].values = {1, 2, 3, 4, 5, 6, 7, 8};
    m.bindings_2[0].values = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  });
  const std::string text = inspection_text(inspect(bytes)->inspection);
  EXPECT_NE(text.find(" 1 2 3 4 5 6 7 8 ... (9 values) "), std::string::npos) << text;
  EXPECT_EQ(text.find("(8 values)"), std::string::npos) << text;
}

TEST(InspectTest, TextOfAnUnreadablePackageIsItsCheck) {
  const auto inspected = inspect(std::vector<std::uint8_t>{});
  EXPECT_EQ(inspection_text(inspected->inspection),
            "package       package.zpkg\n"
            "check         framing failed: " +
                inspected->package.error().error.to_string() + "\n");
}

}  // namespace
}  // namespace zem::toolkit

// End-to-end tests of `zem-package pack`, with `unpack` before it: the round
// trip over the packages the tests build, and the manifests pack refuses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "package_reads.hpp"
#include "format/hex.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

namespace fs = std::filesystem;
using zem::hex_bytes;

struct RoundTrip {
  std::string_view name;
  std::function<std::vector<std::uint8_t>()> bytes;
  // Whether the writer wrote it as pack does, so that it comes back byte
  // for byte; otherwise only its model and build digest do.
  bool written_as_pack = true;
};

void PrintTo(const RoundTrip& trip, std::ostream* out) { *out << trip.name; }

// Tiles 20 to 27, each with a compressed blob of its own and the example's
// plain blob.
Application many_tiles() {
  Application model = example_application();
  for (std::uint32_t tile = 20; tile < 28; ++tile) {
    std::vector<std::uint8_t> contents(0x800 + tile);
    for (std::size_t i = 0; i < contents.size(); ++i) {
      contents[i] = static_cast<std::uint8_t>(i % (tile + 1));
    }
    model.blobs.push_back(make_blob(contents));
    model.tiles.push_back(
        TileImage{tile,
                  tile,
                  0,
                  1,
                  {Segment{0x4c000, 0x1000, model.blobs.size() - 1, 0, 0x800, tile},
                   Segment{0x4d000, 0x100, 1, 0x10, 0x20, 0}}});
  }
  return model;
}

std::vector<RoundTrip> round_trips() {
  return {
      {"CompressedAndPlain", [] { return example_bytes(); }},
      {"AllPlain", [] { return build_package(example_application()); }},
      {"ManyTiles",
       [] {
         PackageOptions options;
         options.blob_encodings.assign(12, BlobEncoding{true, std::nullopt, 7});
         options.blob_encodings[1].compressed = false;
         return build_package(many_tiles(), options);
       }},
      {"OneTileOneEmptyBlob",
       [] {
         Application model = example_application();
         model.blobs = {make_blob({})};
         model.tiles = {TileImage{5, 0, 0, 0, {Segment{0x4c000, 0x10, 0, 0, 0, 0}}}};
         model.bindings_1.clear();
         model.bindings_2.clear();
         return build_package(model, example_options());
       }},
      {"DeclaredSizeAboveContents",
       [] {
         PackageOptions options = example_options();
         options.blob_encodings[0].uncompressed_size = 8192;
         return build_package(example_application(), options);
       },
       false},
  };
}

class RoundTripTest : public ZemPackageTest, public ::testing::WithParamInterface<RoundTrip> {
 protected:
  std::string text_of(const std::string& name) const {
    const std::vector<std::uint8_t> bytes = read(name);
    return {bytes.begin(), bytes.end()};
  }
};

TEST_P(RoundTripTest, UnpackThenPackGivesThePackageBack) {
  const std::vector<std::uint8_t> original = GetParam().bytes();
  const std::string package = write("original.zpkg", original);
  const auto model = read_application(original);
  ASSERT_TRUE(model) << model.error().to_string();

  const ProgramRun unpacked = run({"unpack", package, "dir"});
  ASSERT_EQ(unpacked.status, tool_success) << unpacked.err;
  EXPECT_TRUE(match_schemas({{"manifest", text_of("dir/manifest.json")}}));
  for (std::size_t i = 0; i < model->blobs.size(); ++i) {
    EXPECT_EQ(read("dir/blobs/" + std::to_string(i) + ".bin"),
              std::vector<std::uint8_t>(model->blobs[i].data.bytes().begin(),
                                        model->blobs[i].data.bytes().end()));
  }
  // The counts unpack reports are of the files it wrote.
  std::size_t frames = 0;
  for (const auto& entry : fs::directory_iterator(dir() + "/dir/blobs")) {
    frames += entry.path().extension() == ".zst" ? 1U : 0U;
  }
  EXPECT_EQ(unpacked.err, fmt::format("blobs={} frames={} tiles={} directory=dir\n",
                                      model->blobs.size(), frames, model->tiles.size()));

  const ProgramRun packed = run({"pack", "dir", "-o", "packed.zpkg"});
  ASSERT_EQ(packed.status, tool_success) << packed.err;
  EXPECT_EQ(packed.err, fmt::format("blobs={} bytes={} buildDigest={} package=packed.zpkg\n",
                                    model->blobs.size(), read("packed.zpkg").size(),
                                    hex_bytes(model->build_digest())));
  const ProgramRun compared = run({"compare", package, "packed.zpkg"});
  EXPECT_EQ(compared.status, tool_success) << compared.out;
  const auto repacked = read_application(read("packed.zpkg"));
  ASSERT_TRUE(repacked) << repacked.error().to_string();
  EXPECT_EQ(*repacked, *model);
  if (GetParam().written_as_pack) {
    EXPECT_EQ(read("packed.zpkg"), original);
  }

  // What pack wrote comes back byte for byte, and the same directory packs
  // to the same bytes again, on one thread as on several.
  ASSERT_EQ(run({"unpack", "packed.zpkg", "again"}).status, tool_success);
  ASSERT_EQ(run({"pack", "again", "-o", "again.zpkg"}, std::nullopt, {"ZEM_THREADS=1"}).status,
            tool_success);
  ASSERT_EQ(run({"pack", "dir", "-o", "twice.zpkg"}, std::nullopt, {"ZEM_THREADS=3"}).status,
            tool_success);
  EXPECT_EQ(read("again.zpkg"), read("packed.zpkg"));
  EXPECT_EQ(read("twice.zpkg"), read("packed.zpkg"));
}

INSTANTIATE_TEST_SUITE_P(Packages, RoundTripTest, ::testing::ValuesIn(round_trips()),
                         [](const auto& c) { return std::string(c.param.name); });

// The unpacked example's manifest, to change.
class ManifestEdit {
 public:
  explicit ManifestEdit(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_);
    document_ = ToolJson::parse(in);
  }
  ToolJson& operator*() { return document_; }
  ~ManifestEdit() { std::ofstream(path_) << document_.dump(2); }

 private:
  std::string path_;
  ToolJson document_;
};

struct BadDirectory {
  std::string_view name;
  std::function<void(const std::string& dir)> change;
  std::string_view error;  // after "zem-package: error: "
};

void PrintTo(const BadDirectory& bad, std::ostream* out) { *out << bad.name; }

std::vector<BadDirectory> bad_directories() {
  const auto edit = [](std::function<void(ToolJson&)> change) {
    return [change](const std::string& dir) {
      ManifestEdit manifest(dir + "/manifest.json");
      change(*manifest);
    };
  };
  const auto text = [](std::string manifest) {
    return
        [manifest](const std::string& dir) { std::ofstream(dir + "/manifest.json") << manifest; };
  };
  return {
      {"BlobFileIsADirectory",
       [](const std::string& dir) {
         fs::remove(dir + "/blobs/1.bin");
         fs::create_directory(dir + "/blobs/1.bin");
       },
       "dir/manifest.json: blobs[1].file: blobs/1.bin: Is a directory (os error 21)"},
      {"MissingBlobFile", [](const std::string& dir) { fs::remove(dir + "/blobs/1.bin"); },
       "dir/manifest.json: blobs[1].file: blobs/1.bin: No such file or directory (os error 2)"},
      {"BlobLargerThanAPackageStores",
       [](const std::string& dir) {
         // A sparse file: refused by its size, before it is read.
         fs::resize_file(dir + "/blobs/1.bin", std::uintmax_t{1} << 29U);
       },
       "dir/manifest.json: blobs[1]: blobs/1.bin holds 536870912 bytes, more than one blob "
       "stores (536870911)"},
      {"BlobFileOutsideTheDirectory",
       edit([](ToolJson& m) { m["blobs"][1]["file"] = "../original.zpkg"; }),
       "dir/manifest.json: blobs[1].file: \"../original.zpkg\" is not a file inside the "
       "manifest's directory (a relative path without \".\", \"..\" or empty parts)"},
      {"DuplicateBlobs", edit([](ToolJson& m) { m["blobs"].push_back(m["blobs"][1]); }),
       "dir/manifest.json: blobs[2].digest: is the digest of blobs[1] too: a package holds each "
       "blob once"},
      {"UnknownKey", edit([](ToolJson& m) { m["tiles"][0]["colour"] = "red"; }),
       "dir/manifest.json: tiles[0]: unknown key \"colour\""},
      // Bytes that would not show as themselves in one line are escaped;
      // a space and a tilde, at the edges of what shows, are not.
      {"UnknownKeyOfControlAndWideBytes",
       edit([](ToolJson& m) { m["tiles"][0]["a \x1f~\x7f\xc3\xa9"] = "red"; }),
       "dir/manifest.json: tiles[0]: unknown key \"a \\x1f~\\x7f\\xc3\\xa9\""},
      {"KeyTwice", text(R"({"format": 1, "compiler": "1", "blobs": [{"file": "a", "file": "b"}]})"),
       "dir/manifest.json: blobs[0].file: appears twice in one object"},
      {"MissingKey", edit([](ToolJson& m) { m["hostExchange"].erase("calls"); }),
       "dir/manifest.json: hostExchange.calls: is missing"},
      {"AddressOutOfRange",
       edit([](ToolJson& m) { m["tiles"][0]["segments"][0]["address"] = "0x1ffffffff"; }),
       "dir/manifest.json: tiles[0].segments[0].address: 0x1ffffffff is out of range (at most "
       "0xffffffff)"},
      {"CountOutOfRange",
       edit([](ToolJson& m) { m["tiles"][1]["aux1"] = std::uint64_t{1} << 32U; }),
       "dir/manifest.json: tiles[1].aux1: 4294967296 is out of range (at most 4294967295)"},
      {"OffsetNotDecimal",
       edit([](ToolJson& m) { m["tiles"][1]["segments"][1]["blobOffset"] = 128; }),
       "dir/manifest.json: tiles[1].segments[1].blobOffset: expected a decimal string such as "
       "\"4096\", got 128"},
      {"SegmentNamesNoBlob", edit([](ToolJson& m) { m["tiles"][1]["segments"][1]["blob"] = "17"; }),
       "dir/manifest.json: tiles[1].segments[1].blob: no blob 17"},
      {"SegmentNamesAnotherBlobsDigest",
       edit([](ToolJson& m) { m["tiles"][0]["segments"][0]["blob"] = "0"; }),
       "dir/manifest.json: tiles[0].segments[0].blobDigest: d9c76fa34978... is not the digest "
       "of blob 0 (2db03c286234...)"},
      {"NotJson", text("{\"format\": 1,"),
       "dir/manifest.json: not JSON: parse error at line 1, column 14: syntax error while "
       "parsing object key - unexpected end of input; expected string literal"},
      {"NestedTooDeep", text(std::string(40, '[') + std::string(40, ']')),
       "dir/manifest.json: [0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]: values nested "
       "deeper than 16 levels"},
      // JSON text holds no NUL byte: nothing after one is ignored.
      {"NulAfterTheManifest",
       [](const std::string& dir) { fs::resize_file(dir + "/manifest.json", 64U << 20U); },
       "dir/manifest.json: not JSON: a NUL byte at line 162, column 1"},
      {"NulInTheManifest", text(std::string("{\"format\": 1,\n  \"a\0\": 2}", 24)),
       "dir/manifest.json: not JSON: a NUL byte at line 2, column 5"},
      {"ManifestPastTheLargestSize",
       [](const std::string& dir) { fs::resize_file(dir + "/manifest.json", (64U << 20U) + 1); },
       "dir/manifest.json: 67108865 bytes are more than a manifest may hold (67108864)"},
      {"ManifestIsADirectory",
       [](const std::string& dir) {
         fs::remove(dir + "/manifest.json");
         fs::create_directory(dir + "/manifest.json");
       },
       "dir/manifest.json: Is a directory (os error 21)"},
      {"InvalidModel", edit([](ToolJson& m) { m["tiles"][0]["physicalTile"] = 7; }),
       "dir/manifest.json: refusing to write an invalid package: validation failed at tiles[1] "
       "(earlier tile tiles[0]): Invalid(\"duplicate physical tile 7\")"},
  };
}

class BadDirectoryTest : public ZemPackageTest,
                         public ::testing::WithParamInterface<BadDirectory> {};

TEST_P(BadDirectoryTest, IsRefusedAtItsPlaceAndNothingIsWritten) {
  ASSERT_EQ(run({"unpack", package("original.zpkg"), "dir"}).status, tool_success);
  GetParam().change(dir() + "/dir");
  EXPECT_TRUE(failed_with(run({"pack", "dir", "-o", "out.zpkg"}), GetParam().error));
  EXPECT_FALSE(exists("out.zpkg"));
}

INSTANTIATE_TEST_SUITE_P(Manifests, BadDirectoryTest, ::testing::ValuesIn(bad_directories()),
                         [](const auto& c) { return std::string(c.param.name); });

// A manifest of the largest size, valid JSON to its last byte, is read; a
// byte more is refused by the table above.
TEST_F(ZemPackageTest, PackReadsAManifestOfTheLargestSize) {
  ASSERT_EQ(run({"unpack", package("original.zpkg"), "dir"}).status, tool_success);
  const std::string manifest = dir() + "/dir/manifest.json";
  const std::uintmax_t size = fs::file_size(manifest);
  std::ofstream(manifest, std::ios::app) << std::string((64U << 20U) - size, ' ');
  ASSERT_EQ(fs::file_size(manifest), 64U << 20U);
  const ProgramRun packed = run({"pack", "dir", "-o", "out.zpkg"});
  ASSERT_EQ(packed.status, tool_success) << packed.err;
  EXPECT_EQ(read("out.zpkg"), example_bytes());
}

TEST_F(ZemPackageTest, PackTakesEditedBlobsOnlyWhenAsked) {
  ASSERT_EQ(run({"unpack", package("original.zpkg"), "dir"}).status, tool_success);
  // The compressed blob's contents, edited: its stored frame no longer
  // holds them, and its digest no longer names them.
  const std::string blob = dir() + "/dir/blobs/0.bin";
  std::vector<std::uint8_t> contents = read("dir/blobs/0.bin");
  contents[0x400] ^= 0xff;
  write("dir/blobs/0.bin", contents);
  const std::string stated = hex_bytes(example_model().blobs[0].digest);
  const std::string found = hex_bytes(make_blob(contents).digest);

  EXPECT_TRUE(failed_with(run({"pack", "dir", "-o", "out.zpkg"}),
                          "dir/manifest.json: blobs[0].digest: " + stated.substr(0, 12) +
                              "... is not the digest of blobs/0.bin (" + found.substr(0, 12) +
                              "...)",
                          {"give --update-digests to take the digests of the blobs' files"}));
  EXPECT_FALSE(exists("out.zpkg"));

  const ProgramRun updated = run({"pack", "dir", "-o", "out.zpkg", "--update-digests"});
  ASSERT_EQ(updated.status, tool_success) << updated.err;
  EXPECT_TRUE(updated.err.starts_with(
      "note: blobs[0].digest: " + stated.substr(0, 12) + " is now " + found.substr(0, 12) +
      ", the digest of blobs/0.bin\nnote: blobs[0]: blobs/0.zst does not hold the blob's "
      "contents (blobs failed at blobs[0].digest (compression zstd"))
      << updated.err;
  // The segments name the blob by position, and follow it.
  const auto model = read_application(read("out.zpkg"));
  ASSERT_TRUE(model) << model.error().to_string();
  EXPECT_EQ(model->blobs[0].digest, make_blob(contents).digest);
  EXPECT_EQ(model->tiles[1].segments[0].blob, 0U);
  EXPECT_NE(model->build_digest(), example_model().build_digest());
}

TEST_F(ZemPackageTest, PackWritesWholeOrNothing) {
  ASSERT_EQ(run({"unpack", package("original.zpkg"), "dir"}).status, tool_success);
  EXPECT_TRUE(failed_with(run({"pack", "dir", "-o", "dir/manifest.json", "--force"}),
                          "dir/manifest.json: refusing to write over the manifest being read"));
  EXPECT_TRUE(failed_with(run({"pack", "dir", "-o", "original.zpkg"}),
                          "original.zpkg: exists; give --force to overwrite it"));
  EXPECT_EQ(run({"pack", "dir", "-o", "original.zpkg", "--force"}).status, tool_success);

  // A blob large enough that writing it fails part way: the file size
  // limit stands in for a full disk, and a directory without write
  // permission (which binds root too without its capabilities) for a
  // read-only one. Neither leaves a file behind, under any name.
  std::vector<std::uint8_t> large(std::size_t{1} << 20U);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 31 >> 7);
  write("dir/blobs/1.bin", large);
  {
    ManifestEdit manifest(dir() + "/dir/manifest.json");
    (*manifest)["blobs"][1].erase("digest");
    (*manifest)["tiles"][0]["segments"][0].erase("blobDigest");
    (*manifest)["tiles"][1]["segments"][1].erase("blobDigest");
  }
  ASSERT_EQ(::mkdir((dir() + "/out").c_str(), 0755), 0);
  const std::vector<std::string> pack{"pack", "dir", "-o", "out/large.zpkg"};
  std::vector<std::string> limited{"-c", "trap '' XFSZ; ulimit -f 256; exec \"$0\" \"$@\"",
                                   ZEM_PACKAGE_TOOL_PATH};
  limited.insert(limited.end(), pack.begin(), pack.end());
  EXPECT_TRUE(failed_with(run_program("/bin/sh", limited, RunSettings{dir(), {}, std::nullopt, {}}),
                          "out/large.zpkg: File too large (os error 27)"));
  EXPECT_TRUE(fs::is_empty(dir() + "/out"));

  if (fs::exists("/usr/bin/setpriv")) {
    ASSERT_EQ(::chmod((dir() + "/out").c_str(), 0555), 0);
    const ProgramRun denied =
        run_program(ZEM_PACKAGE_TOOL_PATH, pack,
                    RunSettings{dir(),
                                {},
                                std::nullopt,
                                {"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all"}});
    EXPECT_TRUE(failed_with(denied, "out/large.zpkg: Permission denied (os error 13)"));
    EXPECT_TRUE(fs::is_empty(dir() + "/out"));
    ::chmod((dir() + "/out").c_str(), 0755);
  }
  const ProgramRun written = run(pack);
  EXPECT_EQ(written.status, tool_success) << written.err;
  EXPECT_EQ(read_application(read("out/large.zpkg"))->blobs[1].data.size(), large.size());

  // Every temporary name the writer tries taken already (the shell's
  // process becomes the tool's, so the names carry its number): the write
  // is refused in the system's words, not as an output to --force. With
  // the last name free it is written.
  for (const int taken : {64, 63}) {
    const std::string script = "for i in $(seq 0 " + std::to_string(taken - 1) +
                               "); do : > out/.taken.zpkg.$$-$i.tmp; done; exec \"$0\" \"$@\"";
    std::vector<std::string> crowded{"-c",  script, ZEM_PACKAGE_TOOL_PATH, "pack",
                                     "dir", "-o",   "out/taken.zpkg"};
    const ProgramRun run =
        run_program("/bin/sh", crowded, RunSettings{dir(), {}, std::nullopt, {}});
    if (taken == 64) {
      EXPECT_TRUE(failed_with(run, "out/taken.zpkg: File exists (os error 17)"));
      EXPECT_FALSE(fs::exists(dir() + "/out/taken.zpkg"));
    } else {
      EXPECT_EQ(run.status, tool_success) << run.err;
    }
    for (const auto& entry : fs::directory_iterator(dir() + "/out")) {
      if (entry.path().filename().string().starts_with(".taken")) fs::remove(entry.path());
    }
  }
}

}  // namespace
}  // namespace zem::testing

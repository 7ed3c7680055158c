// Each kind of manifest value at the edges of what it takes: the last value
// taken and the first refused, with the place and words of the refusal.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "model/model_structure.hpp"
#include "package_builder.hpp"
#include "zem_package/manifest.hpp"

namespace zem {
namespace {

using Json = nlohmann::json;

// The example's manifest, as unpack writes it: blob 0 compressed with its
// frame kept, blob 1 plain.
Json example_manifest() {
  const Application example = zem::testing::example_application();
  PackageManifest manifest;
  manifest.compiler = example.compiler;
  for (std::size_t i = 0; i < example.blobs.size(); ++i) {
    ManifestBlob blob;
    blob.file = "blobs/" + std::to_string(i) + ".bin";
    blob.digest = example.blobs[i].digest;
    manifest.blobs.push_back(blob);
  }
  manifest.blobs[0].compression = compression_zstd;
  manifest.blobs[0].frame = "blobs/0.zst";
  copy_structure(example, manifest);
  return Json::parse(manifest_text(manifest));
}

// What parsing says of the manifest with one value changed: "" when it is
// taken, else "PLACE: MESSAGE".
std::string parsed(const std::string& pointer, const Json& value) {
  Json manifest = example_manifest();
  manifest[Json::json_pointer(pointer)] = value;
  const std::string text = manifest.dump();
  const auto result =
      parse_manifest({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  if (result) return "";
  return result.error().place + ": " + result.error().message;
}

TEST(ManifestReaderTest, EachKindOfValueHoldsAtItsEdges) {
  const std::string x38(38, 'x');
  const std::string a63(63, 'a');
  const struct {
    std::string pointer;
    Json value;
    std::string said;
  } cases[] = {
      // Addresses: "0x" and lower-case hex digits, at most 32 bits.
      {"/tiles/0/segments/0/address", "0x0", ""},
      {"/tiles/0/segments/0/address", "0xffffffff", ""},
      {"/tiles/0/segments/0/address", "0x100000000",
       "tiles[0].segments[0].address: 0x100000000 is out of range (at most 0xffffffff)"},
      {"/tiles/0/segments/0/address", "0x",
       "tiles[0].segments[0].address: expected an address such as \"0x4c000\", got \"0x\""},
      {"/tiles/0/segments/0/address", "0xA",
       "tiles[0].segments[0].address: expected an address such as \"0x4c000\", got \"0xA\""},
      // Whole numbers, and a value shown cut short past 40 characters.
      {"/tiles/0/aux1", 4294967295U, ""},
      {"/tiles/0/aux1", -1, "tiles[0].aux1: -1 is out of range (at least 0)"},
      {"/tiles/0/aux1", 1.5,
       "tiles[0].aux1: expected a whole number from 0 to 4294967295, got 1.5"},
      {"/tiles/0/aux1", x38,
       "tiles[0].aux1: expected a whole number from 0 to 4294967295, got \"" + x38 + "\""},
      {"/tiles/0/aux1", x38 + "x",
       "tiles[0].aux1: expected a whole number from 0 to 4294967295, got \"" + x38 + "x..."},
      // Decimal strings: no leading zero, at most 64 bits.
      {"/tiles/0/segments/0/blobOffset", "18446744073709551615", ""},
      {"/tiles/0/segments/0/blobOffset", "18446744073709551616",
       "tiles[0].segments[0].blobOffset: 18446744073709551616 is out of range (at most "
       "18446744073709551615)"},
      {"/tiles/0/segments/0/blobOffset", "01",
       "tiles[0].segments[0].blobOffset: expected a decimal string such as \"4096\", got \"01\""},
      {"/tiles/0/segments/0/blobOffset", "",
       "tiles[0].segments[0].blobOffset: expected a decimal string such as \"4096\", got \"\""},
      // Words: all eight digits.
      {"/deviceConfigWrites/0/value", "0xffffffff", ""},
      {"/deviceConfigWrites/0/value", "0x1",
       "deviceConfigWrites[0].value: expected a 32-bit word such as \"0x000001c8\", got \"0x1\""},
      // Digests: 64 lower-case hex digits.
      {"/blobs/1/digest", a63,
       "blobs[1].digest: expected a digest of 64 lower-case hex digits, got \"" +
           a63.substr(0, 39) + "..."},
      // Levels: 1 to 22, and only for a compressed blob.
      {"/blobs/0/level", 1, ""},
      {"/blobs/0/level", 22, ""},
      {"/blobs/0/level", 0, "blobs[0].level: 0 is out of range (at least 1)"},
      {"/blobs/0/level", 23, "blobs[0].level: 23 is out of range (at most 22)"},
      {"/blobs/1/level", 3, "blobs[1].level: only a zstd blob has one"},
      // A segment's blob: a position in the table.
      {"/tiles/0/segments/0/blob", "2", "tiles[0].segments[0].blob: no blob 2"},
      // Files: relative, without ".", ".." or empty parts.
      {"/blobs/1/file", "a/b", ""},
      {"/blobs/1/file", "a//b",
       "blobs[1].file: \"a//b\" is not a file inside the manifest's directory (a relative path "
       "without \".\", \"..\" or empty parts)"},
      {"/blobs/1/file", "a/",
       "blobs[1].file: \"a/\" is not a file inside the manifest's directory (a relative path "
       "without \".\", \"..\" or empty parts)"},
      {"/blobs/1/file", "./a",
       "blobs[1].file: \"./a\" is not a file inside the manifest's directory (a relative path "
       "without \".\", \"..\" or empty parts)"},
      {"/blobs/1/file", "/a",
       "blobs[1].file: \"/a\" is not a file inside the manifest's directory (a relative path "
       "without \".\", \"..\" or empty parts)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parsed(c.pointer, c.value), c.said) << c.pointer << " = " << c.value.dump();
  }
}

}  // namespace
}  // namespace zem

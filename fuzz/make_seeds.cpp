// Writes seed corpora for the fuzz targets from the test package builder:
//
//   zem-make-fuzz-seeds DIRECTORY   writes DIRECTORY/package_reader/*,
//                                   DIRECTORY/template_record/*,
//                                   DIRECTORY/record_explanation/* and
//                                   DIRECTORY/manifest_reader/*
//   zem-make-fuzz-seeds --regressions DIRECTORY
//                                   writes the hostile inputs that once found
//                                   faults, for the committed regression corpus

#include <algorithm>
#include <bit>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "zem_package/manifest.hpp"

namespace {

namespace t = zem::testing;

std::vector<std::uint8_t> template_input(std::uint32_t load_base,
                                         std::span<const std::uint8_t> record,
                                         std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> input = t::words_to_bytes(std::vector<std::uint32_t>{load_base});
  input.push_back(static_cast<std::uint8_t>(record.size()));
  input.push_back(static_cast<std::uint8_t>(record.size() >> 8));
  input.insert(input.end(), record.begin(), record.end());
  input.insert(input.end(), image.begin(), image.end());
  return input;
}

void write_package_seeds(const std::filesystem::path& directory) {
  std::filesystem::create_directories(directory);
  const zem::Application example = t::example_application();
  t::write_file(directory / "example", t::build_package(example, t::example_options()));
  t::write_file(directory / "plain", t::build_package(example));

  zem::Application bigger = example;
  bigger.host_exchange.calls.push_back(
      zem::HostCall{"second", 1, 2, 3, {}, {zem::HostPageRef{2, 4, 0, 8}}});
  bigger.bindings_3.push_back(
      zem::Binding{"third", "u8", {7}, {zem::RegionSlice{3, 0x4c010, 0, 0x10}}});
  bigger.tiles.push_back(zem::TileImage{
      9,
      0,
      0,
      0,
      {zem::Segment{0x4c000, 0, 0, 0, 0, 0}, zem::Segment{0x4c100, 0x40, 1, 0x10, 0x20, 0}}});
  t::write_file(directory / "bigger", t::build_package(bigger, t::example_options()));

  t::PackageOptions broken = t::example_options();
  broken.tweak = [](zem::schema::Application::Builder root) { root.setFormatVersion(3); };
  t::write_file(directory / "bad_header", t::build_package(example, broken));
}

// The manifest of `model`, its blobs in files named by position, the first
// compressed, with its frame kept, the second at a level of its own.
zem::PackageManifest manifest_of(const zem::Application& model) {
  zem::PackageManifest manifest;
  manifest.compiler = model.compiler;
  for (std::size_t i = 0; i < model.blobs.size(); ++i) {
    zem::ManifestBlob blob;
    blob.file = "blobs/" + std::to_string(i) + ".bin";
    blob.digest = model.blobs[i].digest;
    if (i < 2) blob.compression = zem::compression_zstd;
    if (i == 0) {
      blob.frame = "blobs/0.zst";
      blob.declared_size = model.blobs[i].data.size();
    }
    if (i == 1) blob.level = 19;
    manifest.blobs.push_back(std::move(blob));
  }
  manifest.tiles = model.tiles;
  manifest.bindings_1 = model.bindings_1;
  manifest.bindings_2 = model.bindings_2;
  manifest.bindings_3 = model.bindings_3;
  manifest.host_exchange = model.host_exchange;
  manifest.entry_points = model.entry_points;
  manifest.device_config_writes = model.device_config_writes;
  return manifest;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  t::write_file(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void write_manifest_seeds(const std::filesystem::path& directory) {
  std::filesystem::create_directories(directory);
  write_text(directory / "example", zem::manifest_text(manifest_of(t::example_application())));
  zem::PackageManifest without_digests = manifest_of(t::example_application());
  for (zem::ManifestBlob& blob : without_digests.blobs) blob.digest.reset();
  write_text(directory / "without_digests", zem::manifest_text(without_digests));
}

void write_template_seeds(const std::filesystem::path& directory) {
  std::filesystem::create_directories(directory);
  const t::TemplateTile tile = t::make_template_tile();
  const std::vector<std::uint8_t> record = t::words_to_bytes(tile.record);
  t::write_file(directory / "template_tile", template_input(tile.load_base, record, tile.image));
}

// Appends `value`'s `size` low bytes, least significant first.
void put(std::vector<std::uint8_t>& input, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    input.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The template tile's image in one segment with two binding slices over its
// regions, and records that differ in ways that have hints.
void write_explanation_seeds(const std::filesystem::path& directory) {
  std::filesystem::create_directories(directory);
  const t::TemplateTile tile = t::make_template_tile();
  std::vector<std::uint32_t> swapped = tile.record;
  for (std::uint32_t& word : swapped) word = std::byteswap(word);
  std::vector<std::uint32_t> flipped = tile.record;
  flipped[3] ^= 1U << 5;
  const std::pair<const char*, std::vector<std::uint32_t>> records[] = {
      {"byte_swapped", swapped}, {"single_bit", flipped}, {"short", {1, 2, 3}}};
  for (const auto& [name, words] : records) {
    std::vector<std::uint8_t> input;
    put(input, tile.load_base, 4);
    const std::vector<std::uint8_t> record = t::words_to_bytes(words);
    put(input, record.size(), 2);
    input.insert(input.end(), record.begin(), record.end());
    put(input, 1, 1);  // one segment: address, memory size, blob, offset, data size
    for (const auto& [value, size] : {std::pair<std::uint64_t, std::size_t>{tile.load_base, 4},
                                      {tile.image.size(), 2},
                                      {0, 1},
                                      {0, 2},
                                      {tile.image.size() - 0x100, 2}}) {
      put(input, value, size);
    }
    put(input, 2, 1);  // two slices: this tile?, address, offset, length
    for (const std::uint32_t address : {tile.load_base + 0x400, tile.load_base + 0x800}) {
      for (const auto& [value, size] :
           {std::pair<std::uint64_t, std::size_t>{0, 1}, {address, 4}, {0, 2}, {8, 8}}) {
        put(input, value, size);
      }
    }
    input.insert(input.end(), tile.image.begin(), tile.image.end());
    t::write_file(directory / name, input);
  }
}

// Inputs that found faults: each made a small file cost far more memory or
// work than it holds, or reached past the end of a buffer.
void write_regressions(const std::filesystem::path& directory) {
  const auto packages = directory / "package_reader";
  const auto templates = directory / "template_record";
  std::filesystem::create_directories(packages);
  std::filesystem::create_directories(templates);

  // Entry points declared as 2^29 - 1 zero-sized structs in one tag word.
  t::RawPackage amplified(t::build_package(t::example_application(), t::example_options()));
  const std::size_t at = amplified.root_pointer(8);
  const std::size_t tag = amplified.append(((std::uint64_t{1} << 29) - 1) << 2);
  amplified.set(at, t::RawPackage::list_pointer(at, tag, 7, 0));
  t::write_file(packages / "amplified_entry_points", amplified.bytes());

  // A framing that claims a 4 GiB segment in a 16-byte file.
  t::write_file(packages / "framing_claims_4_gib",
                t::words_to_bytes(std::vector<std::uint32_t>{0, 0x20000000, 0, 0}));

  // A blob whose declared uncompressed size is 2^63.
  t::PackageOptions huge = t::example_options();
  huge.blob_encodings[0].uncompressed_size = std::uint64_t{1} << 63;
  t::write_file(packages / "uncompressed_size_2_pow_63",
                t::build_package(t::example_application(), huge));

  // The template tile with region counts of 2^20 - 1 words and a patch table
  // pointer past the image.
  t::TemplateTile tile = t::make_template_tile();
  const std::vector<std::uint8_t> counts =
      t::words_to_bytes(std::vector<std::uint32_t>{0x196fffff, 0x197fffff});
  std::copy(counts.begin(), counts.end(), tile.image.begin() + 0x40 + 12);
  t::write_file(templates / "huge_region_counts", template_input(tile.load_base, {}, tile.image));

  // Manifests that would cost far more than they hold, or reach past a
  // field's range: arrays nested twenty thousand deep, an address of
  // forty digits, a key given twice, a number no double holds.
  const auto manifests = directory / "manifest_reader";
  std::filesystem::create_directories(manifests);
  write_text(manifests / "nested_arrays", std::string(20000, '[') + std::string(20000, ']'));
  write_text(manifests / "address_of_forty_digits",
             R"({"format": 1, "compiler": "", "blobs": [], "tiles": [{"physicalTile": 0, )"
             R"("aux1": 0, "aux2": 0, "aux3": 0, "segments": [{"address": "0x)" +
                 std::string(40, 'f') + R"(", "memorySize": 0, "blob": "0"}]}]})");
  write_text(manifests / "key_twice", R"({"format": 1, "format": 1})");
  write_text(manifests / "number_past_doubles", "99990000000157727E001390");
  t::write_file(templates / "load_base_above_regions",
                template_input(0xfffffff0, {}, t::make_template_tile().image));
}

}  // namespace

int main(int argc, char** argv) {
  const bool regressions = argc == 3 && std::string(argv[1]) == "--regressions";
  if (argc != 2 && !regressions) {
    std::fputs("usage: zem-make-fuzz-seeds [--regressions] DIRECTORY\n", stderr);
    return 2;
  }
  try {
    const std::filesystem::path directory = argv[argc - 1];
    if (regressions) {
      write_regressions(directory);
      return 0;
    }
    write_package_seeds(directory / "package_reader");
    write_template_seeds(directory / "template_record");
    write_explanation_seeds(directory / "record_explanation");
    write_manifest_seeds(directory / "manifest_reader");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zem-make-fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}

#include <cstring>

#include "package_builder.hpp"

namespace zem::testing {
namespace {

void put_words(std::vector<std::uint8_t>& image, std::size_t offset,
               std::initializer_list<std::uint32_t> words) {
  const std::vector<std::uint32_t> list(words);
  const std::vector<std::uint8_t> bytes = words_to_bytes(list);
  std::memcpy(image.data() + offset, bytes.data(), bytes.size());
}

}  // namespace

TemplateTile make_template_tile() {
  TemplateTile tile;
  tile.load_base = 0x4c000;
  tile.image.assign(0x1000, 0);
  // The setup: primary region 0x4c400 (6 words), secondary 0x4c800 (4
  // words), patch table pointer at 0x4cc00. An untested word holds the first
  // word's pattern, and the pointer word has upper bits set: both are ignored.
  put_words(tile.image, 0x40,
            {0x22bbffe0, 0x1944c400, 0x1954c800, 0x19600006, 0x19700004, 0x22bbffe0, 0, 0, 0,
             0x1920001b, 0x4fb2f004, 0xabc4cc00});
  put_words(tile.image, 0x400, {100, 200, 300, 400, 500, 600});
  put_words(tile.image, 0x800, {7, 8, 9, 10});
  put_words(tile.image, 0xc00, {0x4cf00});
  // First group: positions 0, 1 and 3; position 0 takes the short delta -2,
  // positions 1 and 3 the long deltas 0x100 and 0xffffffff (that is, -1).
  // Second group: position 1 takes the short delta 5. The zero words after
  // the groups run to the image end and are ignored.
  put_words(
      tile.image, 0xf00,
      {0x00010000, 0b1011, 0b001, 0x0000fffe, 0x100, 0xffffffff, 0x00010001, 0b1, 0b1, 0x00000005});
  tile.record = {98, 456, 300, 399, 500, 600, 7, 13, 9, 10};
  tile.diagnostic_line =
      "physicalTile=7 primary=0x4c400 primaryWords=6 secondary=0x4c800 secondaryWords=4 "
      "patchTable=0x4cc00";
  return tile;
}

Application example_application() {
  Application model;
  model.compiler = "1.4.2";
  const TemplateTile tile = make_template_tile();
  std::vector<std::uint8_t> table(0x100);
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  model.blobs.push_back(make_blob(tile.image));
  model.blobs.push_back(make_blob(table));
  index_blobs(model);

  model.tiles.push_back(TileImage{3, 0, 0, 0, {Segment{0x4c000, 0x100, 1, 0, 0x100, 0}}});
  model.tiles.push_back(TileImage{
      7,
      1,
      2,
      3,
      {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}, Segment{0x4e000, 0x200, 1, 0x80, 0x80, 0}}});
  model.bindings_1.push_back(Binding{"weights", "f32", {1, 2}, {RegionSlice{7, 0x4c400, 0, 24}}});
  model.bindings_2.push_back(Binding{"scratch", "", {}, {RegionSlice{3, 0x4c000, 0, 0x100}}});
  model.host_exchange = HostExchange{
      0,
      1,
      0,
      {HostPage{1, 0x1000}, HostPage{2, 0x100}},
      {1},
      {HostCall{
          "host_print", 0, 0, 1, {HostPageRef{1, 0x10, 0, 0x20}}, {HostPageRef{2, 0, 0, 0x100}}}}};
  model.entry_points = {EntryPoint{"main", 0, 0}, EntryPoint{"irq", 1, 2}};
  model.device_config_writes = {DeviceConfigWrite{0x100, 1}, DeviceConfigWrite{0x104, 0xffffffff}};
  return model;
}

PackageOptions example_options() {
  PackageOptions options;
  BlobEncoding compressed;
  compressed.compressed = true;
  options.blob_encodings = {compressed};
  return options;
}

}  // namespace zem::testing

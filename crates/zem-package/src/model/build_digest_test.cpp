// Tests of the build digest.
//
// The serialization is captured through a collecting sink and pinned byte for
// byte: against small worked examples (a model with compiler "abc", one tile,
// one entry point) transcribed as hex,
// and against an item-by-item listing for a model where every field has a
// distinct value, so that a change in any item's width or place fails. The
// hashing side is checked separately: the block-buffered stream must give the
// plain SHA-256 of the captured bytes, however the items fall across blocks.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "model/build_stream.hpp"
#include "blobs/sha256.hpp"
#include "zem_package/application.hpp"
#include "model/build_digest.hpp"

namespace zem {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Collects the stream instead of hashing it.
struct CollectingSink {
  Bytes bytes;
  void append(std::span<const std::uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
  }
};

Bytes stream_of(const Application& app) {
  CollectingSink sink;
  build_stream::put_application(sink, app);
  return std::move(sink.bytes);
}

std::string to_hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += fmt::format("{:02x}", byte);
  }
  return text;
}

// Bytes from a transcription such as "02 00 00 00".
Bytes hex(std::string_view text) {
  Bytes bytes;
  std::string digits;
  for (const char c : text) {
    if (c != ' ') {
      digits += c;
    }
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes zeros(std::size_t count) { return Bytes(count, 0); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Bytes slice_of(const Bytes& bytes, std::size_t begin, std::size_t end) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
               bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

// An independent little-endian encoder for the item-by-item listing. It knows
// the encodings of items, not the order of the stream.
class Listing {
 public:
  Listing& u32(std::uint32_t value) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes_.push_back(static_cast<std::uint8_t>((value >> shift) & 0xffU));
    }
    return *this;
  }
  Listing& u64(std::uint64_t value) {
    for (unsigned shift = 0; shift < 64; shift += 8) {
      bytes_.push_back(static_cast<std::uint8_t>((value >> shift) & 0xffU));
    }
    return *this;
  }
  Listing& count(std::uint64_t value) { return u64(value); }
  Listing& string(std::string_view text) {
    u64(text.size());
    return raw(text);
  }
  Listing& raw(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  Listing& raw(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  [[nodiscard]] const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// The 132-byte stream of a model whose compiler is "abc" and whose lists are
// all empty, item by item.
Bytes abc_model_stream() {
  return concat({
      hex("02 00 00 00"),                              // format version
      hex("05 00 00 00 00 00 00 00"), ascii("zem21"),  // target
      hex("00 c0 04 00"),                              // 0x4c000
      hex("00 c0 09 00"),                              // 0x9c000
      hex("03 00 00 00 00 00 00 00 61 62 63"),         // compiler "abc"
      zeros(8),                                        // blob count
      zeros(8),                                        // tile count
      zeros(3 * 8),                                    // the three binding list counts
      zeros(4 + 4 + 8),                                // aux, startup_page, startup_offset
      zeros(3 * 8),                                    // pages, required_pages, calls counts
      zeros(8),                                        // entry point count
      zeros(8),                                        // device configuration write count
  });
}

// Offsets of items within the framing example.
constexpr std::size_t tile_count_at = 44;
constexpr std::size_t entry_count_at = 116;
constexpr std::size_t write_count_at = 124;

Application framing_application() {
  Application app;
  app.compiler = "abc";
  return app;
}

// The tile of the tile example: tile 5, one segment.
TileImage example_tile() {
  return TileImage{.physical_tile = 5,
                   .aux_1 = 0,
                   .aux_2 = 0,
                   .aux_3 = 0,
                   .segments = {Segment{.address = 0x4c000,
                                        .memory_size = 0x100,
                                        .blob = 0,
                                        .blob_offset = 0,
                                        .data_size = 0x10,
                                        .aux = 0}}};
}

// The 64 bytes that one tile (5) with one segment (0x4c000, 0x100 bytes, 0x10
// of data from blob 0) contributes, item by item.
Bytes one_tile_stream() {
  return concat({
      hex("01 00 00 00 00 00 00 00"),  // tile count
      hex("05 00 00 00"),              // physical_tile
      zeros(12),                       // aux_1, aux_2, aux_3
      hex("01 00 00 00 00 00 00 00"),  // segment count
      hex("00 c0 04 00"),              // address
      hex("00 01 00 00"),              // memory_size
      zeros(8),                        // blob
      zeros(8),                        // blob_offset
      hex("10 00 00 00"),              // data_size
      hex("00 00 00 00"),              // aux
  });
}

TEST(BuildDigestStream, EmptyModelWithCompilerAbcIs132Bytes) {
  const Bytes expected = abc_model_stream();
  ASSERT_EQ(expected.size(), 132U);
  EXPECT_EQ(to_hex(stream_of(framing_application())), to_hex(expected));
}

TEST(BuildDigest, FramingExampleDigest) {
  const Digest digest = framing_application().build_digest();
  EXPECT_EQ(digest, sha256(abc_model_stream()));
  // Pinned: the standard SHA-256 of the 132 bytes above.
  EXPECT_EQ(to_hex(digest),
            to_hex(hex("8470b2ca787bec7a04058a1272aff8ff55121b4083f78f8f2bb900971761bf66")));
}

TEST(BuildDigestStream, OneTileWithOneSegmentContributes64Bytes) {
  Application app = framing_application();
  app.tiles.push_back(example_tile());
  const Bytes framing = abc_model_stream();
  const Bytes tile = one_tile_stream();
  ASSERT_EQ(tile.size(), 64U);
  const Bytes expected = concat(
      {slice_of(framing, 0, tile_count_at), tile, slice_of(framing, tile_count_at + 8, 132)});
  EXPECT_EQ(to_hex(stream_of(app)), to_hex(expected));
  EXPECT_EQ(app.build_digest(), sha256(expected));
}

TEST(BuildDigestStream, SegmentBlobPositionIsEightBytes) {
  Application app = framing_application();
  app.tiles.push_back(example_tile());
  app.tiles[0].segments[0].blob = 1;
  const Bytes stream = stream_of(app);
  // tile count, physical_tile, three aux, segment count, address, memory_size
  constexpr std::size_t blob_at = tile_count_at + 8 + 4 + 12 + 8 + 4 + 4;
  EXPECT_EQ(to_hex(slice_of(stream, blob_at, blob_at + 8)), "01 00 00 00 00 00 00 00");
  EXPECT_EQ(stream.size(), 132U + 56U);
}

TEST(BuildDigestStream, EntryPointWithExternalSyncs) {
  Application app = framing_application();
  app.entry_points.push_back(EntryPoint{.name = "e", .aux = 7, .external_syncs = 2});
  const Bytes framing = abc_model_stream();
  const Bytes entry = concat({
      hex("01 00 00 00 00 00 00 00 65"),                 // name
      hex("07 00 00 00"),                                // aux
      hex("65 78 74 65 72 6e 61 6c 2d 73 79 6e 63 73"),  // the label "external-syncs"
      hex("02 00 00 00"),                                // external_syncs
  });
  ASSERT_EQ(entry.size(), 31U);
  const Bytes expected =
      concat({slice_of(framing, 0, entry_count_at), hex("01 00 00 00 00 00 00 00"), entry,
              slice_of(framing, write_count_at, 132)});
  EXPECT_EQ(to_hex(stream_of(app)), to_hex(expected));
  EXPECT_EQ(app.build_digest(), sha256(expected));
}

TEST(BuildDigestStream, EntryPointWithoutExternalSyncsHasOnlyNameAndAux) {
  Application app = framing_application();
  app.entry_points.push_back(EntryPoint{.name = "e", .aux = 7, .external_syncs = 0});
  const Bytes framing = abc_model_stream();
  const Bytes entry = hex("01 00 00 00 00 00 00 00 65 07 00 00 00");
  ASSERT_EQ(entry.size(), 13U);
  const Bytes expected =
      concat({slice_of(framing, 0, entry_count_at), hex("01 00 00 00 00 00 00 00"), entry,
              slice_of(framing, write_count_at, 132)});
  EXPECT_EQ(to_hex(stream_of(app)), to_hex(expected));
}

TEST(BuildDigest, ExternalSyncsOneAddsLabelAndCountAndChangesDigest) {
  Application without = framing_application();
  without.entry_points.push_back(EntryPoint{.name = "e", .aux = 7, .external_syncs = 0});
  Application with = without;
  with.entry_points[0].external_syncs = 1;
  EXPECT_EQ(stream_of(with).size(), stream_of(without).size() + 14 + 4);
  EXPECT_NE(with.build_digest(), without.build_digest());
}

TEST(BuildDigestStream, EmptyTextsAreEightZeroBytes) {
  Application app = framing_application();
  app.compiler.clear();
  const Bytes stream = stream_of(app);
  EXPECT_EQ(stream.size(), 129U);
  // compiler right after the header (4 + 13 + 4 + 4 bytes)
  EXPECT_EQ(slice_of(stream, 25, 33), zeros(8));

  // A binding in the second list with empty name and label: the list count
  // (at tile count + 16), then name, label, values count, slices count.

  Application with_binding = framing_application();
  with_binding.bindings_2.push_back(Binding{});  // empty name and label, no values, no slices
  const Bytes framing = abc_model_stream();
  const Bytes expected =
      concat({slice_of(framing, 0, tile_count_at + 16), hex("01 00 00 00 00 00 00 00"),
              zeros(4 * 8), slice_of(framing, tile_count_at + 24, 132)});
  EXPECT_EQ(to_hex(stream_of(with_binding)), to_hex(expected));
}

// A model in which every covered field has its own value, with high bytes set
// where the width is 64 bits, and no list is empty.
Application full_application() {
  Application app;
  app.compiler = "9.8.7";
  Blob first;
  first.data = ByteBuffer::copy_of(ascii("first blob"));
  first.digest = sha256(first.data.bytes());
  Blob second;
  second.data = ByteBuffer::copy_of(ascii("second blob"));
  second.digest = sha256(second.data.bytes());
  app.blobs = {std::move(first), std::move(second)};
  app.blobs_by_digest = {{app.blobs[0].digest, 0}, {app.blobs[1].digest, 1}};

  app.tiles.push_back(TileImage{.physical_tile = 0x01020304,
                                .aux_1 = 0x11121314,
                                .aux_2 = 0x21222324,
                                .aux_3 = 0x31323334,
                                .segments = {Segment{.address = 0x4c000,
                                                     .memory_size = 0x100,
                                                     .blob = 0x4142434445464748,
                                                     .blob_offset = 0x5152535455565758,
                                                     .data_size = 0x61626364,
                                                     .aux = 0x71727374},
                                             Segment{.address = 0x4d000,
                                                     .memory_size = 0x20,
                                                     .blob = 1,
                                                     .blob_offset = 2,
                                                     .data_size = 3,
                                                     .aux = 4}}});
  app.tiles.push_back(
      TileImage{.physical_tile = 9, .aux_1 = 8, .aux_2 = 7, .aux_3 = 6, .segments = {}});

  app.bindings_1.push_back(Binding{.name = "b1",
                                   .label = "first label",
                                   .values = {0x81828384, 0x91929394},
                                   .slices = {RegionSlice{.physical_tile = 0xa1a2a3a4,
                                                          .address = 0xb1b2b3b4,
                                                          .offset = 0xc1c2c3c4c5c6c7c8,
                                                          .length = 0xd1d2d3d4d5d6d7d8}}});
  app.bindings_1.push_back(Binding{.name = "b1x", .label = "", .values = {}, .slices = {}});
  app.bindings_2.push_back(Binding{.name = "b2", .label = "l2", .values = {5}, .slices = {}});
  app.bindings_3.push_back(
      Binding{.name = "b3",
              .label = "l3",
              .values = {},
              .slices = {RegionSlice{.physical_tile = 1, .address = 2, .offset = 3, .length = 4},
                         RegionSlice{.physical_tile = 5, .address = 6, .offset = 7, .length = 8}}});

  HostExchange& host = app.host_exchange;
  host.aux = 0xe1e2e3e4;
  host.startup_page = 0xf1f2f3f4;
  host.startup_offset = 0x0102030405060708;
  host.pages = {HostPage{.id = 0x10203040, .size = 0x1121314151617181},
                HostPage{.id = 2, .size = 3}};
  host.required_pages = {0x10203040, 2, 7};
  host.calls.push_back(
      HostCall{.name = "call",
               .aux_1 = 0x12345678,
               .aux_2 = 0x9abcdef0,
               .invocations = 0x0fedcba9,
               .page_refs_1 = {HostPageRef{.page = 0x13141516,
                                           .offset = 0x2122232425262728,
                                           .aux = 0x3132333435363738,
                                           .length = 0x4142434445464748}},
               .page_refs_2 = {HostPageRef{.page = 1, .offset = 2, .aux = 3, .length = 4},
                               HostPageRef{.page = 5, .offset = 6, .aux = 7, .length = 8}}});
  host.calls.push_back(HostCall{
      .name = "", .aux_1 = 0, .aux_2 = 0, .invocations = 1, .page_refs_1 = {}, .page_refs_2 = {}});

  app.entry_points = {EntryPoint{.name = "main", .aux = 0x51525354, .external_syncs = 0x61626364},
                      EntryPoint{.name = "other", .aux = 3, .external_syncs = 0}};
  app.device_config_writes = {DeviceConfigWrite{.address = 0x71727374, .value = 0x81828384},
                              DeviceConfigWrite{.address = 8, .value = 9}};
  return app;
}

TEST(BuildDigestStream, EveryItemInOrderAndWidth) {
  const Application app = full_application();
  Listing l;
  // 1-4: header constants
  l.u32(2).string("zem21").u32(0x4c000).u32(0x9c000);
  // 5
  l.string("9.8.7");
  // 6: blobs, digests only
  l.count(2).raw(app.blobs[0].digest).raw(app.blobs[1].digest);
  // 7: tiles
  l.count(2);
  l.u32(0x01020304).u32(0x11121314).u32(0x21222324).u32(0x31323334);
  l.count(2);
  l.u32(0x4c000)
      .u32(0x100)
      .u64(0x4142434445464748)
      .u64(0x5152535455565758)
      .u32(0x61626364)
      .u32(0x71727374);
  l.u32(0x4d000).u32(0x20).u64(1).u64(2).u32(3).u32(4);
  l.u32(9).u32(8).u32(7).u32(6).count(0);
  // 8: bindings_1, bindings_2, bindings_3
  l.count(2);
  l.string("b1").string("first label").count(2).u32(0x81828384).u32(0x91929394);
  l.count(1).u32(0xa1a2a3a4).u32(0xb1b2b3b4).u64(0xc1c2c3c4c5c6c7c8).u64(0xd1d2d3d4d5d6d7d8);
  l.string("b1x").string("").count(0).count(0);
  l.count(1);
  l.string("b2").string("l2").count(1).u32(5).count(0);
  l.count(1);
  l.string("b3").string("l3").count(0);
  l.count(2).u32(1).u32(2).u64(3).u64(4).u32(5).u32(6).u64(7).u64(8);
  // 9: host exchange
  l.u32(0xe1e2e3e4).u32(0xf1f2f3f4).u64(0x0102030405060708);
  l.count(2).u32(0x10203040).u64(0x1121314151617181).u32(2).u64(3);
  l.count(3).u32(0x10203040).u32(2).u32(7);
  l.count(2);
  l.string("call").u32(0x12345678).u32(0x9abcdef0).u32(0x0fedcba9);
  l.count(1)
      .u32(0x13141516)
      .u64(0x2122232425262728)
      .u64(0x3132333435363738)
      .u64(0x4142434445464748);
  l.count(2).u32(1).u64(2).u64(3).u64(4).u32(5).u64(6).u64(7).u64(8);
  l.string("").u32(0).u32(0).u32(1).count(0).count(0);
  // 10: entry points
  l.count(2);
  l.string("main").u32(0x51525354).raw("external-syncs").u32(0x61626364);
  l.string("other").u32(3);
  // 11: device configuration writes
  l.count(2).u32(0x71727374).u32(0x81828384).u32(8).u32(9);

  EXPECT_EQ(to_hex(stream_of(app)), to_hex(l.bytes()));
  EXPECT_EQ(app.build_digest(), sha256(l.bytes()));
}

TEST(BuildDigest, DefaultApplication) {
  const Application app;
  const Bytes stream = stream_of(app);
  EXPECT_EQ(stream.size(), 134U);  // the framing example with a 5-byte compiler
  EXPECT_EQ(app.build_digest(), sha256(stream));
}

TEST(BuildDigest, StringItemIsLengthThenBytes) {
  BuildDigestStream stream;
  build_stream::put_string(stream, "abc");
  EXPECT_EQ(stream.finish(), sha256(hex("03 00 00 00 00 00 00 00 61 62 63")));

  BuildDigestStream empty;
  build_stream::put_string(empty, "");
  EXPECT_EQ(empty.finish(), sha256(zeros(8)));

  // Strings are length-prefixed, so the division of the same bytes into
  // strings matters.
  BuildDigestStream ab_c;
  build_stream::put_string(ab_c, "ab");
  build_stream::put_string(ab_c, "c");
  BuildDigestStream a_bc;
  build_stream::put_string(a_bc, "a");
  build_stream::put_string(a_bc, "bc");
  EXPECT_NE(ab_c.finish(), a_bc.finish());
}

TEST(BuildDigest, LongStringItemCrossesBlocks) {
  for (const std::size_t length : {55U, 56U, 63U, 64U, 65U, 119U, 120U, 127U, 128U, 129U, 1000U}) {
    SCOPED_TRACE(length);
    const std::string text(length, 'x');
    BuildDigestStream stream;
    stream.append(hex("aa bb cc"));  // puts the string off block alignment
    build_stream::put_string(stream, text);
    Listing expected;
    expected.raw(hex("aa bb cc")).string(text);
    EXPECT_EQ(stream.finish(), sha256(expected.bytes()));
  }
}

TEST(BuildDigestStream, AnyChunkingGivesTheDigestOfTheWhole) {
  Bytes data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>((i * 131U + 7U) & 0xffU);
  }
  const Digest whole = sha256(data);

  BuildDigestStream empty;
  EXPECT_EQ(empty.finish(), sha256(Bytes{}));

  for (std::size_t chunk = 1; chunk <= 200; ++chunk) {
    SCOPED_TRACE(chunk);
    BuildDigestStream stream;
    for (std::size_t at = 0; at < data.size(); at += chunk) {
      stream.append(
          std::span<const std::uint8_t>(data).subspan(at, std::min(chunk, data.size() - at)));
    }
    EXPECT_EQ(stream.finish(), whole);
  }

  // Irregular pieces, empty ones included.
  const std::size_t pieces[] = {0, 3, 61, 0, 64, 1, 63, 128, 5, 130, 7, 0, 200, 64, 64};
  BuildDigestStream stream;
  std::size_t at = 0;
  for (const std::size_t piece : pieces) {
    stream.append(std::span<const std::uint8_t>(data).subspan(at, piece));
    at += piece;
  }
  stream.append(std::span<const std::uint8_t>(data).subspan(at));
  EXPECT_EQ(stream.finish(), whole);
}

// Long strings, longer than a block, at every alignment: the streamed digest
// must equal the SHA-256 of the captured stream.
TEST(BuildDigest, StreamedDigestEqualsDigestOfCapturedStream) {
  Application app = full_application();
  app.bindings_1[0].name = std::string(65, 'n');
  app.bindings_1[0].label = std::string(129, 'l');
  app.bindings_2[0].name = std::string(64, 'm');
  app.bindings_3[0].label = std::string(1000, 'k');
  app.host_exchange.calls[0].name = std::string(127, 'c');
  app.entry_points[1].name = std::string(300, 'e');
  for (std::size_t length = 0; length <= 200; ++length) {
    SCOPED_TRACE(length);
    app.compiler = std::string(length, 'v');
    EXPECT_EQ(app.build_digest(), sha256(stream_of(app)));
  }
}

struct Change {
  const char* name;
  std::function<void(Application&)> change;
};

void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

std::string change_name(const testing::TestParamInfo<Change>& info) { return info.param.name; }

class BuildDigestChange : public testing::TestWithParam<Change> {};

// Every covered value, and the order of every list, reaches the digest.
TEST_P(BuildDigestChange, ChangesDigest) {
  const Application original = full_application();
  Application changed = full_application();
  GetParam().change(changed);
  EXPECT_NE(changed.build_digest(), original.build_digest());
}

const Change changes[] = {
    {"compiler", [](Application& a) { a.compiler = "9.8.8"; }},
    {"blob_digest_byte", [](Application& a) { a.blobs[1].digest[31] ^= 1U; }},
    {"swap_blobs", [](Application& a) { std::swap(a.blobs[0], a.blobs[1]); }},
    {"drop_blob", [](Application& a) { a.blobs.pop_back(); }},
    {"physical_tile", [](Application& a) { a.tiles[0].physical_tile ^= 1U; }},
    {"tile_aux_1", [](Application& a) { a.tiles[0].aux_1 ^= 1U; }},
    {"tile_aux_2", [](Application& a) { a.tiles[0].aux_2 ^= 1U; }},
    {"tile_aux_3", [](Application& a) { a.tiles[0].aux_3 ^= 1U; }},
    {"swap_tiles", [](Application& a) { std::swap(a.tiles[0], a.tiles[1]); }},
    {"segment_address", [](Application& a) { a.tiles[0].segments[0].address ^= 1U; }},
    {"segment_memory_size", [](Application& a) { a.tiles[0].segments[0].memory_size ^= 1U; }},
    {"segment_blob_high_bits",
     [](Application& a) { a.tiles[0].segments[0].blob ^= std::uint64_t{1} << 63U; }},
    {"segment_blob_offset_high_bits",
     [](Application& a) { a.tiles[0].segments[0].blob_offset ^= std::uint64_t{1} << 63U; }},
    {"segment_data_size", [](Application& a) { a.tiles[0].segments[0].data_size ^= 1U; }},
    {"segment_aux", [](Application& a) { a.tiles[0].segments[0].aux ^= 1U; }},
    {"swap_segments",
     [](Application& a) { std::swap(a.tiles[0].segments[0], a.tiles[0].segments[1]); }},
    {"move_segment_to_other_tile",
     [](Application& a) {
       a.tiles[1].segments.push_back(a.tiles[0].segments.back());
       a.tiles[0].segments.pop_back();
     }},
    {"binding_name", [](Application& a) { a.bindings_1[0].name = "b0"; }},
    {"binding_label", [](Application& a) { a.bindings_1[0].label = "first labeL"; }},
    {"binding_text_moved_from_name_to_label",
     [](Application& a) {
       a.bindings_2[0].name = "b";
       a.bindings_2[0].label = "2l2";
     }},
    {"binding_value", [](Application& a) { a.bindings_1[0].values[1] ^= 1U; }},
    {"swap_binding_values",
     [](Application& a) { std::swap(a.bindings_1[0].values[0], a.bindings_1[0].values[1]); }},
    {"move_value_to_next_binding",
     [](Application& a) {
       a.bindings_1[1].values.push_back(a.bindings_1[0].values.back());
       a.bindings_1[0].values.pop_back();
     }},
    {"slice_physical_tile", [](Application& a) { a.bindings_1[0].slices[0].physical_tile ^= 1U; }},
    {"slice_address", [](Application& a) { a.bindings_1[0].slices[0].address ^= 1U; }},
    {"slice_offset_high_bits",
     [](Application& a) { a.bindings_1[0].slices[0].offset ^= std::uint64_t{1} << 63U; }},
    {"slice_length_high_bits",
     [](Application& a) { a.bindings_1[0].slices[0].length ^= std::uint64_t{1} << 63U; }},
    {"swap_slices",
     [](Application& a) { std::swap(a.bindings_3[0].slices[0], a.bindings_3[0].slices[1]); }},
    {"swap_bindings", [](Application& a) { std::swap(a.bindings_1[0], a.bindings_1[1]); }},
    {"move_binding_from_list_1_to_list_2",
     [](Application& a) {
       a.bindings_2.insert(a.bindings_2.begin(), a.bindings_1.back());
       a.bindings_1.pop_back();
     }},
    {"move_binding_from_list_2_to_list_3",
     [](Application& a) {
       a.bindings_3.insert(a.bindings_3.begin(), a.bindings_2.back());
       a.bindings_2.pop_back();
     }},
    {"swap_binding_lists_1_and_3", [](Application& a) { std::swap(a.bindings_1, a.bindings_3); }},
    {"host_aux", [](Application& a) { a.host_exchange.aux ^= 1U; }},
    {"startup_page", [](Application& a) { a.host_exchange.startup_page ^= 1U; }},
    {"startup_offset_high_bits",
     [](Application& a) { a.host_exchange.startup_offset ^= std::uint64_t{1} << 63U; }},
    {"page_id", [](Application& a) { a.host_exchange.pages[1].id ^= 1U; }},
    {"page_size_high_bits",
     [](Application& a) { a.host_exchange.pages[1].size ^= std::uint64_t{1} << 63U; }},
    {"swap_pages",
     [](Application& a) { std::swap(a.host_exchange.pages[0], a.host_exchange.pages[1]); }},
    {"required_page", [](Application& a) { a.host_exchange.required_pages[2] ^= 1U; }},
    {"swap_required_pages",
     [](Application& a) {
       std::swap(a.host_exchange.required_pages[0], a.host_exchange.required_pages[1]);
     }},
    {"host_call_name", [](Application& a) { a.host_exchange.calls[1].name = "x"; }},
    {"host_call_aux_1", [](Application& a) { a.host_exchange.calls[0].aux_1 ^= 1U; }},
    {"host_call_aux_2", [](Application& a) { a.host_exchange.calls[0].aux_2 ^= 1U; }},
    {"host_call_invocations", [](Application& a) { a.host_exchange.calls[0].invocations ^= 1U; }},
    {"page_ref_page", [](Application& a) { a.host_exchange.calls[0].page_refs_2[1].page ^= 1U; }},
    {"page_ref_offset",
     [](Application& a) { a.host_exchange.calls[0].page_refs_2[1].offset ^= 1U; }},
    {"page_ref_aux", [](Application& a) { a.host_exchange.calls[0].page_refs_2[1].aux ^= 1U; }},
    {"page_ref_length",
     [](Application& a) { a.host_exchange.calls[0].page_refs_2[1].length ^= 1U; }},
    {"swap_page_refs",
     [](Application& a) {
       std::swap(a.host_exchange.calls[0].page_refs_2[0], a.host_exchange.calls[0].page_refs_2[1]);
     }},
    {"move_page_ref_from_list_2_to_list_1",
     [](Application& a) {
       HostCall& call = a.host_exchange.calls[0];
       call.page_refs_1.push_back(call.page_refs_2.front());
       call.page_refs_2.erase(call.page_refs_2.begin());
     }},
    {"swap_host_calls",
     [](Application& a) { std::swap(a.host_exchange.calls[0], a.host_exchange.calls[1]); }},
    {"entry_point_name", [](Application& a) { a.entry_points[1].name = "othe"; }},
    {"entry_point_aux", [](Application& a) { a.entry_points[1].aux ^= 1U; }},
    {"external_syncs_value", [](Application& a) { a.entry_points[0].external_syncs ^= 1U; }},
    {"external_syncs_0_to_1", [](Application& a) { a.entry_points[1].external_syncs = 1; }},
    {"external_syncs_to_0", [](Application& a) { a.entry_points[0].external_syncs = 0; }},
    {"swap_entry_points", [](Application& a) { std::swap(a.entry_points[0], a.entry_points[1]); }},
    {"device_write_address", [](Application& a) { a.device_config_writes[1].address ^= 4U; }},
    {"device_write_value", [](Application& a) { a.device_config_writes[1].value ^= 1U; }},
    {"swap_device_writes",
     [](Application& a) { std::swap(a.device_config_writes[0], a.device_config_writes[1]); }},
};

INSTANTIATE_TEST_SUITE_P(BuildDigest, BuildDigestChange, testing::ValuesIn(changes), change_name);

// Blob contents enter only through their digests, and the digest index is not
// part of the stream.
TEST(BuildDigest, IgnoresBlobContentsAndDigestIndex) {
  const Application original = full_application();
  Application changed = full_application();
  changed.blobs[0].data = ByteBuffer::copy_of(ascii("other contents, same recorded digest"));
  changed.blobs_by_digest.clear();
  EXPECT_EQ(changed.build_digest(), original.build_digest());
  EXPECT_EQ(original.build_digest(), original.build_digest());
}

}  // namespace
}  // namespace zem

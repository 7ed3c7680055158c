// A struct written with a shorter data section than the reader's schema has
// must read its missing fields as their defaults: 0, or 1 for a host call's
// invocations.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include "blobs/blob_check.hpp"
#include "package_builder.hpp"
#include "reading/structure_reader.hpp"
#include "zem_package/short_layouts_test.capnp.h"

namespace zem {
namespace {

// The reader's converters on their own, each inside the message's boundary.
Result<std::vector<TileImage>> read_tiles(capnp::List<schema::TileImage>::Reader tiles) {
  ReadPlace place;
  return capnp_boundary([&]() -> Result<std::vector<TileImage>> {
    std::vector<TileImage> result;
    if (auto read = StructureReader(place).tiles(tiles, result); !read) {
      return std::unexpected(std::move(read).error());
    }
    return result;
  });
}

Result<HostExchange> read_host_exchange(schema::HostExchange::Reader host_exchange) {
  ReadPlace place;
  return capnp_boundary([&]() -> Result<HostExchange> {
    HostExchange result;
    if (auto read = StructureReader(place).host_exchange(host_exchange, result); !read) {
      return std::unexpected(std::move(read).error());
    }
    return result;
  });
}

// A message written with the short structs, read back through the package's
// schema.
class ShortMessage {
 public:
  explicit ShortMessage(const std::function<void(short_layouts::Application::Builder)>& fill) {
    capnp::MallocMessageBuilder builder;
    fill(builder.initRoot<short_layouts::Application>());
    words_ = capnp::messageToFlatArray(builder);
    reader_.emplace(words_.asPtr());
  }
  schema::Application::Reader root() { return reader_->getRoot<schema::Application>(); }

 private:
  kj::Array<capnp::word> words_;
  std::optional<capnp::FlatArrayMessageReader> reader_;
};

TEST(ShortLayoutsTest, MissingSegmentAndTileFieldsReadAsZero) {
  ShortMessage message([](short_layouts::Application::Builder root) {
    auto tile = root.initTiles(1)[0];
    tile.setPhysicalTile(9);
    tile.setAux1(4);
    auto segment = tile.initSegments(1)[0];
    segment.setAddress(0x4c000);
    segment.setMemorySize(0x40);
  });
  const auto tiles = read_tiles(message.root().getTiles());
  ASSERT_TRUE(tiles.has_value()) << tiles.error().to_string();
  const std::vector<TileImage> expected{
      TileImage{9, 4, 0, 0, {Segment{0x4c000, 0x40, 0, 0, 0, 0}}}};
  EXPECT_EQ(*tiles, expected);
}

TEST(ShortLayoutsTest, HostCallWithoutInvocationsHasOne) {
  ShortMessage message([](short_layouts::Application::Builder root) {
    auto host = root.initHostExchange();
    host.setAux(3);
    host.setStartupPage(1);
    host.initPages(1)[0].setId(1);
    auto call = host.initCalls(1)[0];
    call.setName("call");
    call.setAux2(6);
    auto ref = call.initPageRefs1(1)[0];
    ref.setPage(1);
    ref.setOffset(8);
  });
  const auto host = read_host_exchange(message.root().getHostExchange());
  ASSERT_TRUE(host.has_value()) << host.error().to_string();
  const HostExchange expected{
      3, 1, 0, {HostPage{1, 0}}, {}, {HostCall{"call", 0, 6, 1, {HostPageRef{1, 8, 0, 0}}, {}}}};
  EXPECT_EQ(*host, expected);
}

TEST(ShortLayoutsTest, StoredInvocationsAreKeptIncludingZero) {
  for (const std::uint32_t invocations : {0U, 1U, 7U}) {
    capnp::MallocMessageBuilder builder;
    builder.initRoot<schema::HostExchange>().initCalls(1)[0].setInvocations(invocations);
    const auto words = capnp::messageToFlatArray(builder);
    capnp::FlatArrayMessageReader reader(words.asPtr());
    const auto host = read_host_exchange(reader.getRoot<schema::HostExchange>());
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(host->calls.at(0).invocations, invocations);
  }
}

TEST(ShortLayoutsTest, BlobWithoutCompressionFieldIsStoredPlain) {
  // The first data word holds a huge "uncompressed size"; with no compression
  // field the payload is taken as it is.
  const std::vector<std::uint8_t> contents{1, 2, 3, 4, 5};
  const Blob blob = testing::make_blob(contents);
  ShortMessage message([&](short_layouts::Application::Builder root) {
    auto out = root.initBlobs(1)[0];
    out.setUncompressedSize(0xffffffffffffffff);
    out.setDigest({blob.digest.data(), blob.digest.size()});
    out.setData({contents.data(), contents.size()});
  });
  BlobChecker checker(1, KeepContents::yes);
  BlobTableSurvey table = check_blob_table(message.root().getBlobs(), {}, checker, false);
  ASSERT_TRUE(table.failures.empty()) << table.failures.front().error.to_string();
  ASSERT_EQ(table.checked.blobs.size(), 1U);
  EXPECT_EQ(table.checked.blobs[0].contents, blob.data);
  EXPECT_EQ(table.checked.blobs[0].digest, blob.digest);
  EXPECT_EQ(table.checked.blobs[0].storage.compression, compression_none);
  EXPECT_EQ(table.checked.by_digest.at(blob.digest), 0U);
}

TEST(ShortLayoutsTest, ShortRootDataSectionIsAnIncompatibleHeader) {
  // formatVersion and tileMemoryBase are right; tileMemorySize reads as 0.
  const std::vector<std::uint8_t> package = [] {
    capnp::MallocMessageBuilder builder;
    auto root = builder.initRoot<short_layouts::Application>();
    root.setFormatVersion(2);
    root.setTileMemoryBase(0x4c000);
    root.setTarget("zem21");
    const auto words = capnp::messageToFlatArray(builder);
    return std::vector<std::uint8_t>(words.asBytes().begin(), words.asBytes().end());
  }();
  const auto read = Application::read(testing::memory_file(package));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().to_string(), R"(Invalid("incompatible package header"))");
}

TEST(ShortLayoutsTest, BadTargetTextWinsOverAShortRoot) {
  const std::vector<std::uint8_t> package = [] {
    capnp::MallocMessageBuilder builder;
    auto root = builder.initRoot<short_layouts::Application>();
    root.setFormatVersion(2);
    const char bad[] = "zem\xff";
    root.setTarget(capnp::Text::Reader(bad, 4));
    const auto words = capnp::messageToFlatArray(builder);
    return std::vector<std::uint8_t>(words.asBytes().begin(), words.asBytes().end());
  }();
  const auto read = Application::read(testing::memory_file(package));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().to_string(), "Utf8(invalid utf-8 sequence of 1 bytes from index 3)");
}

}  // namespace
}  // namespace zem

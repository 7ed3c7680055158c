// The package file's layout is fixed: every field's data offset or pointer
// index and every struct's section sizes. These tests read the layout back
// from the compiled schema, so a reordered or retyped field fails here before
// it can change what packages mean.

#include <capnp/schema.h>
#include <map>
#include <string>
#include <gtest/gtest.h>

#include "zem_package/application.capnp.h"

namespace zem {
namespace {

using capnp::StructSchema;

struct Sections {
  StructSchema schema;
  unsigned data_bytes;
  unsigned pointers;
};

TEST(SchemaLayoutTest, StructSectionSizes) {
  const Sections cases[] = {
      {capnp::Schema::from<schema::Application>(), 16, 11},
      {capnp::Schema::from<schema::Blob>(), 16, 2},
      {capnp::Schema::from<schema::TileImage>(), 16, 1},
      {capnp::Schema::from<schema::Segment>(), 32, 0},
      {capnp::Schema::from<schema::Binding>(), 0, 4},
      {capnp::Schema::from<schema::RegionSlice>(), 24, 0},
      {capnp::Schema::from<schema::HostExchange>(), 16, 3},
      {capnp::Schema::from<schema::HostPage>(), 16, 0},
      {capnp::Schema::from<schema::HostCall>(), 16, 3},
      {capnp::Schema::from<schema::HostPageRef>(), 32, 0},
      {capnp::Schema::from<schema::EntryPoint>(), 8, 1},
      {capnp::Schema::from<schema::DeviceConfigWrite>(), 8, 0},
  };
  for (const Sections& c : cases) {
    const auto node = c.schema.getProto().getStruct();
    const std::string name = c.schema.getShortDisplayName().cStr();
    EXPECT_EQ(node.getDataWordCount() * 8U, c.data_bytes) << name;
    EXPECT_EQ(node.getPointerCount(), c.pointers) << name;
    EXPECT_FALSE(node.getIsGroup()) << name;
    EXPECT_EQ(node.getDiscriminantCount(), 0U) << name;
  }
}

// Where one field lies: a byte offset in the data section, or a pointer index.
struct Place {
  StructSchema schema;
  const char* field;
  bool pointer;
  unsigned position;
  unsigned bytes;  // width of a data field
};

unsigned width_of(capnp::schema::Type::Reader type) {
  switch (type.which()) {
    case capnp::schema::Type::UINT32:
      return 4;
    case capnp::schema::Type::UINT64:
      return 8;
    case capnp::schema::Type::ENUM:
      return 2;
    default:
      return 0;
  }
}

TEST(SchemaLayoutTest, EveryFieldHasItsPlace) {
  const auto app = capnp::Schema::from<schema::Application>();
  const auto blob = capnp::Schema::from<schema::Blob>();
  const auto tile = capnp::Schema::from<schema::TileImage>();
  const auto segment = capnp::Schema::from<schema::Segment>();
  const auto binding = capnp::Schema::from<schema::Binding>();
  const auto slice = capnp::Schema::from<schema::RegionSlice>();
  const auto host = capnp::Schema::from<schema::HostExchange>();
  const auto page = capnp::Schema::from<schema::HostPage>();
  const auto call = capnp::Schema::from<schema::HostCall>();
  const auto ref = capnp::Schema::from<schema::HostPageRef>();
  const auto entry = capnp::Schema::from<schema::EntryPoint>();
  const auto write = capnp::Schema::from<schema::DeviceConfigWrite>();
  const Place places[] = {
      {app, "formatVersion", false, 0, 4},
      {app, "tileMemoryBase", false, 4, 4},
      {app, "tileMemorySize", false, 8, 4},
      {app, "compiler", true, 0, 0},
      {app, "target", true, 1, 0},
      {app, "blobs", true, 2, 0},
      {app, "tiles", true, 3, 0},
      {app, "bindings1", true, 4, 0},
      {app, "bindings2", true, 5, 0},
      {app, "bindings3", true, 6, 0},
      {app, "hostExchange", true, 7, 0},
      {app, "entryPoints", true, 8, 0},
      {app, "buildDigest", true, 9, 0},
      {app, "deviceConfigWrites", true, 10, 0},
      {blob, "uncompressedSize", false, 0, 8},
      {blob, "compression", false, 8, 2},
      {blob, "digest", true, 0, 0},
      {blob, "data", true, 1, 0},
      {tile, "physicalTile", false, 0, 4},
      {tile, "aux1", false, 4, 4},
      {tile, "aux2", false, 8, 4},
      {tile, "aux3", false, 12, 4},
      {tile, "segments", true, 0, 0},
      {segment, "address", false, 0, 4},
      {segment, "memorySize", false, 4, 4},
      {segment, "blob", false, 8, 4},
      {segment, "dataSize", false, 12, 4},
      {segment, "blobOffset", false, 16, 8},
      {segment, "aux", false, 24, 4},
      {binding, "name", true, 0, 0},
      {binding, "label", true, 1, 0},
      {binding, "values", true, 2, 0},
      {binding, "slices", true, 3, 0},
      {slice, "physicalTile", false, 0, 4},
      {slice, "address", false, 4, 4},
      {slice, "offset", false, 8, 8},
      {slice, "length", false, 16, 8},
      {host, "aux", false, 0, 4},
      {host, "startupPage", false, 4, 4},
      {host, "startupOffset", false, 8, 8},
      {host, "pages", true, 0, 0},
      {host, "requiredPages", true, 1, 0},
      {host, "calls", true, 2, 0},
      {page, "id", false, 0, 4},
      {page, "size", false, 8, 8},
      {call, "name", true, 0, 0},
      {call, "aux1", false, 0, 4},
      {call, "aux2", false, 4, 4},
      {call, "invocations", false, 8, 4},
      {call, "pageRefs1", true, 1, 0},
      {call, "pageRefs2", true, 2, 0},
      {ref, "page", false, 0, 4},
      {ref, "offset", false, 8, 8},
      {ref, "aux", false, 16, 8},
      {ref, "length", false, 24, 8},
      {entry, "name", true, 0, 0},
      {entry, "aux", false, 0, 4},
      {entry, "externalSyncs", false, 4, 4},
      {write, "address", false, 0, 4},
      {write, "value", false, 4, 4},
  };
  std::map<std::string, unsigned> fields_checked;
  for (const Place& p : places) {
    const std::string where = std::string(p.schema.getShortDisplayName().cStr()) + "." + p.field;
    const auto slot = p.schema.getFieldByName(p.field).getProto().getSlot();
    ++fields_checked[p.schema.getShortDisplayName().cStr()];
    if (p.pointer) {
      EXPECT_EQ(width_of(slot.getType()), 0U) << where;
      EXPECT_EQ(slot.getOffset(), p.position) << where;
    } else {
      ASSERT_EQ(width_of(slot.getType()), p.bytes) << where;
      EXPECT_EQ(slot.getOffset() * p.bytes, p.position) << where;
    }
  }
  // Every field of every struct is in the table: a new field needs a place.
  for (const StructSchema s :
       {app, blob, tile, segment, binding, slice, host, page, call, ref, entry, write}) {
    EXPECT_EQ(s.getFields().size(), fields_checked[s.getShortDisplayName().cStr()])
        << s.getShortDisplayName().cStr();
  }
}

TEST(SchemaLayoutTest, OnlyInvocationsHasANonZeroDefault) {
  const auto call = capnp::Schema::from<schema::HostCall>();
  EXPECT_EQ(call.getFieldByName("invocations").getProto().getSlot().getDefaultValue().getUint32(),
            1U);
  EXPECT_EQ(call.getFieldByName("aux1").getProto().getSlot().getDefaultValue().getUint32(), 0U);
  const auto compression = capnp::Schema::from<schema::Compression>();
  ASSERT_EQ(compression.getEnumerants().size(), 2U);
  EXPECT_EQ(compression.getEnumerantByName("none").getOrdinal(), 0U);
  EXPECT_EQ(compression.getEnumerantByName("zstd").getOrdinal(), 1U);
}

}  // namespace
}  // namespace zem

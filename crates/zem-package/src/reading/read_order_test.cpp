// When a package is bad in more than one place, the read reports the fault it
// meets first in its fixed order. Each case below puts a bad value in one
// field (or, for a field that can only fail on its pointer, a pointer of the
// wrong kind) and makes the pointer of the field read right after it
// unfollowable: the earlier field's error must win, so the later pointer must
// not have been followed yet.

#include <capnp/any.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "zem_package/application.hpp"

namespace zem {
namespace {

using testing::build_package;
using testing::example_application;
using testing::example_options;
using testing::PackageOptions;
using testing::RawPackage;
using testing::read_result;
using Builder = schema::Application::Builder;
using Reader = schema::Application::Reader;

// A pointer of a package: the struct that holds it, found from the root, and
// its index in that struct's pointer section.
struct PointerAt {
  std::function<capnp::AnyStruct::Reader(Reader)> holder;
  unsigned index = 0;
};

// A pointer word that replaces the one at `at`.
struct PointerEdit {
  PointerAt at;
  std::uint64_t word = 0;
};

// A far pointer into a segment that the one-segment message does not have.
constexpr std::uint64_t unfollowable = 2 | std::uint64_t{9} << 32;
// A struct pointer (of one data word) where a list, text or data belongs.
constexpr std::uint64_t struct_pointer = std::uint64_t{1} << 32;
// A pointer to an empty byte list where a struct belongs.
constexpr std::uint64_t list_pointer = 1 | std::uint64_t{2} << 32;

PointerAt root(unsigned index) {
  return {[](Reader r) { return capnp::AnyStruct::Reader(r); }, index};
}
PointerAt blob(unsigned k, unsigned index) {
  return {[k](Reader r) { return capnp::AnyStruct::Reader(r.getBlobs()[k]); }, index};
}
PointerAt tile(unsigned k, unsigned index) {
  return {[k](Reader r) { return capnp::AnyStruct::Reader(r.getTiles()[k]); }, index};
}
PointerAt binding(unsigned list, unsigned k, unsigned index) {
  return {[list, k](Reader r) {
            const auto bindings = list == 1   ? r.getBindings1()
                                  : list == 2 ? r.getBindings2()
                                              : r.getBindings3();
            return capnp::AnyStruct::Reader(bindings[k]);
          },
          index};
}
PointerAt host_exchange(unsigned index) {
  return {[](Reader r) { return capnp::AnyStruct::Reader(r.getHostExchange()); }, index};
}
PointerAt host_call(unsigned k, unsigned index) {
  return {[k](Reader r) { return capnp::AnyStruct::Reader(r.getHostExchange().getCalls()[k]); },
          index};
}

// The segment word that holds the pointer `at` of the one-segment `package`.
std::size_t pointer_word(std::span<const std::uint8_t> package, const PointerAt& at) {
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(package.size() / sizeof(capnp::word));
  std::memcpy(words.begin(), package.data(), package.size());
  capnp::FlatArrayMessageReader message(words);
  // The pointer section follows the data section.
  const capnp::Data::Reader data =
      at.holder(message.getRoot<schema::Application>()).getDataSection();
  const auto* segment = reinterpret_cast<const capnp::byte*>(words.begin() + 1);
  return static_cast<std::size_t>(data.end() - segment) / sizeof(capnp::word) + at.index;
}

// The example with a third binding list, so that every list has an element.
Application order_model() {
  Application model = example_application();
  model.bindings_3.push_back(Binding{"gamma", "g", {5}, {RegionSlice{3, 0x4c010, 0, 0x10}}});
  model.bindings_1.push_back(Binding{"delta", "d", {6}, {}});
  return model;
}

// Every pointer edit is found in the package before any is made, so a wrong
// kind of pointer cannot get in the way of finding the next.
std::string read_with(const std::function<void(Builder)>& bad_value,
                      const std::vector<PointerEdit>& edits) {
  PackageOptions options = example_options();
  options.tweak = bad_value;
  const std::vector<std::uint8_t> package = build_package(order_model(), options);
  std::vector<std::size_t> words;
  for (const PointerEdit& edit : edits) words.push_back(pointer_word(package, edit.at));
  RawPackage raw(package);
  for (std::size_t i = 0; i < edits.size(); ++i) raw.set(words[i], edits[i].word);
  return read_result(raw.bytes());
}

void set_text(capnp::Text::Builder& into, std::string_view bytes) {
  for (std::size_t i = 0; i < into.size() && i < bytes.size(); ++i) into[i] = bytes[i];
}

TEST(ReadOrderTest, AnEarlierFieldsErrorWinsOverALaterUnfollowablePointer) {
  const std::string bad_utf8 = "Utf8(invalid utf-8 sequence of 1 bytes from index 0)";
  const std::string header = R"(Invalid("incompatible package header"))";
  const std::string non_list = "Capnp(failed: expected ref->kind() == WirePointer::LIST";
  const std::string non_struct = "Capnp(failed: expected ref->kind() == WirePointer::STRUCT";
  const auto no_change = [](Builder) {};
  const struct {
    const char* name;
    std::function<void(Builder)> bad_value;
    std::vector<PointerEdit> edits;
    std::string error;  // the text form, or the start of a Cap'n Proto one
  } cases[] = {
      // The root, in read order.
      {"format version, then target",
       [](Builder r) { r.setFormatVersion(3); },
       {{root(1), unfollowable}},
       header},
      {"target, then compiler",
       [](Builder r) { r.setTarget(capnp::Text::Reader("\xffzem2", 5)); },
       {{root(0), unfollowable}},
       bad_utf8},
      {"memory size, then compiler",
       [](Builder r) { r.setTileMemorySize(1); },
       {{root(0), unfollowable}},
       header},
      {"compiler, then blobs",
       [](Builder r) { r.setCompiler(capnp::Text::Reader("\x80", 1)); },
       {{root(2), unfollowable}},
       bad_utf8},
      {"blobs, then tiles",
       [](Builder r) { r.getBlobs()[1].getDigest()[0] ^= 1; },
       {{root(3), unfollowable}},
       R"(Invalid("blob digest mismatch"))"},
      {"tiles, then bindings1",
       no_change,
       {{tile(1, 0), struct_pointer}, {root(4), unfollowable}},
       non_list},
      {"bindings1, then bindings2",
       [](Builder r) {
         auto label = r.getBindings1()[0].getLabel();
         set_text(label, "\xff");
       },
       {{root(5), unfollowable}},
       bad_utf8},
      {"bindings2, then bindings3",
       [](Builder r) {
         auto name = r.getBindings2()[0].getName();
         set_text(name, "\xff");
       },
       {{root(6), unfollowable}},
       bad_utf8},
      {"bindings3, then host exchange",
       [](Builder r) {
         auto name = r.getBindings3()[0].getName();
         set_text(name, "\xff");
       },
       {{root(7), unfollowable}},
       bad_utf8},
      {"host exchange, then entry points",
       [](Builder r) {
         auto name = r.getHostExchange().getCalls()[0].getName();
         set_text(name, "\xff");
       },
       {{root(8), unfollowable}},
       bad_utf8},
      {"entry points, then device configuration writes",
       [](Builder r) {
         auto name = r.getEntryPoints()[1].getName();
         set_text(name, "\xff");
       },
       {{root(10), unfollowable}},
       bad_utf8},
      {"device configuration writes, then build digest",
       no_change,
       {{root(10), struct_pointer}, {root(9), unfollowable}},
       non_list},
      {"host exchange itself, then entry points",
       no_change,
       {{root(7), list_pointer}, {root(8), unfollowable}},
       non_struct},

      // Inside a blob, and from one blob to the next.
      {"blob data, then digest",
       no_change,
       {{blob(1, 1), struct_pointer}, {blob(1, 0), unfollowable}},
       non_list},
      {"blob compression, then digest",
       [](Builder r) { r.getBlobs()[1].setCompression(static_cast<schema::Compression>(2)); },
       {{blob(1, 0), unfollowable}},
       "SchemaEnum(NotInSchema(2))"},
      {"blob decompression, then digest",
       [](Builder r) { r.getBlobs()[0].getData()[0] ^= 0xff; },
       {{blob(0, 0), unfollowable}},
       "Io(Other: Unknown frame descriptor)"},
      {"blob digest, then the next blob's data",
       [](Builder r) { r.getBlobs()[0].getDigest()[31] ^= 1; },
       {{blob(1, 1), unfollowable}},
       R"(Invalid("blob digest mismatch"))"},

      // A tile's only pointer is its segment list: one tile, then the next.
      {"tile segments, then the next tile's segments",
       no_change,
       {{tile(0, 0), struct_pointer}, {tile(1, 0), unfollowable}},
       non_list},

      // Inside a binding, and from one binding to the next.
      {"binding name, then label",
       [](Builder r) {
         auto name = r.getBindings1()[0].getName();
         set_text(name, "\xff");
       },
       {{binding(1, 0, 1), unfollowable}},
       bad_utf8},
      {"binding label, then values",
       [](Builder r) {
         auto label = r.getBindings1()[0].getLabel();
         set_text(label, "\xff");
       },
       {{binding(1, 0, 2), unfollowable}},
       bad_utf8},
      {"binding values, then slices",
       no_change,
       {{binding(1, 0, 2), struct_pointer}, {binding(1, 0, 3), unfollowable}},
       non_list},
      {"binding slices, then the next binding's name",
       no_change,
       {{binding(1, 0, 3), struct_pointer}, {binding(1, 1, 0), unfollowable}},
       non_list},

      // Inside the host exchange and a host call.
      {"host pages, then required pages",
       no_change,
       {{host_exchange(0), struct_pointer}, {host_exchange(1), unfollowable}},
       non_list},
      {"required pages, then calls",
       no_change,
       {{host_exchange(1), struct_pointer}, {host_exchange(2), unfollowable}},
       non_list},
      {"host call name, then first page references",
       [](Builder r) {
         auto name = r.getHostExchange().getCalls()[0].getName();
         set_text(name, "\xff");
       },
       {{host_call(0, 1), unfollowable}},
       bad_utf8},
      {"first page references, then second",
       no_change,
       {{host_call(0, 1), struct_pointer}, {host_call(0, 2), unfollowable}},
       non_list},
  };
  for (const auto& c : cases) {
    const std::string result = read_with(c.bad_value, c.edits);
    EXPECT_EQ(result.substr(0, c.error.size()), c.error) << c.name << ": " << result;
    // The unfollowable pointer alone is refused: the case tests the order.
    const std::string later_alone = read_with(no_change, {c.edits.back()});
    EXPECT_NE(later_alone.find("far pointer"), std::string::npos) << c.name << ": " << later_alone;
  }
}

// A blob that repeats an earlier blob's contents but stores a wrong digest
// fails on its digest: the digest is compared before it is looked up.
TEST(ReadOrderTest, BlobDigestIsComparedBeforeDuplicatesAreLookedFor) {
  Application model = example_application();
  model.blobs.push_back(model.blobs[1]);
  testing::index_blobs(model);
  for (const bool wrong_digest : {false, true}) {
    PackageOptions options = example_options();
    if (wrong_digest) options.tweak = [](Builder r) { r.getBlobs()[2].getDigest()[7] ^= 0x40; };
    EXPECT_EQ(read_result(build_package(model, options)),
              wrong_digest ? R"(Invalid("blob digest mismatch"))"
                           : R"(Invalid("duplicate package blob digest"))");
  }
}

}  // namespace
}  // namespace zem

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zstd.h>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "zem_package/application.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

using testing::read_result;

using testing::BlobEncoding;
using testing::build_package;
using testing::example_application;
using testing::example_options;
using testing::make_blob;
using testing::memory_file;
using testing::PackageOptions;
using Root = schema::Application::Builder;

std::string read_tweaked(const std::function<void(Root)>& tweak,
                         Application model = example_application()) {
  PackageOptions options = example_options();
  options.tweak = tweak;
  return read_result(build_package(model, options));
}

TEST(ReaderTest, ReadsEveryFieldOfTheModel) {
  const std::vector<std::uint8_t> package = build_package(example_application(), example_options());
  const auto read = Application::read(memory_file(package));
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  Application expected = example_application();
  testing::index_blobs(expected);
  EXPECT_EQ(*read, expected);
  EXPECT_EQ(read->compiler, "1.4.2");
  EXPECT_EQ(read->tiles.at(1).segments.at(1).blob_offset, 0x80U);
}

TEST(ReaderTest, HeaderChecks) {
  const struct {
    const char* name;
    std::function<void(Root)> tweak;
    std::string error;
  } cases[] = {
      {"format version 3", [](Root r) { r.setFormatVersion(3); },
       R"(Invalid("incompatible package header"))"},
      {"format version 0", [](Root r) { r.setFormatVersion(0); },
       R"(Invalid("incompatible package header"))"},
      {"target too short", [](Root r) { r.setTarget("zem2"); },
       R"(Invalid("incompatible package header"))"},
      {"target too long", [](Root r) { r.setTarget("zem21x"); },
       R"(Invalid("incompatible package header"))"},
      {"target with a NUL", [](Root r) { r.setTarget(capnp::Text::Reader("zem21\0", 6)); },
       R"(Invalid("incompatible package header"))"},
      {"target absent", [](Root r) { r.disownTarget(); },
       R"(Invalid("incompatible package header"))"},
      {"target not UTF-8", [](Root r) { r.setTarget(capnp::Text::Reader("zem\xc3", 4)); },
       "Utf8(incomplete utf-8 byte sequence from index 3)"},
      {"bad target text beats a bad base",
       [](Root r) {
         r.setTileMemoryBase(0);
         r.setTarget(capnp::Text::Reader("\xffzem", 4));
       },
       "Utf8(invalid utf-8 sequence of 1 bytes from index 0)"},
      {"memory base", [](Root r) { r.setTileMemoryBase(0x4c004); },
       R"(Invalid("incompatible package header"))"},
      {"memory size", [](Root r) { r.setTileMemorySize(0x9c001); },
       R"(Invalid("incompatible package header"))"},
      {"format version beats a bad compiler",
       [](Root r) {
         r.setFormatVersion(3);
         r.setCompiler(capnp::Text::Reader("\xff", 1));
       },
       R"(Invalid("incompatible package header"))"},
      {"compiler not UTF-8", [](Root r) { r.setCompiler(capnp::Text::Reader("a\xff", 2)); },
       "Utf8(invalid utf-8 sequence of 1 bytes from index 1)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_tweaked(c.tweak), c.error) << c.name;
  }
}

TEST(ReaderTest, TextsMustBeUtf8Everywhere) {
  const struct {
    const char* name;
    std::function<void(Application&)> change;
    std::string error;
  } cases[] = {
      {"binding name", [](Application& m) { m.bindings_2[0].name = "scr\xe2\x82"; },
       "Utf8(incomplete utf-8 byte sequence from index 3)"},
      {"binding label", [](Application& m) { m.bindings_1[0].label = "f\xed\xa0\x80"; },
       "Utf8(invalid utf-8 sequence of 1 bytes from index 1)"},
      {"host call name", [](Application& m) { m.host_exchange.calls[0].name = "\xf0\x9f\x98\x28"; },
       "Utf8(invalid utf-8 sequence of 3 bytes from index 0)"},
      {"entry point name", [](Application& m) { m.entry_points[1].name = "irq\x80"; },
       "Utf8(invalid utf-8 sequence of 1 bytes from index 3)"},
  };
  for (const auto& c : cases) {
    Application model = example_application();
    c.change(model);
    EXPECT_EQ(read_result(build_package(model, example_options())), c.error) << c.name;
  }
}

TEST(ReaderTest, NulInsideATextIsKept) {
  Application model = example_application();
  model.entry_points[0].name = std::string("ma\0in", 5);
  const auto read = Application::read(memory_file(build_package(model, example_options())));
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_EQ(read->entry_points[0].name, std::string("ma\0in", 5));
}

// The example with one blob of `contents`, stored with `encoding`.
std::string read_single_blob(std::span<const std::uint8_t> contents, BlobEncoding encoding,
                             const std::function<void(schema::Blob::Builder)>& tweak = {}) {
  Application model = example_application();
  model.blobs[1] = make_blob(contents);
  PackageOptions options;
  options.blob_encodings = {BlobEncoding{}, encoding};
  if (tweak) {
    options.tweak = [&](Root root) { tweak(root.getBlobs()[1]); };
  }
  return read_result(build_package(model, options));
}

std::vector<std::uint8_t> table_bytes() {
  std::vector<std::uint8_t> bytes(0x100);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

BlobEncoding compressed(std::optional<std::uint64_t> uncompressed_size = std::nullopt) {
  BlobEncoding encoding;
  encoding.compressed = true;
  encoding.uncompressed_size = uncompressed_size;
  return encoding;
}

TEST(ReaderTest, BlobChecks) {
  const std::vector<std::uint8_t> table = table_bytes();
  const struct {
    const char* name;
    BlobEncoding encoding;
    std::function<void(schema::Blob::Builder)> tweak;
    std::string error;
  } cases[] = {
      {"plain", BlobEncoding{}, {}, "success"},
      {"compressed", compressed(), {}, "success"},
      {"declared size larger than the contents", compressed(0x10000), {}, "success"},
      {"declared size 2^63 - 1", compressed((std::uint64_t{1} << 63) - 1), {}, "success"},
      {"declared size 2^63",
       compressed(std::uint64_t{1} << 63),
       {},
       "Io(Other: declared uncompressed size 9223372036854775808 exceeds the largest object size "
       "9223372036854775807)"},
      {"declared size 2^64 - 1",
       compressed(~std::uint64_t{0}),
       {},
       "Io(Other: declared uncompressed size 18446744073709551615 exceeds the largest object "
       "size 9223372036854775807)"},
      {"declared size one short",
       compressed(0xff),
       {},
       "Io(Other: Destination buffer is too small)"},
      {"declared size zero", compressed(0), {}, "Io(Other: Destination buffer is too small)"},
      {"not zstd data", compressed(),
       [](schema::Blob::Builder b) { b.setData(kj::StringPtr("not a frame").asBytes()); },
       "Io(Other: Unknown frame descriptor)"},
      {"empty zstd payload decompresses to nothing", compressed(),
       [](schema::Blob::Builder b) { b.disownData(); }, R"(Invalid("blob digest mismatch"))"},
      {"compression code 2", BlobEncoding{},
       [](schema::Blob::Builder b) { b.setCompression(static_cast<schema::Compression>(2)); },
       "SchemaEnum(NotInSchema(2))"},
      {"compression code 2 before a bad digest", BlobEncoding{},
       [](schema::Blob::Builder b) {
         b.setCompression(static_cast<schema::Compression>(2));
         b.disownDigest();
       },
       "SchemaEnum(NotInSchema(2))"},
      {"digest of the compressed payload", compressed(),
       [](schema::Blob::Builder b) {
         const auto payload = b.getData();
         const Blob of_payload = make_blob({payload.begin(), payload.size()});
         b.setDigest({of_payload.digest.data(), of_payload.digest.size()});
       },
       R"(Invalid("blob digest mismatch"))"},
      {"digest of 31 bytes", BlobEncoding{},
       [](schema::Blob::Builder b) {
         const auto digest = b.getDigest();
         const std::vector<std::uint8_t> prefix(digest.begin(), digest.begin() + 31);
         b.setDigest({prefix.data(), prefix.size()});
       },
       R"(Invalid("blob digest mismatch"))"},
      {"digest of 33 bytes", BlobEncoding{},
       [](schema::Blob::Builder b) {
         const auto digest = b.getDigest();
         std::vector<std::uint8_t> longer(digest.begin(), digest.end());
         longer.push_back(0);
         b.setDigest({longer.data(), longer.size()});
       },
       R"(Invalid("blob digest mismatch"))"},
      {"digest absent", BlobEncoding{}, [](schema::Blob::Builder b) { b.disownDigest(); },
       R"(Invalid("blob digest mismatch"))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_single_blob(table, c.encoding, c.tweak), c.error) << c.name;
  }
}

TEST(ReaderTest, DecompressedBlobHoldsTheActualContents) {
  Application model = example_application();
  PackageOptions options;
  options.blob_encodings = {compressed(std::uint64_t{1} << 40)};
  const auto read = Application::read(memory_file(build_package(model, options)));
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_EQ(read->blobs[0].data, model.blobs[0].data);
}

TEST(ReaderTest, FrameWithoutDeclaredSizeDecompresses) {
  // A streamed frame does not record its content size in its header.
  const std::vector<std::uint8_t> contents = table_bytes();
  std::vector<std::uint8_t> frame(ZSTD_compressBound(contents.size()) + 64);
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ASSERT_EQ(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0), 0U);
  ZSTD_inBuffer in{contents.data(), contents.size(), 0};
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ASSERT_EQ(ZSTD_compressStream2(context, &out, &in, ZSTD_e_end), 0U);
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  ASSERT_EQ(ZSTD_getFrameContentSize(frame.data(), frame.size()), ZSTD_CONTENTSIZE_UNKNOWN);

  const auto with_frame = [&](std::uint64_t declared) {
    return read_single_blob(contents, compressed(declared), [&](schema::Blob::Builder b) {
      b.setData({frame.data(), frame.size()});
    });
  };
  EXPECT_EQ(with_frame((std::uint64_t{1} << 63) - 1), "success");
  EXPECT_EQ(with_frame(0x100), "success");
  EXPECT_EQ(with_frame(0xff), "Io(Other: Destination buffer is too small)");
}

// Enough blob contents that the reader takes most of their buffers from
// shared regions rather than one heap allocation each.
TEST(ReaderTest, ManyBlobsReadBackExactlyAndOutliveTheModel) {
  Application model = example_application();
  PackageOptions options = example_options();
  options.blob_encodings.resize(model.blobs.size());
  std::uint32_t state = 12345;
  for (std::size_t b = 0; b < 64; ++b) {
    std::vector<std::uint8_t> contents(96 * 1024 + b * 40);
    for (std::uint8_t& byte : contents) {
      state = state * 1103515245U + 12345U;
      byte = static_cast<std::uint8_t>((state >> 16U) % 8U);  // compressible, and distinct per blob
    }
    model.blobs.push_back(make_blob(contents));
    BlobEncoding encoding;
    encoding.compressed = b % 4 != 0;
    // Every third blob declares more room than its contents take.
    if (b % 3 == 0) encoding.uncompressed_size = contents.size() + 5000;
    options.blob_encodings.push_back(encoding);
  }
  model.blobs.push_back(make_blob({}));  // empty contents, stored plain
  testing::index_blobs(model);

  auto read = Application::read(memory_file(build_package(model, options)));
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_EQ(*read, model);

  // A blob moved out of the model, and copies of one, stay intact after the
  // model is gone.
  Blob moved = std::move(read->blobs[40]);
  const Blob copied = read->blobs[41];
  Blob assigned = model.blobs[0];
  assigned = read->blobs[42];
  read = std::unexpected(PackageError::invalid("released"));
  EXPECT_EQ(moved, model.blobs[40]);
  EXPECT_EQ(copied, model.blobs[41]);
  EXPECT_EQ(assigned, model.blobs[42]);
}

TEST(ReaderTest, DuplicateBlobsAreRefusedWhateverTheirEncoding) {
  Application model = example_application();
  model.blobs.push_back(make_blob(table_bytes()));
  for (const bool second_compressed : {false, true}) {
    PackageOptions options;
    options.blob_encodings = {BlobEncoding{}, BlobEncoding{}, BlobEncoding{}};
    options.blob_encodings[2].compressed = second_compressed;
    EXPECT_EQ(read_result(build_package(model, options)),
              R"(Invalid("duplicate package blob digest"))");
  }
}

TEST(ReaderTest, AbsentListsAndHostExchangeReadAsEmpty) {
  Application model = example_application();
  model.bindings_1.clear();
  model.bindings_2.clear();
  model.host_exchange = HostExchange{};
  model.entry_points.clear();
  model.device_config_writes.clear();
  PackageOptions options = example_options();
  options.tweak = [](Root root) {
    root.disownBindings1();
    root.disownBindings2();
    root.disownBindings3();
    root.disownHostExchange();
    root.disownEntryPoints();
    root.disownDeviceConfigWrites();
  };
  const auto read = Application::read(memory_file(build_package(model, options)));
  ASSERT_TRUE(read.has_value()) << read.error().to_string();
  EXPECT_EQ(read->host_exchange, HostExchange{});
  EXPECT_TRUE(read->bindings_1.empty() && read->bindings_3.empty() && read->entry_points.empty());
}

TEST(ReaderTest, MalformedPointersAreCapnpErrors) {
  const std::vector<std::uint8_t> package = build_package(example_application(), example_options());
  const struct {
    const char* name;
    std::function<void(testing::RawPackage&)> edit;
    std::string description;
  } cases[] = {
      {"text without its NUL",
       [](testing::RawPackage& w) {
         const std::size_t at = w.root_pointer(1);
         w.set(at, w.get(at) - (std::uint64_t{1} << 35));  // count 6 -> 5
       },
       "NUL-terminated"},
      {"list pointer out of bounds",
       [](testing::RawPackage& w) {
         const std::size_t at = w.root_pointer(3);
         w.set(at, (w.get(at) & ~std::uint64_t{0xfffffffc}) | (std::uint64_t{0x1000000} << 2));
       },
       "out-of-bounds"},
      {"struct pointer where a list belongs",
       [](testing::RawPackage& w) { w.set(w.root_pointer(2), std::uint64_t{1} << 32); }, "list"},
      {"root pointer to a list", [](testing::RawPackage& w) { w.set(0, w.get(0) | 1); }, "struct"},
  };
  for (const auto& c : cases) {
    testing::RawPackage raw(package);
    c.edit(raw);
    const std::string result = read_result(raw.bytes());
    EXPECT_EQ(result.rfind("Capnp(failed: ", 0), 0U) << c.name << ": " << result;
    EXPECT_NE(result.find(c.description), std::string::npos) << c.name << ": " << result;
  }
}

// A pointer to an empty object (a list of no elements, or of elements of no
// size, or a struct of no size) whose offset lands outside its segment is
// out of bounds, as a pointer to anything larger would be; one that lands
// exactly at the segment's end is not.
TEST(ReaderTest, EmptyObjectsAtWildOffsetsAreOutOfBounds) {
  const std::vector<std::uint8_t> package = build_package(example_application(), example_options());
  // A pointer at `at` to a target `distance` words past the segment's end.
  const auto past_end = [](const testing::RawPackage& w, std::size_t at, std::int64_t distance) {
    const std::size_t words = (w.bytes().size() - 8) / 8;
    return static_cast<std::int64_t>(words) - static_cast<std::int64_t>(at) - 1 + distance;
  };
  const auto struct_pointer = [](std::int64_t offset) {
    return (static_cast<std::uint64_t>(offset) & 0x3fffffff) << 2;
  };
  const auto list_pointer = [](std::int64_t offset, unsigned element_size, std::uint64_t count) {
    return 1 | (static_cast<std::uint64_t>(offset) & 0x3fffffff) << 2 |
           std::uint64_t{element_size} << 32 | count << 35;
  };
  constexpr std::size_t root = ~std::size_t{0};  // the message's root pointer
  const struct {
    const char* name;
    std::size_t field;      // root pointer, or `root`
    bool as_struct;         // else a list
    unsigned element_size;  // of a list
    std::uint64_t count;    // of a list
    std::int64_t distance;  // past the segment's end, in words; negative is before its start
    std::string result;
  } cases[] = {
      {"no bindings", 6, false, 6, 0, 1000,
       "Capnp(failed: Message contains out-of-bounds list pointer.)"},
      {"no bindings of bytes", 6, false, 2, 0, 5,
       "Capnp(failed: Message contains out-of-bounds list pointer.)"},
      {"bindings of no size", 6, false, 0, 5, 3,
       "Capnp(failed: Message contains out-of-bounds list pointer.)"},
      {"a host exchange of no size", 7, true, 0, 0, 1,
       "Capnp(failed: Message contains out-of-bounds struct pointer.)"},
      {"before the segment", 8, false, 6, 0, -1000000,
       "Capnp(failed: Message contains out-of-bounds list pointer.)"},
      {"no build digest bytes", 9, false, 2, 0, 20,
       "Capnp(failed: Message contains out-of-bounds list pointer.)"},
      {"a root of no size", root, true, 0, 0, 2,
       "Capnp(failed: Message contains out-of-bounds struct pointer.)"},
      // At the very end: in bounds, and read as empty.
      {"no bindings at the end", 6, false, 6, 0, 0, "success"},
      {"no build digest at the end", 9, false, 2, 0, 0, R"(Invalid("build digest mismatch"))"},
      {"a root of no size at the end", root, true, 0, 0, 0,
       R"(Invalid("incompatible package header"))"},
  };
  for (const auto& c : cases) {
    testing::RawPackage raw(package);
    const std::size_t at = c.field == root ? 0 : raw.root_pointer(c.field);
    const std::int64_t offset = past_end(raw, at, c.distance);
    raw.set(at,
            c.as_struct ? struct_pointer(offset) : list_pointer(offset, c.element_size, c.count));
    EXPECT_EQ(read_result(raw.bytes()), c.result) << c.name;
  }

  // Inside the structure: the values of the first binding, no 32-bit words.
  testing::RawPackage raw(package);
  const std::size_t list = raw.root_pointer(4);
  const auto list_offset =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(raw.get(list))) >> 2;
  // The list's tag word, then the binding's name and label pointers.
  const std::size_t values = list + 1 + static_cast<std::size_t>(list_offset) + 1 + 2;
  raw.set(values, list_pointer(past_end(raw, values, 50), 4, 0));
  EXPECT_EQ(read_result(raw.bytes()),
            "Capnp(failed: Message contains out-of-bounds list pointer.)");
}

// A far pointer's landing pad is checked against the segment that holds it:
// at that segment's first word, in a last segment that ends exactly where
// the message ends, and past empty segments. Root pointer 6 (bindings3) is
// made a far pointer to a pad that points to an empty list `distance` words
// past the end of the pad's segment.
TEST(ReaderTest, EmptyListsBehindFarPointersAreBoundsChecked) {
  const std::vector<std::uint8_t> package = build_package(example_application(), example_options());
  const std::string refused = "Capnp(failed: Message contains out-of-bounds list pointer.)";
  const struct {
    const char* name;
    std::vector<std::size_t> sizes;  // in words, of the segments after the first
    std::uint32_t segment;           // that holds the pad
    std::size_t pad;                 // the pad's word in it
    std::size_t distance;
    std::string result;
  } cases[] = {
      {"first word of the last segment", {1}, 1, 0, 4, refused},
      {"first word of a segment, ending in the next", {1, 2}, 1, 0, 1, refused},
      {"last word of a middle segment", {2, 1}, 1, 1, 3, refused},
      {"after an empty segment", {0, 1}, 2, 0, 1, refused},
      {"before an empty last segment", {1, 0}, 1, 0, 2, refused},
      {"at the end of the last segment", {1}, 1, 0, 0, "success"},
      {"at the end of a segment before an empty one", {2, 0}, 1, 1, 0, "success"},
  };
  for (const auto& c : cases) {
    testing::RawPackage raw(package);
    std::vector<std::vector<std::uint64_t>> later;
    for (const std::size_t size : c.sizes) later.emplace_back(size, 0);
    std::vector<std::uint64_t>& holder = later.at(c.segment - 1);
    holder.at(c.pad) = testing::RawPackage::list_pointer(c.pad, holder.size() + c.distance, 6, 0);
    raw.set(raw.root_pointer(6), testing::RawPackage::far_pointer(c.segment, c.pad));
    EXPECT_EQ(read_result(raw.with_later_segments(later)), c.result) << c.name;
  }

  // A far pointer to a pad outside every segment fails in the reader itself,
  // though the word just past the pad's segment holds a wild empty list.
  // Four segments, so that reading the bounds of a fifth would run past the
  // storage of theirs.
  const std::vector<std::vector<std::uint64_t>> later{
      {0}, {testing::RawPackage::list_pointer(0, 5, 6, 0)}, {0}};
  const struct {
    std::uint32_t segment;
    std::size_t pad;
    std::string description;
  } outside[] = {
      {1, 1, "Message contains out-of-bounds far pointer."},
      {4, 0, "Message contains far pointer to unknown segment."},
  };
  for (const auto& c : outside) {
    testing::RawPackage raw(package);
    raw.set(raw.root_pointer(6), testing::RawPackage::far_pointer(c.segment, c.pad));
    const std::string result = read_result(raw.with_later_segments(later));
    EXPECT_EQ(result.rfind("Capnp(failed: ", 0), 0U) << result;
    EXPECT_NE(result.find(c.description), std::string::npos) << result;
  }

  // Pads that are far pointers themselves, one leading back to itself and
  // two leading to each other: refused at once, never followed round.
  const std::vector<std::vector<std::uint64_t>> loops[] = {
      {{testing::RawPackage::far_pointer(1, 0)}},
      {{testing::RawPackage::far_pointer(2, 0)}, {testing::RawPackage::far_pointer(1, 0)}},
  };
  for (const auto& segments : loops) {
    testing::RawPackage raw(package);
    raw.set(raw.root_pointer(6), testing::RawPackage::far_pointer(1, 0));
    EXPECT_EQ(read_result(raw.with_later_segments(segments)),
              "Capnp(failed: expected ref->kind() == WirePointer::LIST [2 == 1]; Message contains "
              "non-list pointer where list pointer was expected.)");
  }
}

// Keeps every event it receives, with its fields rendered as text.
class Recorder : public events::Receiver {
 public:
  struct Recorded {
    events::Level level;
    std::string target;
    std::string file;
    std::string message;
    std::vector<std::pair<std::string, std::string>> fields;
  };

  Recorder() { previous_ = events::set_receiver(this); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder() override { events::set_receiver(previous_); }

  bool enabled(events::Level, std::string_view) const override { return true; }
  void receive(const events::Event& event) override {
    Recorded r{event.level,
               std::string(event.target),
               event.location.file_name(),
               std::string(event.message),
               {}};
    for (const events::Field& f : event.fields) {
      r.fields.emplace_back(
          f.name, std::visit([](const auto& v) { return fmt::format("{}", v); }, f.value));
    }
    recorded.push_back(std::move(r));
  }

  std::vector<Recorded> recorded;

 private:
  events::Receiver* previous_ = nullptr;
};

TEST(ReaderTest, EventsMarkTheStartAndTheSuccessOfARead) {
  {
    Recorder recorder;
    ASSERT_TRUE(
        Application::read(memory_file(build_package(example_application(), example_options()))));
    ASSERT_EQ(recorder.recorded.size(), 2U);
    const auto& first = recorder.recorded[0];
    EXPECT_EQ(first.level, events::Level::info);
    EXPECT_EQ(first.target, "zem_package");
    EXPECT_EQ(first.message, "reading application package");
    EXPECT_TRUE(first.fields.empty());
    EXPECT_NE(first.file.find("reader.cpp"), std::string::npos);
    const auto& second = recorder.recorded[1];
    EXPECT_EQ(second.level, events::Level::info);
    EXPECT_EQ(second.message, "application package read");
    const std::vector<std::pair<std::string, std::string>> fields{
        {"tiles", "2"}, {"blobs", "2"}, {"compiler", "1.4.2"}};
    EXPECT_EQ(second.fields, fields);
  }
  {
    // A failed read, even of an empty file, emits only the first event.
    Recorder recorder;
    ASSERT_FALSE(Application::read(memory_file({})));
    ASSERT_EQ(recorder.recorded.size(), 1U);
    EXPECT_EQ(recorder.recorded[0].message, "reading application package");
  }
}

}  // namespace
}  // namespace zem

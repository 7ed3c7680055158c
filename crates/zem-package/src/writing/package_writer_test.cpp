// The writer: it refuses what a read refuses, in the read's words; it writes
// the same bytes on any number of threads; a failed write leaves nothing
// under the target's name.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "damaged_packages.hpp"
#include "package_builder.hpp"
#include "package_reads.hpp"
#include "writing/output_sink.hpp"
#include "zem_package/package_writer.hpp"

namespace zem {
namespace {

namespace zt = zem::testing;

std::vector<BlobStorageChoice> example_storage() { return {StoreZstd{}}; }

struct Refusal {
  std::string_view name;
  // A change to the example model and to how its blobs are stored.
  std::function<void(Application&, std::vector<BlobStorageChoice>&)> change;
  // The same package, made by changing the valid example as tests make
  // damaged packages: what a read of it reports is what the writer says.
  std::function<std::vector<std::uint8_t>()> damaged;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

std::vector<Refusal> refusals() {
  const auto bad_text = [] { return std::string("1.\xff", 3); };
  const auto model_change = [](std::function<void(Application&)> change) {
    return [change](Application& model, std::vector<BlobStorageChoice>&) { change(model); };
  };
  const auto damaged_model = [](std::function<void(Application&)> change) {
    return [change] { return zt::with_model(change); };
  };
  const auto other_frame = [] {
    return zt::compress(zt::example_application().blobs[1].data.bytes());
  };
  std::vector<Refusal> cases;
  const auto add_model_case = [&](std::string_view name, std::function<void(Application&)> f) {
    cases.push_back({name, model_change(f), damaged_model(f)});
  };
  add_model_case("CompilerNotUtf8", [=](Application& m) { m.compiler = bad_text(); });
  add_model_case("DuplicateBlob", [](Application& m) { m.blobs.push_back(m.blobs[1]); });
  add_model_case("BindingNameNotUtf8", [=](Application& m) { m.bindings_2[0].name = bad_text(); });
  add_model_case("EntryPointNameNotUtf8",
                 [=](Application& m) { m.entry_points[1].name = bad_text(); });
  add_model_case("DuplicateTile", [](Application& m) { m.tiles[0].physical_tile = 7; });
  add_model_case("SegmentOutsideItsBlob",
                 [](Application& m) { m.tiles[1].segments[1].blob_offset = 0x100; });
  add_model_case("NoTiles", [](Application& m) { m.tiles.clear(); });
  add_model_case("HostCallWithoutInvocations",
                 [](Application& m) { m.host_exchange.calls[0].invocations = 0; });
  cases.push_back(
      {"DigestNotTheContents", model_change([](Application& m) { m.blobs[1].digest[0] ^= 1U; }),
       [] { return zt::tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; }); }});
  cases.push_back({"FrameOfOtherContents",
                   [=](Application&, std::vector<BlobStorageChoice>& storage) {
                     storage[0] = StoreFrame{ByteBuffer::copy_of(other_frame()), std::nullopt};
                   },
                   [=] {
                     return zt::tweaked([=](auto root) {
                       const std::vector<std::uint8_t> frame = other_frame();
                       root.getBlobs()[0].setData(capnp::Data::Reader(frame.data(), frame.size()));
                     });
                   }});
  cases.push_back({"DeclaredSizeBelowTheContents",
                   [](Application&, std::vector<BlobStorageChoice>& storage) {
                     storage[0] = StoreZstd{3, 4000};
                   },
                   [] {
                     zt::PackageOptions options = zt::example_options();
                     options.blob_encodings[0].uncompressed_size = 4000;
                     return zt::build_package(zt::example_application(), options);
                   }});
  cases.push_back({"DeclaredSizeNoObjectHas",
                   [](Application&, std::vector<BlobStorageChoice>& storage) {
                     storage[0] = StoreZstd{3, std::uint64_t{1} << 63U};
                   },
                   [] {
                     zt::PackageOptions options = zt::example_options();
                     options.blob_encodings[0].uncompressed_size = std::uint64_t{1} << 63U;
                     return zt::build_package(zt::example_application(), options);
                   }});
  return cases;
}

class WriterRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(WriterRefusalTest, RefusesInTheReadsWords) {
  Application model = zt::example_application();
  std::vector<BlobStorageChoice> storage = example_storage();
  GetParam().change(model, storage);
  const auto written = write_package(model, storage);
  ASSERT_FALSE(written);
  ASSERT_EQ(written.error().kind, WriteFailure::Kind::invalid_package)
      << written.error().to_string();
  const auto read = zt::read_checked(GetParam().damaged());
  ASSERT_FALSE(read) << "the damaged package reads as valid";
  const ReadFailure& said = written.error().failure;
  EXPECT_EQ(said.error, read.error().error);
  EXPECT_EQ(said.stage, read.error().stage);
  EXPECT_EQ(said.element, read.error().element);
}

INSTANTIATE_TEST_SUITE_P(Writer, WriterRefusalTest, ::testing::ValuesIn(refusals()),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(PackageWriterTest, RefusesWhatNoPackageStores) {
  Application model = zt::example_application();
  const std::vector<BlobStorageChoice> level{StoreZstd{23, std::nullopt}};
  const auto written = write_package(model, level);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().to_string(), "blobs[0]: Zstandard level 23 is not one of 1 to 22");
}

// A model of many blobs of many sizes, stored every way.
Application many_blobs(std::vector<BlobStorageChoice>& storage) {
  Application model = zt::example_application();
  std::vector<std::uint8_t> contents;
  for (std::uint32_t i = 0; i < 48; ++i) {
    contents.resize((std::size_t{i} * i * 1319) % 60000 + i);
    for (std::size_t k = 0; k < contents.size(); ++k) {
      contents[k] = static_cast<std::uint8_t>((k * (i + 3)) >> (i % 5));
    }
    model.blobs.push_back(zt::make_blob(contents));
    const auto data = static_cast<std::uint32_t>(std::min<std::size_t>(contents.size(), 0x40));
    model.tiles.push_back(
        TileImage{100 + i, i, 0, 0, {Segment{0x4c000, 0x40, model.blobs.size() - 1, 0, data, i}}});
  }
  storage.assign(model.blobs.size(), StorePlain{});
  for (std::size_t i = 0; i < storage.size(); i += 3) storage[i] = StoreZstd{1 + int(i % 19), {}};
  storage[4] = StoreFrame{ByteBuffer::copy_of(zt::compress(model.blobs[4].data.bytes(), 9)),
                          model.blobs[4].data.size() + 11};
  return model;
}

TEST(PackageWriterTest, SameBytesOnAnyNumberOfThreadsAndReadBackAsWritten) {
  std::vector<BlobStorageChoice> storage;
  const Application model = many_blobs(storage);
  const auto one = write_package(model, storage, {.threads = 1});
  ASSERT_TRUE(one) << one.error().to_string();
  for (const unsigned threads : {2U, 4U, 7U}) {
    const auto many = write_package(model, storage, {.threads = threads});
    ASSERT_TRUE(many) << many.error().to_string();
    EXPECT_EQ(*many, *one) << threads << " threads";
  }
  auto read = zt::read_application(*one);
  ASSERT_TRUE(read) << read.error().to_string();
  Application expected = model;
  zt::index_blobs(expected);
  EXPECT_EQ(*read, expected);
  const auto checked = zt::read_checked(*one);
  ASSERT_TRUE(checked);
  EXPECT_EQ(checked->model().blobs[4].storage.declared_size, model.blobs[4].data.size() + 11);
}

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zem-writer-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
  [[nodiscard]] std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      out.push_back(entry.path().filename().string());
    }
    return out;
  }

 private:
  std::string path_;
};

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PackageWriterTest, AFileTakesItsNameOnlyWhenWholeAndValid) {
  const ScratchDirectory dir;
  const Application model = zt::example_application();
  const std::string target = dir.file("out.zpkg");
  const auto written = write_package_file(model, example_storage(), target);
  ASSERT_TRUE(written) << written.error().to_string();
  EXPECT_EQ(file_bytes(target), zt::example_bytes());
  EXPECT_EQ(written->size, zt::example_bytes().size());
  EXPECT_EQ(written->build_digest, model.build_digest());

  // An existing file is kept unless it may be replaced.
  Application other = model;
  other.compiler = "9.9.9";
  const auto refused = write_package_file(other, example_storage(), target);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().os_error, EEXIST);
  EXPECT_EQ(file_bytes(target), zt::example_bytes());
  ASSERT_TRUE(write_package_file(other, example_storage(), target, {.replace_existing = true}));
  EXPECT_NE(file_bytes(target), zt::example_bytes());

  // A model the writer refuses leaves no file, under any name.
  other.tiles[0].physical_tile = 7;
  const std::string second = dir.file("second.zpkg");
  ASSERT_FALSE(write_package_file(other, example_storage(), second));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.zpkg"});

  // Nor does a directory that refuses new files.
  const std::string locked = dir.file("locked");
  ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
  if (::access(locked.c_str(), W_OK) != 0) {  // root may write anyway
    const auto denied = write_package_file(model, example_storage(), locked + "/out.zpkg");
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().os_error, EACCES);
    EXPECT_TRUE(std::filesystem::is_empty(locked));
  }
  const auto not_a_file =
      write_package_file(model, example_storage(), locked, {.replace_existing = true});
  ASSERT_FALSE(not_a_file);
  EXPECT_EQ(not_a_file.error().message, "not a regular file (a directory)");
}

// A file that takes the target's name while the package is written is
// kept, and the write refused as if the file had been there first.
TEST(PackageWriterTest, AFileAppearingMeanwhileIsKept) {
  const ScratchDirectory dir;
  const std::string target = dir.file("out.zpkg");
  auto sink = FileSink::create(target, false);
  ASSERT_TRUE(sink) << sink.error().to_string();
  const std::vector<std::uint8_t> ours{1, 2, 3};
  ASSERT_TRUE((*sink)->write_at(0, ours));
  std::ofstream(target) << "theirs";
  const auto committed = (*sink)->commit(ours.size());
  ASSERT_FALSE(committed);
  EXPECT_EQ(committed.error().message, "exists");
  EXPECT_EQ(committed.error().os_error, EEXIST);
  sink->reset();
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.zpkg"});
  EXPECT_EQ(file_bytes(target), (std::vector<std::uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
}

}  // namespace
}  // namespace zem

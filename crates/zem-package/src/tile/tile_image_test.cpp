#include <fmt/format.h>
#include <gtest/gtest.h>

#include "package_builder.hpp"
#include "zem_package/application.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

using testing::make_blob;

std::vector<std::uint8_t> counting_bytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
  return bytes;
}

// One tile 5 with `segments` over one blob of 0x100 counting bytes.
Application tile_with(std::vector<Segment> segments) {
  Application model;
  model.blobs.push_back(make_blob(counting_bytes(0x100)));
  model.tiles.push_back(TileImage{5, 0, 0, 0, std::move(segments)});
  return model;
}

std::vector<std::uint8_t> image_of(const Application& model, std::uint32_t tile = 5) {
  auto image = model.tile_image(tile);
  EXPECT_TRUE(image.has_value()) << image.error().to_string();
  return image.value_or(std::vector<std::uint8_t>{});
}

TEST(TileImageTest, OneSegmentIsItsDataThenZeros) {
  const auto image = image_of(tile_with({Segment{0x4c000, 0x40, 0, 0x10, 0x20, 0}}));
  ASSERT_EQ(image.size(), 0x40U);
  for (std::size_t i = 0; i < 0x20; ++i) EXPECT_EQ(image[i], 0x11 + i) << i;
  for (std::size_t i = 0x20; i < 0x40; ++i) EXPECT_EQ(image[i], 0) << i;
}

TEST(TileImageTest, GapsBetweenSegmentsAreZero) {
  const auto image = image_of(
      tile_with({Segment{0x4d000, 0x10, 0, 0, 0x10, 0}, Segment{0x4c000, 0x100, 0, 0, 0x100, 0}}));
  ASSERT_EQ(image.size(), 0x1010U);
  EXPECT_EQ(image[0], 1);
  EXPECT_EQ(image[0xff], 0);  // byte 0x100 of the counting blob wraps to 0
  EXPECT_EQ(image[0xfe], 0xff);
  for (std::size_t i = 0x100; i < 0x1000; ++i) ASSERT_EQ(image[i], 0) << i;
  EXPECT_EQ(image[0x1000], 1);
  EXPECT_EQ(image[0x100f], 0x10);
}

TEST(TileImageTest, EmptySegmentLowersTheLoadBase) {
  const Application model =
      tile_with({Segment{0x4c100, 0x10, 0, 0, 0x10, 0}, Segment{0x4c000, 0, 0, 0, 0, 0}});
  EXPECT_EQ(load_base(model.tiles[0]), 0x4c000U);
  const auto image = image_of(model);
  ASSERT_EQ(image.size(), 0x110U);
  EXPECT_EQ(image[0xff], 0);
  EXPECT_EQ(image[0x100], 1);
}

TEST(TileImageTest, SegmentWithoutDataIsZeros) {
  const auto image = image_of(tile_with({Segment{0x4c000, 0x20, 0, 0x100, 0, 0}}));
  EXPECT_EQ(image, std::vector<std::uint8_t>(0x20, 0));
}

// A model that was never validated may hold segments that overlap: they are
// copied in list order, and the later one wins, whatever their blobs.
TEST(TileImageTest, OverlappingSegmentsAreCopiedInListOrder) {
  Application model =
      tile_with({Segment{0x4c000, 0x20, 1, 0, 0x20, 0}, Segment{0x4c010, 0x20, 0, 0, 0x20, 0}});
  model.blobs.push_back(make_blob(std::vector<std::uint8_t>(0x20, 0xee)));
  const auto image = image_of(model);
  ASSERT_EQ(image.size(), 0x30U);
  EXPECT_EQ(image[0xf], 0xee);
  for (std::size_t i = 0x10; i < 0x30; ++i) EXPECT_EQ(image[i], i - 0xf) << i;
}

TEST(TileImageTest, OnlyEmptySegmentsGiveAnEmptyImage) {
  const auto image =
      image_of(tile_with({Segment{0x4c800, 0, 0, 0, 0, 0}, Segment{0x4c800, 0, 0, 0, 0, 0}}));
  EXPECT_TRUE(image.empty());
}

TEST(TileImageTest, Failures) {
  Application model = tile_with({Segment{0x4c000, 0x10, 0, 0, 0x10, 0}});
  model.tiles.push_back(TileImage{6, 0, 0, 0, {}});
  const struct {
    std::uint32_t tile;
    const char* error;
  } cases[] = {
      {7, R"(Invalid("unknown tile 7"))"},
      {4294967295, R"(Invalid("unknown tile 4294967295"))"},
      {6, R"(Invalid("tile has no loadable segments"))"},
  };
  for (const auto& c : cases) {
    const auto image = model.tile_image(c.tile);
    ASSERT_FALSE(image.has_value()) << c.tile;
    EXPECT_EQ(image.error().to_string(), c.error);
  }
}

TEST(TileImageTest, UnvalidatedModelsNeverReadOrWriteOutOfBounds) {
  // Each segment breaks one of the invariants that validation establishes.
  const Segment broken[] = {
      Segment{0x4c000, 0x10, 1, 0, 0x10, 0},               // no such blob
      Segment{0x4c000, 0x10, 0, 0xf8, 0x10, 0},            // runs past the blob
      Segment{0x4c000, 0x10, 0, ~std::uint64_t{0}, 2, 0},  // offset wraps
      Segment{0x4c000, 0x10, 0, 0, 0x20, 0},               // more data than memory
  };
  for (const Segment& segment : broken) {
    const auto image = tile_with({segment}).tile_image(5);
    ASSERT_FALSE(image.has_value());
    EXPECT_EQ(image.error().to_string(),
              R"(Invalid("segment at 0x4c000 on tile 5 takes data from outside its blob"))");
  }
  // Segments outside tile memory would wrap the 32-bit image length or ask
  // for gigabytes.
  for (const Segment& segment :
       {Segment{0x10, 0x100, 0, 0, 0x10, 0}, Segment{0xffffff00, 0x100, 0, 0, 0x10, 0},
        Segment{0xe7f00, 0x101, 0, 0, 0x10, 0}}) {
    const auto image = tile_with({Segment{0x4c000, 0x100, 0, 0, 0x100, 0}, segment}).tile_image(5);
    ASSERT_FALSE(image.has_value());
    EXPECT_EQ(image.error().to_string(),
              fmt::format(R"(Invalid("segment at 0x{:x} on tile 5 lies outside tile memory"))",
                          segment.address));
  }
}

TEST(TileImageTest, SegmentMayEndExactlyAtTheEndOfTileMemory) {
  // Tile memory ends at 0xe8000: the last byte is 0xe7fff.
  const Application model =
      tile_with({Segment{0x4c000, 0x10, 0, 0, 0x10, 0}, Segment{0xe7f00, 0x100, 0, 0, 0x100, 0}});
  const auto image = image_of(model);
  ASSERT_EQ(image.size(), 0x9c000U);
  EXPECT_EQ(image[0x9bf00], 1);
  EXPECT_EQ(image[0x9bfff], 0);  // byte 0x100 of the counting blob wraps to 0
  EXPECT_EQ(image[0x9bffe], 0xff);
  // One byte longer, it is refused: see UnvalidatedModelsNeverReadOrWriteOutOfBounds.
}

class TraceRecorder : public events::Receiver {
 public:
  TraceRecorder() { previous_ = events::set_receiver(this); }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;
  ~TraceRecorder() override { events::set_receiver(previous_); }
  bool enabled(events::Level level, std::string_view) const override {
    return level == events::Level::trace;
  }
  void receive(const events::Event& event) override {
    messages.emplace_back(event.message);
    for (const events::Field& f : event.fields) {
      fields.emplace_back(std::string(f.name),
                          std::visit([](const auto& v) { return fmt::format("{}", v); }, f.value));
    }
  }
  std::vector<std::string> messages;
  std::vector<std::pair<std::string, std::string>> fields;

 private:
  events::Receiver* previous_ = nullptr;
};

TEST(TileImageTest, TraceEventGivesTileLoadBaseAndLength) {
  const Application model = tile_with({Segment{0x4c000, 0x40, 0, 0, 0x20, 0}});
  {
    TraceRecorder recorder;
    ASSERT_TRUE(model.tile_image(5).has_value());
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"reconstructing tile image"});
    const std::vector<std::pair<std::string, std::string>> fields{
        {"physical_tile", "5"}, {"load_base", "0x4c000"}, {"image_bytes", "64"}};
    EXPECT_EQ(recorder.fields, fields);
  }
  {
    TraceRecorder recorder;
    ASSERT_FALSE(model.tile_image(9).has_value());
    EXPECT_TRUE(recorder.messages.empty());
  }
}

}  // namespace
}  // namespace zem

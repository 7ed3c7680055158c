// The pages of `map` and `verify --html` as a real browser makes them: the
// DOM that headless Chromium builds from each file, checked against the
// package (cells, blocks, brackets and their attributes; package text as
// text, never as markup), and screenshots of a device view and of a tile
// view, which must show the statuses' and the blobs' colours. Skipped when
// no browser was found.

#include <gtest/gtest.h>
#include <fmt/format.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "text_count.hpp"
#include "toolkit/pages/palette.hpp"
#include "toolkit_fixture.hpp"
#include "zem_package/package_model.hpp"

namespace zem::testing {
namespace {

using toolkit::pages::blob_colour;
using toolkit::pages::status_colour;

// Names that would run or break markup if a page took them as HTML.
const std::string script_name = "<script>document.title='taken'</script>";
const std::string quote_name = "a\"b'c&d";
const std::string override_name = "\u202eevil";

// The example, with tile 8 loading tile 7's template, tile 9 two large
// blobs, and bindings on tile 7 with hostile names.
Application browser_model() {
  Application model = example_application();
  std::vector<std::uint8_t> large(0x10000, 0x11);
  model.blobs.push_back(make_blob(large));
  large[0] = 0x22;
  model.blobs.push_back(make_blob(large));
  index_blobs(model);
  model.tiles.push_back(TileImage{8, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  model.tiles.push_back(TileImage{
      9,
      0,
      0,
      0,
      {Segment{0x4c000, 0x10000, 2, 0, 0x10000, 0}, Segment{0x80000, 0x18000, 3, 0, 0x10000, 0}}});
  for (const std::string& name : {script_name, quote_name, override_name}) {
    model.bindings_3.push_back(Binding{name, name, {}, {RegionSlice{7, 0x4c800, 0, 16}}});
  }
  return model;
}

// The serialised element that starts with `start`, up to its `</section>`.
std::string_view section(std::string_view dom, std::string_view start) {
  const std::size_t from = dom.find(start);
  if (from == std::string_view::npos) return {};
  return dom.substr(from, dom.find("</section>", from) - from);
}

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

Rgb rgb(std::string_view css) {
  const auto hex = [&](std::size_t at) {
    return static_cast<std::uint8_t>(std::stoul(std::string(css.substr(at, 2)), nullptr, 16));
  };
  return {hex(1), hex(3), hex(5)};
}

struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // RGB
  [[nodiscard]] std::size_t pixels_of(Rgb colour) const {
    std::size_t n = 0;
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
      n += Rgb{pixels[i], pixels[i + 1], pixels[i + 2]} == colour ? 1U : 0U;
    }
    return n;
  }
};

std::optional<Picture> read_png(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  Picture picture{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return picture;
}

class PageBrowserTest : public ZemPackageTest {
 protected:
  void SetUp() override {
    if (std::string_view(ZEM_CHROMIUM_PATH).empty()) GTEST_SKIP() << "chromium was not found";
    write("device.zpkg", build_package(browser_model(), example_options()));
  }
  // Chromium on `page` (with a fragment, say), with `extra` arguments.
  ProgramRun browser(const std::string& page, const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {"--headless", "--no-sandbox", "--disable-gpu",
                                     "--disable-background-networking",
                                     "--user-data-dir=" + dir() + "/profile"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("file://" + dir() + "/" + page);
    return run_program(ZEM_CHROMIUM_PATH, args,
                       RunSettings{dir(), {"HOME=" + dir()}, std::nullopt, {}});
  }
  std::string dom(const std::string& page) const {
    const ProgramRun run = browser(page, {"--dump-dom"});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }
  std::optional<Picture> screenshot(const std::string& page, std::uint32_t height) const {
    const ProgramRun run = browser(page, {"--screenshot=" + dir() + "/shot.png",
                                          "--window-size=1000," + std::to_string(height)});
    EXPECT_EQ(run.status, 0) << run.err;
    return read_png(dir() + "/shot.png");
  }
};

TEST_F(PageBrowserTest, DeviceAndTileViewsHoldThePackage) {
  ASSERT_EQ(run({"map", "device.zpkg", "-o", "device.html"}).status, tool_success);
  const std::string page = dom("device.html");
  const Application model = browser_model();
  ASSERT_EQ(occurrences(page, R"(<g class="cell")"), model.tiles.size()) << page;
  for (const TileImage& tile : model.tiles) {
    const std::string n = std::to_string(tile.physical_tile);
    EXPECT_EQ(occurrences(page, R"(<g class="cell" data-tile=")" + n + '"'), 1U) << n;
    EXPECT_EQ(occurrences(page, R"(<a href="#tile-)" + n + '"'), 1U) << n;
    const std::string_view view = section(page, R"(<section class="tile" id="tile-)" + n + '"');
    ASSERT_FALSE(view.empty()) << n;
    EXPECT_EQ(occurrences(view, R"(class="segment" data-segment=)"), tile.segments.size()) << n;
    for (std::size_t i = 0; i < tile.segments.size(); ++i) {
      EXPECT_EQ(occurrences(view, fmt::format(R"(class="segment" data-segment="{}" data-blob="{}")",
                                              i, tile.segments[i].blob)),
                1U)
          << n << " " << i;
    }
    std::size_t slices = 0;
    for (const BindingList& list : binding_lists(model)) {
      for (const Binding& b : list.bindings) {
        slices += static_cast<std::size_t>(
            std::ranges::count(b.slices, tile.physical_tile, &RegionSlice::physical_tile));
      }
    }
    EXPECT_EQ(occurrences(view, R"(<g class="bracket" data-binding=)"), slices) << n;
    // Only the tiles that load the example's template have a setup marked.
    const bool setup = tile.physical_tile == 7 || tile.physical_tile == 8;
    EXPECT_EQ(occurrences(view, R"(data-region="template-setup")"), setup ? 1U : 0U) << n;
    EXPECT_EQ(occurrences(view, R"(data-region="primary")"), setup ? 1U : 0U) << n;
    // Those tiles' views zoom in on their template in an inset, its span
    // outlined on the full axis; and their device cells are the ones not
    // hatched.
    EXPECT_EQ(occurrences(view, R"(<g class="setup-inset")"), setup ? 1U : 0U) << n;
    EXPECT_EQ(occurrences(view, R"(class="inset-range")"), setup ? 1U : 0U) << n;
    EXPECT_EQ(occurrences(view, R"(data-inset-region="primary")"), setup ? 1U : 0U) << n;
    EXPECT_EQ(occurrences(view, R"(data-inset-region="patch-words")"), setup ? 1U : 0U) << n;
    // The legend names the regions where they are drawn, and no others.
    EXPECT_EQ(occurrences(view, R"(class="swatch region primary")"), setup ? 1U : 0U) << n;
    EXPECT_EQ(occurrences(view, R"(class="swatch word")"), 0U) << n;
    const std::string_view cell = section(page, R"(<g class="cell" data-tile=")" + n + '"');
    EXPECT_EQ(occurrences(cell.substr(0, cell.find("</g>")), R"(class="no-setup")"),
              setup ? 0U : 1U)
        << n;
    // Its title counts the tile's segments, in the singular for one.
    const std::size_t segments = tile.segments.size();
    EXPECT_NE(cell.find(fmt::format("<title>tile {}: {} segment{},", n, segments,
                                    segments == 1 ? "" : "s")),
              std::string_view::npos)
        << cell;
  }
  // Package text is text: no script ran or was made, quotes stay inside
  // their attribute, a direction override shows as its code.
  EXPECT_EQ(occurrences(page, "<script"), 0U);
  EXPECT_NE(page.find("<title>zem-package map: device.zpkg</title>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;document.title='taken'&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find(R"(data-binding="a&quot;b'c&amp;d")"), std::string::npos);
  EXPECT_NE(page.find("\\u{202e}evil"), std::string::npos);
  EXPECT_EQ(page.find("\u202e"), std::string::npos);
}

TEST_F(PageBrowserTest, VerifyPageMarksStatusesAndWords) {
  std::vector<std::uint32_t> words = make_template_tile().record;
  words[1] ^= 0x10;
  words[3] += 7;
  std::filesystem::create_directory(dir() + "/dev");
  record(words, "dev/tile7.rec");
  record(make_template_tile().record, "dev/tile8.rec");
  const ProgramRun verify = run({"verify", "device.zpkg", "--records", "dev/tile{tile}.rec",
                                 "--records", "none/tile{tile}.rec", "--html", "verify.html"});
  ASSERT_EQ(verify.status, tool_negative) << verify.err;
  const std::string page = dom("verify.html");
  const std::string_view first = section(page, R"(<section class="device" data-device="0")");
  for (const auto& [tile, status] : std::vector<std::pair<int, std::string>>{
           {3, "no-template-setup"}, {7, "differ"}, {8, "match"}, {9, "no-template-setup"}}) {
    EXPECT_EQ(occurrences(first, fmt::format(R"(<g class="cell" data-tile="{}" data-status="{}")",
                                             tile, status)),
              1U)
        << tile;
  }
  EXPECT_EQ(occurrences(page, R"(<g class="cell" data-tile="7" data-status="missing")"), 1U);
  // Only the cells with no template setup are hatched.
  EXPECT_EQ(occurrences(first, R"(class="no-setup")"), 2U) << first;
  EXPECT_NE(first.find(R"(data-records="dev/tile{tile}.rec")"), std::string_view::npos);
  const std::string_view differ = section(page, R"(<section class="tile" id="d0-tile-7")");
  EXPECT_EQ(occurrences(differ, R"(<line class="word" data-word="1")"), 1U) << differ;
  EXPECT_EQ(occurrences(differ, R"(<line class="word" data-word="3")"), 1U) << differ;
  EXPECT_EQ(occurrences(differ, R"(<line class="word")"), 2U);
  EXPECT_EQ(occurrences(differ, R"(class="swatch word")"), 1U) << differ;
  EXPECT_NE(differ.find("hint: single-bit: word 1 differs in bit 4"), std::string_view::npos)
      << differ;
  EXPECT_EQ(occurrences(page, R"(<section class="tile" id="d0-tile-8")"), 0U);  // a match has none

  const std::optional<Picture> shot = screenshot("verify.html", 1600);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->width, 1000U);
  EXPECT_EQ(shot->height, 1600U);
  for (const char* status : {"differ", "match", "missing", "no-template-setup"}) {
    EXPECT_GT(shot->pixels_of(rgb(status_colour(status))), 200U) << status;
  }
}

TEST_F(PageBrowserTest, TileViewShowsItsBlobs) {
  ASSERT_EQ(run({"map", "device.zpkg", "-o", "device.html"}).status, tool_success);
  const std::optional<Picture> shot = screenshot("device.html#tile-9", 700);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->width, 1000U);
  for (const std::size_t blob : {2U, 3U}) {
    EXPECT_GT(shot->pixels_of(rgb(blob_colour(blob))), 1000U) << blob;
  }
  // Blob 0 is drawn only in the views of tiles 7 and 8, which are hidden.
  EXPECT_EQ(shot->pixels_of(rgb(blob_colour(0))), 0U);
}

}  // namespace
}  // namespace zem::testing

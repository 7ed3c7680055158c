// The tile number in a record pattern: each format the placeholder has,
// and the ones refused.

#include "zem_package/record_pattern.hpp"

#include <gtest/gtest.h>

namespace zem {
namespace {

TEST(RecordPattern, EachFormat) {
  using enum RecordPatternError;
  const struct {
    const char* pattern;
    std::uint32_t tile;
    const char* path;  // when the pattern is accepted
    std::optional<RecordPatternError> error;
    const char* placeholder;  // the one refused
  } cases[] = {
      {"dump/tile{tile}.rec", 7, "dump/tile7.rec", {}, ""},
      {"tile{tile:03}.rec", 7, "tile007.rec", {}, ""},
      {"tile{tile:03}.rec", 1234, "tile1234.rec", {}, ""},
      {"t{tile:x}", 255, "tff", {}, ""},
      {"t{tile:04x}", 255, "t00ff", {}, ""},
      {"t{tile:010}", 4294967295, "t4294967295", {}, ""},
      {"{tile}/{tile:02x}-{tile}", 10, "10/0a-10", {}, ""},
      {"{tiles}/{tile}", 3, "{tiles}/3", {}, ""},
      // A number put in is never taken for part of a placeholder.
      {"{tile{tile}}", 1, "{tile1}", {}, ""},
      {"t{tile:q}", 1, nullptr, unknown_format, "{tile:q}"},
      {"t{tile:3}", 1, nullptr, unknown_format, "{tile:3}"},
      // Two digits without the zero that starts a width: no width.
      {"t{tile:12}", 1, nullptr, unknown_format, "{tile:12}"},
      {"t{tile:0q}", 1, nullptr, unknown_format, "{tile:0q}"},
      {"t{tile:00}", 1, nullptr, unknown_format, "{tile:00}"},
      {"t{tile:}", 1, nullptr, unknown_format, "{tile:}"},
      {"t{tile:X}", 1, nullptr, unknown_format, "{tile:X}"},
      {"t{tile:03", 1, nullptr, unknown_format, "{tile:03"},
      {"{tile}{tile:011}", 1, nullptr, width_too_large, "{tile:011}"},
      // Digits read past a width of exactly the limit still count.
      {"{tile:0100}", 1, nullptr, width_too_large, "{tile:0100}"},
      {"{tile:099999999999999999999x}", 1, nullptr, width_too_large,
       "{tile:099999999999999999999x}"},
  };
  for (const auto& c : cases) {
    const auto checked = check_record_pattern(c.pattern);
    if (c.path != nullptr) {
      EXPECT_TRUE(checked.has_value()) << c.pattern;
      EXPECT_EQ(record_path(c.pattern, c.tile), c.path) << c.pattern;
      EXPECT_EQ(names_each_tile(c.pattern), true) << c.pattern;
    } else {
      EXPECT_EQ(checked, std::unexpected(RecordPatternFailure{*c.error, c.placeholder}))
          << c.pattern;
    }
  }
  EXPECT_FALSE(names_each_tile("tile.rec"));
  EXPECT_FALSE(names_each_tile("t{tile:q}"));
}

}  // namespace
}  // namespace zem

#include "toolkit/package/file_look.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "package_builder.hpp"
#include "zem_package/application.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

// Each kind of wrong file is told by its size and first bytes; a package,
// whole or cut short, and a record whose first word could start a framing
// header that fits are not.
TEST(FileLookTest, TellsWhatAWrongFileLooksLike) {
  const std::vector<std::uint8_t> package =
      zt::build_package(zt::example_application(), zt::example_options());
  const std::vector<std::uint8_t> record = zt::words_to_bytes(std::vector<std::uint32_t>{98, 7, 3});
  const struct {
    const char* name;
    std::vector<std::uint8_t> head;
    std::uint64_t size;
    FileLook look;
  } cases[] = {
      {"empty", {}, 0, FileLook::empty},
      {"gzip", {0x1f, 0x8b, 8, 0}, 100, FileLook::gzip},
      {"xz", {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00, 0, 4}, 100, FileLook::xz},
      {"xz magic cut short", {0xfd, 0x37, 0x7a, 0x58, 0x5a}, 5, FileLook::unknown},
      {"zstd", {0x28, 0xb5, 0x2f, 0xfd, 0x24}, 100, FileLook::zstd},
      {"record of 3 words", record, record.size(), FileLook::device_record},
      {"one zero word", {0, 0, 0, 0}, 4, FileLook::device_record},
      {"record larger than tile memory", record, tile_memory_size + 4, FileLook::unknown},
      {"record filling tile memory",
       {0xff, 0xff, 0xff, 0xff},
       tile_memory_size,
       FileLook::device_record},
      {"same first word, a word past tile memory",
       {0xff, 0xff, 0xff, 0xff},
       tile_memory_size + 4,
       FileLook::unknown},
      {"words and a byte", record, record.size() + 1, FileLook::unknown},
      {"too many segments", {0xff, 1, 0, 0}, 64, FileLook::device_record},
      {"package with a damaged count", {0xff, 1, 0, 0, 7, 0, 0, 0}, 64, FileLook::unknown},
      {"package", package, package.size(), FileLook::unknown},
      {"package cut to 8 bytes", package, 8, FileLook::unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(file_look(c.head, c.size), c.look) << c.name;
}

}  // namespace
}  // namespace zem::toolkit

#include "toolkit/package/file_look.hpp"

#include <algorithm>
#include <array>

#include "zem_package/package_model.hpp"

namespace zem::toolkit {
namespace {

// The magic numbers that open the compressed files a package may be wrapped in.
constexpr std::array<std::uint8_t, 2> gzip_magic = {0x1f, 0x8b};
constexpr std::array<std::uint8_t, 6> xz_magic = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};
constexpr std::array<std::uint8_t, 4> zstd_magic = {0x28, 0xb5, 0x2f, 0xfd};

bool starts_with(std::span<const std::uint8_t> head, std::span<const std::uint8_t> magic) {
  return head.size() >= magic.size() && std::ranges::equal(head.first(magic.size()), magic);
}

// A device record is raw words, which are no framing: its first word, read
// as the count of segments less one, asks for a framing header longer than
// the whole file. A package cut short keeps its header, and so is not taken
// for a record; nor is one whose count alone is damaged, when its second word
// is still the size of one segment that fills the file.
bool looks_like_record(std::span<const std::uint8_t> head, std::uint64_t file_size) {
  constexpr std::uint64_t word = 4;
  if (file_size % word != 0 || file_size > tile_memory_size || head.size() < word) return false;
  const auto word_at = [&](std::size_t at) {
    return std::uint64_t{head[at]} | std::uint64_t{head[at + 1]} << 8U |
           std::uint64_t{head[at + 2]} << 16U | std::uint64_t{head[at + 3]} << 24U;
  };
  constexpr std::uint64_t framing_word = 8;
  if (head.size() >= 2 * word && framing_word * (word_at(word) + 1) == file_size) return false;
  // The count, then one size per segment, padded to whole 8-byte words.
  const std::uint64_t segments = word_at(0) + 1;
  const std::uint64_t header = (word * (1 + segments) + 7) / 8 * 8;
  return header > file_size;
}

}  // namespace

FileLook file_look(std::span<const std::uint8_t> head, std::uint64_t file_size) noexcept {
  head = head.first(std::min<std::size_t>(head.size(), file_look_bytes));
  if (file_size == 0) return FileLook::empty;
  if (starts_with(head, gzip_magic)) return FileLook::gzip;
  if (starts_with(head, xz_magic)) return FileLook::xz;
  if (starts_with(head, zstd_magic)) return FileLook::zstd;
  if (looks_like_record(head, file_size)) return FileLook::device_record;
  return FileLook::unknown;
}

}  // namespace zem::toolkit

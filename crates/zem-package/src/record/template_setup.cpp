// The template setup locator: a fixed twelve-word pattern found by a scan
// of the image's words.

#include "zem_package/template_setup.hpp"

#include "zem_package/io.hpp"

namespace zem {
namespace {

constexpr std::size_t setup_words = 12;
constexpr std::uint32_t parameter_mask = 0x000fffffU;

// Fixed words of the setup, by their index within it.
constexpr std::uint32_t first_word = 0x22bbffe0U;
constexpr std::uint32_t ninth_word = 0x1920001bU;
constexpr std::uint32_t tenth_word = 0x4fb2f004U;

// Words 1 to 4 carry a parameter below their fixed upper 12 bits.
constexpr std::uint32_t primary_tag = 0x19400000U;
constexpr std::uint32_t secondary_tag = 0x19500000U;
constexpr std::uint32_t primary_words_tag = 0x19600000U;
constexpr std::uint32_t secondary_words_tag = 0x19700000U;

// Word n of the image's word view; the caller keeps n below size / 4.
[[nodiscard]] std::uint32_t image_word(std::span<const std::uint8_t> image, std::size_t n) {
  return io::load_u32_le(image.subspan(4 * n).first<4>());
}

// Whether the upper 12 bits of `word` are those of `tag` (wrapping subtraction).
[[nodiscard]] bool has_tag(std::uint32_t word, std::uint32_t tag) {
  return word - tag <= parameter_mask;
}

}  // namespace

std::optional<FoundSetup> find_template_setup(std::span<const std::uint8_t> image) noexcept {
  const std::size_t word_count = image.size() / 4;
  if (word_count < setup_words) return std::nullopt;
  for (std::size_t i = 0; i <= word_count - setup_words; ++i) {
    // The first word alone rejects almost every window, so it goes first.
    if (image_word(image, i) != first_word) continue;
    const std::uint32_t primary = image_word(image, i + 1);
    const std::uint32_t secondary = image_word(image, i + 2);
    const std::uint32_t primary_words = image_word(image, i + 3);
    const std::uint32_t secondary_words = image_word(image, i + 4);
    if (!has_tag(primary, primary_tag) || !has_tag(secondary, secondary_tag) ||
        !has_tag(primary_words, primary_words_tag) ||
        !has_tag(secondary_words, secondary_words_tag) || image_word(image, i + 9) != ninth_word ||
        image_word(image, i + 10) != tenth_word) {
      continue;
    }
    return FoundSetup{4 * i, TemplateSetup{
                                 .primary = primary & parameter_mask,
                                 .secondary = secondary & parameter_mask,
                                 .primary_words = primary_words & parameter_mask,
                                 .secondary_words = secondary_words & parameter_mask,
                                 .patch_table = image_word(image, i + 11) & parameter_mask,
                             }};
  }
  return std::nullopt;
}

}  // namespace zem

#include "template_record/template_setup.hpp"

#include <fmt/format.h>

#include <cstddef>

#include "zem_package/io.hpp"

namespace zem::template_record {
namespace {

constexpr std::size_t kSetupWords = 12;
constexpr std::uint32_t kParameterMask = 0x000fffffU;

// Fixed words of the setup, by their index within it.
constexpr std::uint32_t kFirstWord = 0x22bbffe0U;
constexpr std::uint32_t kNinthWord = 0x1920001bU;
constexpr std::uint32_t kTenthWord = 0x4fb2f004U;

// Words 1 to 4 carry a parameter below their fixed upper 12 bits.
constexpr std::uint32_t kPrimaryTag = 0x19400000U;
constexpr std::uint32_t kSecondaryTag = 0x19500000U;
constexpr std::uint32_t kPrimaryWordsTag = 0x19600000U;
constexpr std::uint32_t kSecondaryWordsTag = 0x19700000U;

// Word n of the image's word view; the caller keeps n below size / 4.
[[nodiscard]] std::uint32_t image_word(std::span<const std::uint8_t> image, std::size_t n) {
  return io::load_u32_le(image.subspan(4 * n).first<4>());
}

// Whether the upper 12 bits of `word` are those of `tag` (wrapping subtraction).
[[nodiscard]] bool has_tag(std::uint32_t word, std::uint32_t tag) {
  return word - tag <= kParameterMask;
}

}  // namespace

Outcome<FoundSetup> find_template_setup(std::span<const std::uint8_t> image) {
  const std::size_t word_count = image.size() / 4;
  if (word_count >= kSetupWords) {
    for (std::size_t i = 0; i <= word_count - kSetupWords; ++i) {
      // The first word alone rejects almost every window, so it goes first.
      if (image_word(image, i) != kFirstWord) continue;
      const std::uint32_t primary = image_word(image, i + 1);
      const std::uint32_t secondary = image_word(image, i + 2);
      const std::uint32_t primary_words = image_word(image, i + 3);
      const std::uint32_t secondary_words = image_word(image, i + 4);
      if (!has_tag(primary, kPrimaryTag) || !has_tag(secondary, kSecondaryTag) ||
          !has_tag(primary_words, kPrimaryWordsTag) ||
          !has_tag(secondary_words, kSecondaryWordsTag) || image_word(image, i + 9) != kNinthWord ||
          image_word(image, i + 10) != kTenthWord) {
        continue;
      }
      return FoundSetup{4 * i, TemplateSetup{
                                   .primary = primary & kParameterMask,
                                   .secondary = secondary & kParameterMask,
                                   .primary_words = primary_words & kParameterMask,
                                   .secondary_words = secondary_words & kParameterMask,
                                   .patch_table = image_word(image, i + 11) & kParameterMask,
                               }};
    }
  }
  return std::unexpected(Failure{"template setup was not found"});
}

Outcome<TemplateSetup> locate_template_setup(std::span<const std::uint8_t> image) {
  ZEM_ASSIGN_OR_RETURN(const FoundSetup found, find_template_setup(image));
  return found.setup;
}

std::string template_setup_line(std::uint32_t physical_tile, const TemplateSetup& setup) {
  return fmt::format(
      "physicalTile={} primary=0x{:x} primaryWords={} secondary=0x{:x} secondaryWords={} "
      "patchTable=0x{:x}",
      physical_tile, setup.primary, setup.primary_words, setup.secondary, setup.secondary_words,
      setup.patch_table);
}

}  // namespace zem::template_record

// Gathering the template words from a tile image and applying the two patch
// groups of its patch table.

#include "zem_package/template_patching.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <limits>

#include "errors/try.hpp"
#include "record/le_words.hpp"
#include "zem_package/expected_record.hpp"

namespace zem {
namespace {

[[nodiscard]] TemplateError index_out_of_range(std::uint64_t index, std::uint64_t length) {
  return {TemplateError::Kind::index_out_of_range, index, length};
}

[[nodiscard]] TemplateError end_out_of_range(std::uint64_t end, std::uint64_t length) {
  return {TemplateError::Kind::end_out_of_range, end, length};
}

[[nodiscard]] std::size_t set_bits(LeWords words) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    count += static_cast<std::size_t>(std::popcount(words[i]));
  }
  return count;
}

// Short delta `index`: the low half of its word for even indices, the high
// half for odd ones, sign-extended and returned as its 32-bit two's complement.
[[nodiscard]] std::uint32_t short_delta(LeWords shorts, std::size_t index) {
  const std::uint32_t word = shorts[index / 2];
  const auto half = static_cast<std::uint16_t>(index % 2 == 0 ? word : word >> 16U);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(half)));
}

// Appends `count` words read at `start`, `start` + 4, ... (32-bit address
// arithmetic), stopping at the first word that is not in the image.
[[nodiscard]] TemplateResult<void> append_words(std::vector<std::uint32_t>& out,
                                                std::span<const std::uint8_t> image,
                                                std::uint32_t load_base, std::uint32_t start,
                                                std::uint64_t count) {
  std::uint32_t address = start;
  for (std::uint64_t k = 0; k < count; ++k, address += 4U) {
    const TemplateResult<std::uint32_t> word = word_at(image, load_base, address);
    if (!word) return std::unexpected(word.error());
    out.push_back(*word);
  }
  return {};
}

}  // namespace

TemplateResult<std::size_t> patch_group(std::span<std::uint32_t> target, LeWords table,
                                        std::vector<AppliedPatch>* applied) {
  if (table.empty()) return std::unexpected(index_out_of_range(0, 0));
  const std::uint32_t header = table[0];
  if (header == 0) return 1;
  const std::size_t mask_count = header >> 16U;
  const std::size_t first_position = header & 0xffffU;

  // Each part is checked against the table before it is looked at.
  const std::size_t masks_end = 1 + mask_count;
  if (masks_end > table.size()) return std::unexpected(end_out_of_range(masks_end, table.size()));
  const auto masks = table.subspan(1, mask_count);

  const std::size_t patched = set_bits(masks);
  const std::size_t selectors_end = masks_end + (patched + 31) / 32;
  if (selectors_end > table.size()) {
    return std::unexpected(end_out_of_range(selectors_end, table.size()));
  }
  const auto selectors = table.subspan(masks_end, selectors_end - masks_end);

  // Every set bit of the selector words counts here, even one beyond the last
  // patched position; such a bit can add a short-delta word.
  const std::size_t short_count = set_bits(selectors);
  const std::size_t shorts_end = selectors_end + (short_count + 1) / 2;
  if (shorts_end > table.size()) {
    return std::unexpected(end_out_of_range(shorts_end, table.size()));
  }
  const auto shorts = table.subspan(selectors_end, shorts_end - selectors_end);
  const auto longs = table.subspan(shorts_end);

  // The shorts used never outnumber the set selector bits among the patched
  // positions, so `shorts` always holds them; the longs are checked one by one.
  std::size_t shorts_used = 0;
  std::size_t longs_used = 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < masks.size(); ++k) {
    for (std::uint32_t bits = masks[k]; bits != 0; bits &= bits - 1, ++n) {
      const std::size_t position =
          first_position + 32 * k + static_cast<std::size_t>(std::countr_zero(bits));
      std::uint32_t delta = 0;
      if (((selectors[n / 32] >> (n % 32)) & 1U) != 0) {
        delta = short_delta(shorts, shorts_used++);
      } else {
        if (longs_used >= longs.size()) {
          return std::unexpected(index_out_of_range(longs_used, longs.size()));
        }
        delta = longs[longs_used++];
      }
      // The delta is fetched first, so a group lacking both a delta and a
      // position reports the delta.
      if (position >= target.size()) {
        return std::unexpected(index_out_of_range(position, target.size()));
      }
      target[position] += delta;
      if (applied != nullptr) applied->push_back(AppliedPatch{position, n, delta});
    }
  }
  return shorts_end + longs_used;
}

std::string to_string(const TemplateError& error) {
  switch (error.kind) {
    case TemplateError::Kind::index_out_of_range:
      return fmt::format("index {} out of range for slice of length {}", error.value, error.length);
    case TemplateError::Kind::end_out_of_range:
      return fmt::format("range end index {} out of range for slice of length {}", error.value,
                         error.length);
    case TemplateError::Kind::image_length:
      return fmt::format("cannot convert tile image length to 32 bits: {} is out of range",
                         error.value);
    case TemplateError::Kind::image_end:
      return fmt::format(
          "tile image does not fit in the 32-bit address space: load base 0x{:x} plus length {} "
          "exceeds 0xffffffff",
          error.value, error.length);
  }
  return "template error";
}

TemplateResult<std::uint32_t> word_at(std::span<const std::uint8_t> image, std::uint32_t load_base,
                                      std::uint32_t address) noexcept {
  const std::uint32_t offset = address - load_base;
  if (offset > image.size()) return std::unexpected(index_out_of_range(offset, image.size()));
  // Held in 64 bits, so an offset near 2^32 cannot wrap past the check.
  const std::uint64_t end = std::uint64_t{offset} + 4U;
  if (end > image.size()) return std::unexpected(end_out_of_range(end, image.size()));
  return io::load_u32_le(image.subspan(offset).first<4>());
}

TemplateResult<std::size_t> patch(std::span<std::uint32_t> target,
                                  std::span<const std::uint32_t> table,
                                  std::vector<AppliedPatch>* applied) {
  const std::vector<std::uint8_t> bytes = record_bytes(table);
  return patch_group(target, LeWords(bytes), applied);
}

TemplateResult<std::vector<std::uint32_t>> template_words(std::span<const std::uint8_t> image,
                                                          std::uint32_t load_base,
                                                          const TemplateSetup& setup) {
  // A region can yield at most image.size() / 4 words before one falls
  // outside the image, so a hostile count cannot reserve more than the image
  // justifies.
  const std::uint64_t template_count =
      std::uint64_t{setup.primary_words} + std::uint64_t{setup.secondary_words};
  std::vector<std::uint32_t> words;
  words.reserve(static_cast<std::size_t>(
      std::min<std::uint64_t>(template_count, std::uint64_t{image.size()} / 2)));
  ZEM_TRY(append_words(words, image, load_base, setup.primary, setup.primary_words));
  ZEM_TRY(append_words(words, image, load_base, setup.secondary, setup.secondary_words));
  return words;
}

TemplateResult<PatchedTemplate> patch_template(std::span<const std::uint8_t> image,
                                               std::uint32_t load_base,
                                               const TemplateSetup& setup) {
  PatchedTemplate result;
  auto gathered = template_words(image, load_base, setup);
  if (!gathered) return std::unexpected(gathered.error());
  result.gathered = std::move(*gathered);
  std::vector<std::uint32_t>& words = result.words;
  words = result.gathered;

  const TemplateResult<std::uint32_t> table_start = word_at(image, load_base, setup.patch_table);
  if (!table_start) return std::unexpected(table_start.error());

  if (image.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(TemplateError{TemplateError::Kind::image_length, image.size(), 0});
  }
  // Tile addresses are 32-bit: an image reaching past 2^32 has no end address.
  // Refused outright rather than letting the end wrap to a low address.
  const std::uint64_t image_end = std::uint64_t{load_base} + image.size();
  if (image_end > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(TemplateError{TemplateError::Kind::image_end, load_base, image.size()});
  }
  // The patch words run from the table start to the end of the image. They
  // are read in place; reading them one by one would fail at the first word
  // outside the image, and since their addresses rise without wrapping that
  // is the first word or the last, so those two are checked.
  const std::uint64_t patch_count =
      *table_start < image_end ? (image_end - *table_start + 3) / 4 : 0;
  LeWords patch_words;
  if (patch_count > 0) {
    for (const std::uint64_t k : {std::uint64_t{0}, patch_count - 1}) {
      const auto address = static_cast<std::uint32_t>(*table_start + 4 * k);
      if (auto word = word_at(image, load_base, address); !word) {
        return std::unexpected(word.error());
      }
    }
    patch_words = LeWords(image.subspan(*table_start - load_base));
  }

  const std::span<std::uint32_t> all(words);
  const TemplateResult<std::size_t> used =
      patch_group(all.first(setup.primary_words), patch_words, &result.primary_patches);
  if (!used) return std::unexpected(used.error());
  // `patch` never counts more words than it was given; the check keeps the
  // tail below well-defined should that ever change.
  if (*used > patch_words.size()) {
    return std::unexpected(end_out_of_range(*used, patch_words.size()));
  }
  const TemplateResult<std::size_t> second = patch_group(
      all.subspan(setup.primary_words), patch_words.subspan(*used), &result.secondary_patches);
  if (!second) return std::unexpected(second.error());
  result.table_start = *table_start;
  result.table_words = *used + *second;
  return result;
}

}  // namespace zem

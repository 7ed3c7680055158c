#pragma once

// Gathering a tile's template words and patching them: what turns the
// template setup into the record a device expects.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/template_setup.hpp"

namespace zem {

// Why a template could not be gathered or patched. Each kind carries the
// numbers its message shows; `to_string` gives the message.
struct TemplateError {
  enum class Kind : std::uint8_t {
    // An index lies beyond a sequence: `value` against its `length`.
    index_out_of_range,
    // A range ends beyond a sequence: the range end `value` against `length`.
    end_out_of_range,
    // The image's length, `value`, does not convert to 32 bits.
    image_length,
    // The image, from load base `value` for `length` bytes, reaches past
    // the 32-bit address space, so it has no end address.
    image_end,
  };
  Kind kind = Kind::index_out_of_range;
  std::uint64_t value = 0;
  std::uint64_t length = 0;

  friend bool operator==(const TemplateError&, const TemplateError&) = default;
};

// "index 5 out of range for slice of length 3", "range end index 12 out of
// range for slice of length 8", "cannot convert tile image length to 32 bits:
// 4294967296 is out of range", "tile image does not fit in the 32-bit
// address space: load base 0xfffff000 plus length 8192 exceeds 0xffffffff".
[[nodiscard]] ZEM_PACKAGE_API std::string to_string(const TemplateError& error);

template <class T>
using TemplateResult = std::expected<T, TemplateError>;

// The little-endian word at tile `address` of an image whose byte 0 stands at
// `load_base`. The offset is address - load_base modulo 2^32, so an address
// below the load base gives a huge offset. All four bytes must lie in the
// image.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<std::uint32_t> word_at(
    std::span<const std::uint8_t> image, std::uint32_t load_base, std::uint32_t address) noexcept;

// One position that a patch group changed.
struct AppliedPatch {
  std::size_t position = 0;  // in the part of the template words the group patches
  std::size_t entry = 0;     // the group's patched positions counted from 0, in order
  std::uint32_t delta = 0;   // what was added, modulo 2^32

  friend bool operator==(const AppliedPatch&, const AppliedPatch&) = default;
};

// Applies the patch group at the front of `table` to `target` and returns the
// number of table words the group occupies. A group is a header (mask word
// count M in the high half, first position B in the low half; 0 ends the
// group at once), M mask words marking the patched positions, selector words
// choosing a short or long delta for each, the short deltas (two signed
// 16-bit halves per word) and then the long deltas (one unsigned word each).
// Every patched word gets its delta added modulo 2^32. On failure `target`
// may already be partly patched. Each patched position is appended to
// `applied`, when given.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<std::size_t> patch(
    std::span<std::uint32_t> target, std::span<const std::uint32_t> table,
    std::vector<AppliedPatch>* applied = nullptr);

// The template words as the image holds them, before patching: the primary
// region's words, then the secondary region's.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<std::vector<std::uint32_t>> template_words(
    std::span<const std::uint8_t> image, std::uint32_t load_base, const TemplateSetup& setup);

// The template words as gathered and as patched, and what each patch group
// changed: everything needed to say how the record a tile expects came to be.
struct PatchedTemplate {
  std::vector<std::uint32_t> gathered;  // as the image holds them
  std::vector<std::uint32_t> words;     // patched: what a matching device record holds
  std::vector<AppliedPatch> primary_patches;
  std::vector<AppliedPatch> secondary_patches;  // positions from the secondary part's start
  // Where the patch words start (the value of the word at the setup's patch
  // table address) and how many words the two groups occupy from there.
  std::uint32_t table_start = 0;
  std::size_t table_words = 0;

  friend bool operator==(const PatchedTemplate&, const PatchedTemplate&) = default;
};

// Gathers the primary then the secondary template words from the image,
// reads the patch words from the table start (the word at
// `setup.patch_table`) to the end of the image, and applies the first patch
// group to the primary part and the following group to the secondary part.
// Failures come in that order.
[[nodiscard]] ZEM_PACKAGE_API TemplateResult<PatchedTemplate> patch_template(
    std::span<const std::uint8_t> image, std::uint32_t load_base, const TemplateSetup& setup);

}  // namespace zem

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "template_record/failure.hpp"
#include "template_record/template_setup.hpp"
#include "zem_package/io.hpp"

namespace zem::template_record {

// The little-endian word at tile `address` of an image whose byte 0 stands at
// `load_base`. The offset is address - load_base modulo 2^32, so an address
// below the load base gives a huge offset. All four bytes must lie in the image.
[[nodiscard]] Outcome<std::uint32_t> word_at(std::span<const std::uint8_t> image,
                                             std::uint32_t load_base, std::uint32_t address);

// Little-endian 32-bit words read in place from bytes: the patch table as
// it lies in a tile image, looked at without copying the image's tail.
class LeWords {
 public:
  LeWords() = default;
  // The whole words of `bytes`; a tail of 1 to 3 bytes is not part of them.
  explicit LeWords(std::span<const std::uint8_t> bytes) noexcept
      : bytes_(bytes.first(bytes.size() / 4 * 4)) {}

  [[nodiscard]] std::size_t size() const noexcept { return bytes_.size() / 4; }
  [[nodiscard]] bool empty() const noexcept { return bytes_.empty(); }
  // Word `i`; the caller keeps `i` below size().
  [[nodiscard]] std::uint32_t operator[](std::size_t i) const noexcept {
    return io::load_u32_le(bytes_.subspan(4 * i).first<4>());
  }
  // Words `offset` to `offset + count`; the caller keeps them inside.
  [[nodiscard]] LeWords subspan(std::size_t offset, std::size_t count) const noexcept {
    return LeWords(bytes_.subspan(4 * offset, 4 * count));
  }
  [[nodiscard]] LeWords subspan(std::size_t offset) const noexcept {
    return LeWords(bytes_.subspan(4 * offset));
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// `words` as little-endian bytes, as a tile image holds them.
[[nodiscard]] std::vector<std::uint8_t> le_bytes(std::span<const std::uint32_t> words);

// One position that a patch group changed.
struct AppliedPatch {
  std::size_t position = 0;  // in the part of the template words the group patches
  std::size_t entry = 0;     // the group's patched positions counted from 0, in order
  std::uint32_t delta = 0;   // what was added, modulo 2^32

  friend bool operator==(const AppliedPatch&, const AppliedPatch&) = default;
};

// Applies the patch group at the front of `table` to `target` and returns the
// number of table words the group occupies. A group is a header (mask word
// count M in the high half, first position B in the low half; 0 ends the group
// at once), M mask words marking the patched positions, selector words choosing
// a short or long delta for each, the short deltas (two signed 16-bit halves
// per word) and then the long deltas (one unsigned word each). Every patched
// word gets its delta added modulo 2^32. On failure `target` may already be
// partly patched. Each patched position is appended to `applied`, when given.
[[nodiscard]] Outcome<std::size_t> patch(std::span<std::uint32_t> target, LeWords table,
                                         std::vector<AppliedPatch>* applied = nullptr);
// The same for a table held as words.
[[nodiscard]] Outcome<std::size_t> patch(std::span<std::uint32_t> target,
                                         std::span<const std::uint32_t> table,
                                         std::vector<AppliedPatch>* applied = nullptr);

// The template words as the image holds them, before patching: the primary
// region's words, then the secondary region's.
[[nodiscard]] Outcome<std::vector<std::uint32_t>> template_words(
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
};

// Gathers the primary then the secondary template words from the image, reads
// the patch words from the table start (the word at `setup.patch_table`) to
// the end of the image, and applies the first patch group to the primary part
// and the following group to the secondary part.
[[nodiscard]] Outcome<PatchedTemplate> patch_template(std::span<const std::uint8_t> image,
                                                      std::uint32_t load_base,
                                                      const TemplateSetup& setup);

// The patched template words alone.
[[nodiscard]] Outcome<std::vector<std::uint32_t>> patched_template_words(
    std::span<const std::uint8_t> image, std::uint32_t load_base, const TemplateSetup& setup);

}  // namespace zem::template_record

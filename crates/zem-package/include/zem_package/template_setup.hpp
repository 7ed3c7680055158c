#pragma once

// The template setup: twelve words somewhere in a tile's memory that say
// where the two template regions and the patch table lie. A device loaded
// with the tile fills its record from them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "zem_package/api.hpp"

namespace zem {

// The five parameters of a template setup, each the low 20 bits of its word.
struct TemplateSetup {
  std::uint32_t primary = 0;          // tile address of the primary region's first word
  std::uint32_t secondary = 0;        // tile address of the secondary region's first word
  std::uint32_t primary_words = 0;    // words in the primary region
  std::uint32_t secondary_words = 0;  // words in the secondary region
  std::uint32_t patch_table = 0;      // tile address of the word holding the table start

  friend bool operator==(const TemplateSetup&, const TemplateSetup&) = default;
};

// Bytes the template setup occupies in an image: twelve words.
inline constexpr std::uint32_t template_setup_bytes = 48;

// A template setup and where it stands: its first word's byte offset in the
// image.
struct FoundSetup {
  std::size_t offset = 0;
  TemplateSetup setup;

  friend bool operator==(const FoundSetup&, const FoundSetup&) = default;
};

// Scans the image as little-endian words at 4-byte steps from offset 0 (a
// tail of 1 to 3 bytes is ignored) and returns the first twelve-word template
// setup with its offset; nothing when the image holds none, which is no
// failure: many tiles have no template.
[[nodiscard]] ZEM_PACKAGE_API std::optional<FoundSetup> find_template_setup(
    std::span<const std::uint8_t> image) noexcept;

}  // namespace zem

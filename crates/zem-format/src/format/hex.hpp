#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zem {

// A tile or device address as the tools print it: "0x" and lowercase
// hexadecimal without leading zeros ("0x4c000", "0x0").
[[nodiscard]] inline std::string hex_address(std::uint64_t address) {
  return fmt::format("0x{:x}", address);
}

// A 32-bit word with all its digits: "0x000001c8".
[[nodiscard]] inline std::string hex_word(std::uint32_t word) {
  return fmt::format("0x{:08x}", word);
}

// Bytes (a digest) as lowercase hexadecimal, two digits per byte.
[[nodiscard]] inline std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) text += fmt::format("{:02x}", byte);
  return text;
}

// The digits of a digest shown where a whole one would not fit, as short
// commit ids are: enough to tell blobs apart, short enough for one line.
inline constexpr std::size_t short_digest_digits = 12;

// "d9c76fa34978": the first `short_digest_digits` digits of a digest.
[[nodiscard]] inline std::string short_digest(std::span<const std::uint8_t> digest) {
  return hex_bytes(digest.first(std::min(digest.size(), short_digest_digits / 2)));
}

}  // namespace zem

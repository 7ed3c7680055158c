#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "zem_package/api.hpp"

namespace zem {

struct Utf8Fault {
  std::size_t valid_up_to = 0;            // bytes before the bad sequence
  std::optional<std::uint8_t> error_len;  // its length; none when the text ends inside it
};

// Checks `bytes` as UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF). A bad sequence's length is that of its longest valid prefix, at
// least 1, so a decoder can resume right after it.
[[nodiscard]] ZEM_PACKAGE_API std::optional<Utf8Fault> check_utf8(
    std::span<const std::uint8_t> bytes) noexcept;

// Decodes the code point at the front of valid UTF-8 `text` and advances it.
[[nodiscard]] ZEM_PACKAGE_API char32_t next_code_point(std::string_view& text) noexcept;

}  // namespace zem

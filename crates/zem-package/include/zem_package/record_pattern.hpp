#pragma once

// Where the records of a device's tiles lie: a path pattern in which a
// placeholder stands for the physical tile number, "dump/tile{tile}.rec".
// Dumps are named as their tools name them, so the number may be written
// zero-padded or in hexadecimal: {tile} (decimal), {tile:03} (decimal, at
// least 3 digits, zeros in front), {tile:x} (lower-case hexadecimal) and
// {tile:04x} (hexadecimal, at least 4 digits).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "zem_package/api.hpp"

namespace zem {

inline constexpr std::string_view tile_placeholder = "{tile}";

// The widest a tile number may be padded: 4294967295 has 10 digits.
inline constexpr std::size_t max_tile_width = 10;

// Why a pattern's placeholder was refused.
enum class RecordPatternError : std::uint8_t {
  unknown_format,   // "{tile:q}": neither a width nor x
  width_too_large,  // "{tile:011}": padded past `max_tile_width`
};

struct RecordPatternFailure {
  RecordPatternError error = RecordPatternError::unknown_format;
  std::string placeholder;  // as written: "{tile:q}"; unclosed, to the end

  friend bool operator==(const RecordPatternFailure&, const RecordPatternFailure&) = default;
};

// Checks every placeholder of `pattern`: the first that is not one of the
// four forms above is the failure.
[[nodiscard]] ZEM_PACKAGE_API std::expected<void, RecordPatternFailure> check_record_pattern(
    std::string_view pattern);

// `pattern` with every placeholder replaced by `physical_tile` as it says;
// a placeholder that `check_record_pattern` refuses is left as it is.
[[nodiscard]] ZEM_PACKAGE_API std::string record_path(std::string_view pattern,
                                                      std::uint32_t physical_tile);

// Whether `pattern` names a file per tile: it has a placeholder that
// `check_record_pattern` accepts.
[[nodiscard]] ZEM_PACKAGE_API bool names_each_tile(std::string_view pattern) noexcept;

}  // namespace zem

#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "zem_package/api.hpp"

namespace zem {

// The one error type of the library. Each variant carries what its text form
// shows; `to_string` gives that form, e.g. `Invalid("blob digest mismatch")`.
struct ZEM_PACKAGE_API PackageError {
  // The message could not be read or followed: framing, pointers, lists, text.
  struct Capnp {
    std::string kind;  // "failed", "overloaded", ...
    std::string description;
    friend bool operator==(const Capnp&, const Capnp&) = default;
  };
  // An I/O error; for a blob, the decompressor's name for its failure.
  struct Io {
    std::string kind;  // "Other" for decompression failures
    std::string description;
    friend bool operator==(const Io&, const Io&) = default;
  };
  // A text field is not UTF-8: `valid_up_to` bytes are good, then a bad
  // sequence of `error_len` bytes, or no length when the text ends inside a
  // sequence.
  struct Utf8 {
    std::size_t valid_up_to = 0;
    std::optional<std::uint8_t> error_len;
    friend bool operator==(const Utf8&, const Utf8&) = default;
  };
  // An enumeration holds a number the schema does not define.
  struct SchemaEnum {
    std::uint16_t value = 0;
    friend bool operator==(const SchemaEnum&, const SchemaEnum&) = default;
  };
  // A rule of the library fails.
  struct Invalid {
    std::string message;
    friend bool operator==(const Invalid&, const Invalid&) = default;
  };

  using Variant = std::variant<Capnp, Io, Utf8, SchemaEnum, Invalid>;
  Variant value;

  [[nodiscard]] static PackageError capnp(std::string kind, std::string description);
  [[nodiscard]] static PackageError io(std::string kind, std::string description);
  [[nodiscard]] static PackageError utf8(std::size_t valid_up_to,
                                         std::optional<std::uint8_t> error_len);
  [[nodiscard]] static PackageError schema_enum(std::uint16_t value);
  [[nodiscard]] static PackageError invalid(std::string message);

  [[nodiscard]] std::string to_string() const;

  // The variant's name: "Capnp", "Io", "Utf8", "SchemaEnum" or "Invalid".
  [[nodiscard]] std::string_view kind_name() const noexcept;

  friend bool operator==(const PackageError&, const PackageError&) = default;
};

template <class T>
using Result = std::expected<T, PackageError>;

// `text` between double quotes, escaped as a string literal: \" \\ \t \r \n \0,
// and \u{hex} for every other character that is not printable. A byte that is
// not part of valid UTF-8 (a path or an argument need not be) shows as \xhh.
[[nodiscard]] ZEM_PACKAGE_API std::string quote_escaped(std::string_view text);

// Whether `c` shows on a terminal as itself. It does not when it is a control,
// format, surrogate, private-use or unassigned code point, or a line,
// paragraph or space separator other than the ASCII space (the general
// categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs), or beyond U+10FFFF.
[[nodiscard]] ZEM_PACKAGE_API bool is_printable(char32_t c) noexcept;

// Whether `text` is valid UTF-8 of printable characters only, and so can be
// shown as it is.
[[nodiscard]] ZEM_PACKAGE_API bool is_printable(std::string_view text) noexcept;

}  // namespace zem

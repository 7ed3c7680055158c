#include "zem_package/package_error.hpp"

#include <fmt/format.h>

#include "invalid_message.hpp"
#include "zem_package/utf8.hpp"

namespace zem {
namespace {

// Characters that a terminal would not show as themselves: controls, format
// and separator characters that change layout or direction invisibly,
// private-use characters and noncharacters.
bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return false;
  if (c == 0xad || (c >= 0x600 && c <= 0x605) || c == 0x61c || c == 0x6dd || c == 0x70f ||
      c == 0x180e) {
    return false;
  }
  if ((c >= 0x200b && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e) ||
      (c >= 0x2060 && c <= 0x206f)) {
    return false;
  }
  if (c == 0xfeff || (c >= 0xfff9 && c <= 0xfffb)) return false;
  if ((c >= 0xe000 && c <= 0xf8ff) || c >= 0xf0000) return false;  // private use
  if ((c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) == 0xfffe) return false;
  if (c == 0xe0001 || (c >= 0xe0020 && c <= 0xe007f)) return false;  // tags
  return true;
}

}  // namespace

std::string quote_escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  while (!text.empty()) {
    const std::string_view rest = text;
    const char32_t c = next_code_point(text);
    switch (c) {
      case U'"':
        out += "\\\"";
        break;
      case U'\\':
        out += "\\\\";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\0':
        out += "\\0";
        break;
      default:
        if (is_printable(c)) {
          out.append(rest.substr(0, rest.size() - text.size()));
        } else {
          fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<std::uint32_t>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

PackageError PackageError::capnp(std::string kind, std::string description) {
  return {Capnp{std::move(kind), std::move(description)}};
}

PackageError PackageError::io(std::string kind, std::string description) {
  return {Io{std::move(kind), std::move(description)}};
}

PackageError PackageError::utf8(std::size_t valid_up_to, std::optional<std::uint8_t> error_len) {
  return {Utf8{valid_up_to, error_len}};
}

PackageError PackageError::schema_enum(std::uint16_t value) { return {SchemaEnum{value}}; }

PackageError PackageError::invalid(std::string message) { return {Invalid{std::move(message)}}; }

const std::string* invalid_message(const PackageError& error) noexcept {
  const auto* invalid = std::get_if<PackageError::Invalid>(&error.value);
  return invalid != nullptr ? &invalid->message : nullptr;
}

std::string PackageError::to_string() const {
  struct Render {
    std::string operator()(const Capnp& e) const {
      return fmt::format("Capnp({}: {})", e.kind, e.description);
    }
    std::string operator()(const Io& e) const {
      return fmt::format("Io({}: {})", e.kind, e.description);
    }
    std::string operator()(const Utf8& e) const {
      if (e.error_len) {
        return fmt::format("Utf8(invalid utf-8 sequence of {} bytes from index {})", *e.error_len,
                           e.valid_up_to);
      }
      return fmt::format("Utf8(incomplete utf-8 byte sequence from index {})", e.valid_up_to);
    }
    std::string operator()(const SchemaEnum& e) const {
      return fmt::format("SchemaEnum(NotInSchema({}))", e.value);
    }
    std::string operator()(const Invalid& e) const {
      return fmt::format("Invalid({})", quote_escaped(e.message));
    }
  };
  return std::visit(Render{}, value);
}

}  // namespace zem

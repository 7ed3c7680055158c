#include "zem_package/package_error.hpp"

#include <fmt/format.h>

#include "errors/invalid_message.hpp"
#include "zem_package/utf8.hpp"

namespace zem {
namespace {

void append_escaped(std::string& out, char32_t c, std::string_view encoded) {
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
        out += encoded;
      } else {
        fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<std::uint32_t>(c));
      }
  }
}

}  // namespace

std::string quote_escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  while (!text.empty()) {
    // The valid UTF-8 up to the next bad sequence, character by character.
    const std::optional<Utf8Fault> fault =
        check_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    std::string_view valid = text.substr(0, fault ? fault->valid_up_to : text.size());
    text.remove_prefix(valid.size());
    while (!valid.empty()) {
      const std::string_view rest = valid;
      const char32_t c = next_code_point(valid);
      append_escaped(out, c, rest.substr(0, rest.size() - valid.size()));
    }
    // Then the bad sequence (or the unfinished one at the end), byte by byte.
    const std::size_t bad = fault ? fault->error_len.value_or(text.size()) : 0;
    for (const char byte : text.substr(0, bad)) {
      fmt::format_to(std::back_inserter(out), "\\x{:02x}", static_cast<unsigned char>(byte));
    }
    text.remove_prefix(bad);
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

std::string_view PackageError::kind_name() const noexcept {
  constexpr std::string_view names[] = {"Capnp", "Io", "Utf8", "SchemaEnum", "Invalid"};
  static_assert(std::size(names) == std::variant_size_v<Variant>);
  return names[value.index()];
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

#include "template_record/tile_number.hpp"

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/whole_number.hpp"
#include "zem_package/utf8.hpp"

namespace zem::template_record {
namespace {

[[nodiscard]] Failure parse_failure(cli::WholeNumberError error) {
  std::string_view name;
  switch (error) {
    case cli::WholeNumberError::empty:
      name = "Empty";
      break;
    case cli::WholeNumberError::invalid_digit:
      name = "InvalidDigit";
      break;
    case cli::WholeNumberError::overflow:
      name = "PosOverflow";
      break;
  }
  return error_result("invalid physical tile number", name);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size());
  return !check_utf8(raw).has_value();
}

Outcome<std::string_view> physical_tile_text(std::string_view raw) {
  if (!is_valid_utf8(raw)) {
    return std::unexpected(absent_value("physical tile argument is not valid UTF-8"));
  }
  return raw;
}

Outcome<std::uint32_t> parse_physical_tile(std::string_view text) {
  const auto value = cli::parse_whole_number(text);
  if (!value) return std::unexpected(parse_failure(value.error()));
  return *value;
}

}  // namespace zem::template_record

#include "format/json_values.hpp"

#include <fmt/format.h>

#include "format/hex.hpp"

namespace zem {

Json json_u64(std::uint64_t value) { return fmt::format("{}", value); }

Json json_address(std::uint64_t address) { return hex_address(address); }

Json json_word(std::uint32_t word) { return hex_word(word); }

Json detail_json(const FailureDetail& detail) {
  struct Kind {
    const char* operator()(const detail_value::Number&) const { return "number"; }
    const char* operator()(const detail_value::Address&) const { return "address"; }
    const char* operator()(const detail_value::Text&) const { return "text"; }
    const char* operator()(const detail_value::Compression&) const { return "compression"; }
    const char* operator()(const detail_value::Digest&) const { return "digest"; }
    const char* operator()(const ElementPath&) const { return "element"; }
  };
  // A text is given as it is: quoting is for lines of text. A digest is its
  // hexadecimal digits only: the length that lines of text add is no digit.
  std::string value;
  if (const auto* text = std::get_if<detail_value::Text>(&detail.value)) {
    value = text->value;
  } else if (const auto* digest = std::get_if<detail_value::Digest>(&detail.value)) {
    value = hex_bytes(digest->bytes);
  } else {
    value = detail_text(detail.value);
  }
  return Json{{"name", detail.name}, {std::visit(Kind{}, detail.value), std::move(value)}};
}

std::string stage_key(ReadStage stage) {
  return stage == ReadStage::build_digest ? "buildDigest" : std::string(stage_name(stage));
}

std::string json_text(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace zem

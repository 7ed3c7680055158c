#include "zem_package/read_failure.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "zem_package/package_model.hpp"

namespace zem {

std::string_view stage_name(ReadStage stage) noexcept {
  switch (stage) {
    case ReadStage::framing:
      return "framing";
    case ReadStage::header:
      return "header";
    case ReadStage::blobs:
      return "blobs";
    case ReadStage::structure:
      return "structure";
    case ReadStage::validation:
      return "validation";
    case ReadStage::build_digest:
      return "build digest";
  }
  return "unknown";
}

std::string compression_name(std::uint16_t code) {
  switch (code) {
    case compression_none:
      return "none";
    case compression_zstd:
      return "zstd";
    default:
      return fmt::format("code {}", code);
  }
}

std::string detail_text(const DetailValue& value) {
  struct Text {
    std::string operator()(const detail_value::Number& number) const {
      return fmt::format("{}", number.value);
    }
    std::string operator()(const detail_value::Address& address) const {
      return fmt::format("{:#x}", address.value);
    }
    std::string operator()(const detail_value::Text& text) const {
      return text.quoted ? quote_escaped(text.value) : text.value;
    }
    std::string operator()(const detail_value::Compression& compression) const {
      return compression_name(compression.code);
    }
    std::string operator()(const detail_value::Digest& digest) const {
      std::string text = fmt::format("{:02x}", fmt::join(digest.bytes, ""));
      if (digest.length_shown) text += fmt::format(" ({} bytes)", digest.bytes.size());
      return text;
    }
    std::string operator()(const ElementPath& path) const { return path.to_string(); }
  };
  return std::visit(Text{}, value);
}

}  // namespace zem

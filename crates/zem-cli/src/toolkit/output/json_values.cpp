#include "toolkit/output/json_values.hpp"

#include <fmt/format.h>

#include "toolkit/output/hex.hpp"

namespace zem::toolkit {

Json json_u64(std::uint64_t value) { return fmt::format("{}", value); }

Json json_address(std::uint64_t address) { return hex_address(address); }

std::string stage_key(ReadStage stage) {
  return stage == ReadStage::build_digest ? "buildDigest" : std::string(stage_name(stage));
}

std::string json_text(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace zem::toolkit

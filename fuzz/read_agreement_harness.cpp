#include <stdexcept>
#include <string>

#include "harnesses.hpp"
#include "read_agreement.hpp"

namespace zem::fuzz {

void read_agreement(std::span<const std::uint8_t> bytes) {
  if (const std::string disagreement = testing::read_disagreement(bytes); !disagreement.empty()) {
    throw std::logic_error("the reads disagree: " + disagreement);
  }
}

}  // namespace zem::fuzz

#include "zem_package/read_failure.hpp"

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

}  // namespace zem

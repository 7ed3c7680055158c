#pragma once

#include <array>
#include <string_view>

namespace zem::toolkit {

// The stages of reading and checking a package, in the order they run.
enum class Stage {
  framing,       // the message framing and its root
  header,        // format version, target, tile memory, compiler
  blobs,         // decompression, digests, duplicates
  structure,     // tiles, bindings, host exchange, entry points, writes
  validation,    // the model's rules
  build_digest,  // the stored build digest against the computed one
};

inline constexpr std::array all_stages = {Stage::framing,   Stage::header,     Stage::blobs,
                                          Stage::structure, Stage::validation, Stage::build_digest};

[[nodiscard]] constexpr std::string_view stage_name(Stage stage) noexcept {
  switch (stage) {
    case Stage::framing:
      return "framing";
    case Stage::header:
      return "header";
    case Stage::blobs:
      return "blobs";
    case Stage::structure:
      return "structure";
    case Stage::validation:
      return "validation";
    case Stage::build_digest:
      return "build digest";
  }
  return "unknown";
}

}  // namespace zem::toolkit

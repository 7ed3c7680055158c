#pragma once

#include <string>

#include "toolkit/compare/comparison.hpp"

namespace zem::toolkit {

// Version of the JSON document that `compare --json` writes.
inline constexpr int compare_json_format = 3;

// `compare`'s text: the two packages, then one line per section ("blobs: 1
// changed, 1 added" or "tiles: equal") with a line per change indented under
// it ("  changed  segment at 0x4e000: dataSize 128 -> 256"), the build
// digests, the notes, and a last line "differingSections=2 status=differ"
// (status=equal when the packages are equal). Every line ends in a newline.
[[nodiscard]] std::string comparison_text(const Comparison& comparison, const std::string& first,
                                          const std::string& second);

// The same for programs: "format", "first", "second", "equal", "header",
// "compiler", one list of changes per section, "buildDigest" and "notes".
[[nodiscard]] Json comparison_json(const Comparison& comparison, const std::string& first,
                                   const std::string& second);

}  // namespace zem::toolkit

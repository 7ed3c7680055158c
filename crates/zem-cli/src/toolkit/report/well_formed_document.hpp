#pragma once

// A verify document read by a SIMD JSON parser, many times faster than the
// exact reader in verify_documents.cpp. It takes only a document that is
// valid JSON, of the format this build writes and shaped as verify writes
// it, and gives for it exactly what the exact reader gives. Anything else (a
// syntax error, an unexpected shape, a number it would have to round or
// could have read with another sign, a key given twice in an object it
// reads) gives nothing, and the exact reader then says what is wrong and
// where.

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/report/verify_documents.hpp"

namespace zem::toolkit {

// What one pass over a JSON text finds outside its strings.
struct TextOutline {
  // The most lists and objects open at once. Where the text is valid JSON,
  // it is exactly how deep a parser nests.
  int depth = 0;
  // A number written "-0": the fast parser reads it as 0, the exact reader
  // as a signed number, which is not a tile number.
  bool negative_zero = false;
};

[[nodiscard]] TextOutline outline_of(std::string_view text);

// `outline` is `outline_of(text)`, for a caller that has it already.
[[nodiscard]] std::optional<VerifyDocument> read_well_formed_document(std::string_view text,
                                                                      const std::string& file,
                                                                      const TextOutline& outline);
[[nodiscard]] std::optional<VerifyDocument> read_well_formed_document(std::string_view text,
                                                                      const std::string& file);

}  // namespace zem::toolkit

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

[[nodiscard]] std::optional<VerifyDocument> read_well_formed_document(std::string_view text,
                                                                      const std::string& file);

}  // namespace zem::toolkit

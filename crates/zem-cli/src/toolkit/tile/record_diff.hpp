#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "zem_package/package_model.hpp"
#include "zem_package/record_diff.hpp"
#include "zem_package/record_hints.hpp"

namespace zem::toolkit {

// A record's comparison for people, as `diff` and `verify` show it: a table
// of at most `max` differing words (index, region, offset, address, the
// record's and the expected word, their xor, the word before patching and
// the patch that changed it), a line per word on what owns its address, a
// count of the words not shown (or, when the hints explain every differing
// word, their count alone), the length if it differs, and one line per
// hint. Every line starts with `indent` and ends with a newline.
[[nodiscard]] std::string record_diff_text(const RecordDiff& diff, const PackageModel& model,
                                           std::size_t max, std::string_view indent = "");

// How a differing record differs, in a few words: "3 of 10 words differ",
// or for a record that differs only in length, "the record is 32 bytes, 40
// expected; the 8 words compared match".
[[nodiscard]] std::string differ_text(const RecordDiff& diff);

// "templateRecordWords=10 recordWords=10 differingWords=3 status=differ".
[[nodiscard]] std::string record_diff_summary(const RecordDiff& diff);

// "shifted: the record is the expected one moved 1 word later"; at most
// `max` words listed.
[[nodiscard]] std::string hint_text(const Hint& hint, std::size_t max);

}  // namespace zem::toolkit

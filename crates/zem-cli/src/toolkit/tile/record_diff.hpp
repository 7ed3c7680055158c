#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "template_record/template_setup.hpp"
#include "toolkit/output/json_values.hpp"
#include "toolkit/tile/tile_template.hpp"

namespace zem::toolkit {

// One word where the device record and the patched template differ.
struct WordDifference {
  std::size_t index = 0;       // word index in the template record
  WordPlace place;             // where the template word was read from
  std::uint32_t actual = 0;    // the record's word
  std::uint32_t expected = 0;  // the patched template word
  bool patched = false;        // the patch table changed this template word

  friend bool operator==(const WordDifference&, const WordDifference&) = default;
};

// A device record compared with the patched template, word by word, over the
// words that both hold.
struct RecordDiff {
  std::size_t template_words = 0;
  std::uint64_t record_bytes = 0;  // the record file's whole length
  std::vector<WordDifference> differences;

  [[nodiscard]] bool matches() const noexcept {
    return differences.empty() && record_bytes == std::uint64_t{template_words} * 4;
  }
};

// Compares `record` (the record's first bytes; `record_bytes` is its whole
// length) with the patched template words; `unpatched` tells which words the
// patch table changed.
[[nodiscard]] RecordDiff diff_record(const template_record::TemplateSetup& setup,
                                     std::span<const std::uint32_t> unpatched,
                                     std::span<const std::uint32_t> patched,
                                     std::span<const std::uint8_t> record,
                                     std::uint64_t record_bytes);

// The comparison for people: a table of at most `max` differing words, a count
// of those not shown, the length mismatch if any (and a length that is not a
// whole number of words), and a last summary line
// "templateRecordWords=10 recordWords=10 differingWords=3 status=differ"
// (status=match when the record matches). Every line ends in a newline.
[[nodiscard]] std::string diff_text(const RecordDiff& diff, std::size_t max);

// The comparison for programs: "templateRecordWords", "recordBytes",
// "recordWords", "differingWords", at most `max` "differences" and "status".
[[nodiscard]] Json diff_json(const RecordDiff& diff, std::size_t max);

}  // namespace zem::toolkit

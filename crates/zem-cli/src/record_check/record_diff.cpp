#include "record_check/record_diff.hpp"

#include <algorithm>

#include "zem_package/io.hpp"

namespace zem::record_check {

RecordDiff diff_record(const ExpectedRecord& expected, const RecordInput& record,
                       const DiffOptions& options) {
  const std::vector<std::uint32_t>& words = expected.words.words;
  RecordDiff diff;
  diff.expected_words = words.size();
  diff.record_bytes = record.size.value_or(record.bytes.size());
  diff.record_bytes_at_least = record.longer && !record.size;

  std::vector<std::uint32_t> record_words(record.bytes.size() / 4);
  for (std::size_t n = 0; n < record_words.size(); ++n) {
    record_words[n] = io::load_u32_le(std::span(record.bytes).subspan(4 * n).first<4>());
  }
  std::vector<RecordWord> differing;
  const std::size_t compared = std::min(words.size(), record_words.size());
  for (std::size_t n = 0; n < compared; ++n) {
    const std::uint32_t actual = record_words[n];
    if (actual == words[n]) continue;
    ++diff.differing_words;
    if (diff.differences.size() >= options.max) continue;
    ExplainedWord& word = diff.differences.emplace_back();
    word.index = n;
    word.place = word_place(expected.setup, n);
    word.actual = actual;
    word.expected = words[n];
    word.unpatched = expected.words.gathered[n];
    word.patch = word_patch(expected, n);
    if (options.owners != nullptr) {
      word.owner = options.owners->owner(expected.physical_tile, word.place.address);
    }
    differing.push_back({n, actual ^ words[n]});
  }
  if (diff.matches()) return diff;

  HintInputs inputs;
  inputs.expected = words;
  inputs.gathered = expected.words.gathered;
  inputs.record = record_words;
  inputs.trailing = record.longer || record.bytes.size() % 4 != 0;
  inputs.record_words = diff.record_bytes / 4;
  inputs.record_words_at_least = diff.record_bytes_at_least;
  inputs.physical_tile = expected.physical_tile;
  inputs.others = options.others;
  diff.hints = find_hints(inputs, differing);
  return diff;
}

std::vector<std::uint8_t> record_bytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4);
  for (const std::uint32_t word : words) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return bytes;
}

}  // namespace zem::record_check

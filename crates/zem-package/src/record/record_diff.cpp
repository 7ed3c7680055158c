#include "zem_package/record_diff.hpp"

#include <algorithm>

#include "record/hint_search.hpp"
#include "zem_package/io.hpp"

namespace zem {

RecordDiff diff_record(const ExpectedRecord& expected, const DeviceRecord& record,
                       const DiffOptions& options) {
  const std::vector<std::uint32_t>& words = expected.words.words;
  RecordDiff diff;
  diff.expected_words = words.size();
  diff.record_bytes = record.size;
  diff.record_bytes_at_least = record.more_than_size;

  std::vector<std::uint32_t> record_words(record.bytes.size() / 4);
  for (std::size_t n = 0; n < record_words.size(); ++n) {
    record_words[n] = io::load_u32_le(std::span(record.bytes).subspan(4 * n).first<4>());
  }
  // Every differing word counts towards the hints, however few are explained.
  std::vector<RecordWord> differing;
  const std::size_t compared = std::min(words.size(), record_words.size());
  for (std::size_t n = 0; n < compared; ++n) {
    const std::uint32_t actual = record_words[n];
    if (actual == words[n]) continue;
    differing.push_back({n, actual ^ words[n]});
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
  }
  diff.differing_words = differing.size();
  if (diff.matches()) return diff;

  HintInputs inputs;
  inputs.expected = words;
  inputs.gathered = expected.words.gathered;
  inputs.record = record_words;
  inputs.trailing = record.cut() || record.bytes.size() % 4 != 0;
  inputs.record_words = diff.record_bytes / 4;
  inputs.record_words_at_least = diff.record_bytes_at_least;
  inputs.physical_tile = expected.physical_tile;
  inputs.others = options.others;
  diff.hints = find_hints(inputs, differing);
  diff.explained = hints_explain(diff.hints);
  return diff;
}

}  // namespace zem

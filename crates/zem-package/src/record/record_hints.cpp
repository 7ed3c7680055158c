#include "record/hint_search.hpp"

#include <algorithm>
#include <bit>
#include <functional>
#include <string_view>

namespace zem {
namespace {

std::size_t hash_of(std::span<const std::uint32_t> words) {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(words.data()),
                                                        words.size() * sizeof(std::uint32_t)));
}

// Whether the record is the expected one moved by `shift` words: for every
// expected word that stays inside the expected length once moved, the
// record holds it there.
bool shifted_by(std::span<const std::uint32_t> expected, std::span<const std::uint32_t> record,
                std::int64_t shift) {
  const auto by = static_cast<std::size_t>(shift < 0 ? -shift : shift);
  if (by >= expected.size()) return false;
  const std::size_t overlap = expected.size() - by;
  for (std::size_t n = 0; n < overlap; ++n) {
    // Late: expected word n stands at n + shift. Early: word n + |shift|
    // stands at n.
    const std::size_t at = shift > 0 ? n + by : n;
    const std::size_t from = shift > 0 ? n : n + by;
    if (at >= record.size() || record[at] != expected[from]) return false;
  }
  return true;
}

bool all_of_value(std::span<const std::uint32_t> words, std::uint32_t value) {
  return !words.empty() &&
         std::ranges::all_of(words, [value](std::uint32_t w) { return w == value; });
}

}  // namespace

std::string_view hint_kind(const Hint& hint) noexcept {
  struct Kind {
    std::string_view operator()(const hint::Short&) const { return "short"; }
    std::string_view operator()(const hint::Long&) const { return "long"; }
    std::string_view operator()(const hint::ByteSwapped&) const { return "byte-swapped"; }
    std::string_view operator()(const hint::Shifted&) const { return "shifted"; }
    std::string_view operator()(const hint::Unpatched&) const { return "unpatched"; }
    std::string_view operator()(const hint::AllZeros&) const { return "all-zeros"; }
    std::string_view operator()(const hint::AllOnes&) const { return "all-ones"; }
    std::string_view operator()(const hint::RecordOfTile&) const { return "record-of-tile"; }
    std::string_view operator()(const hint::SingleBit&) const { return "single-bit"; }
  };
  return std::visit(Kind{}, hint);
}

void RecordIndex::add(std::uint32_t tile, std::span<const std::uint32_t> words) {
  records_.emplace(hash_of(words), Entry{tile, words});
}

std::optional<std::uint32_t> RecordIndex::tile_with(std::span<const std::uint32_t> words,
                                                    std::uint32_t except) const {
  std::optional<std::uint32_t> found;
  const auto [begin, end] = records_.equal_range(hash_of(words));
  for (auto it = begin; it != end; ++it) {
    const Entry& entry = it->second;
    if (entry.tile == except || !std::ranges::equal(entry.words, words)) continue;
    if (!found || entry.tile < *found) found = entry.tile;
  }
  return found;
}

std::vector<Hint> find_hints(const HintInputs& in, std::span<const RecordWord> differing) {
  std::vector<Hint> hints;
  const std::span<const std::uint32_t> expected = in.expected;
  const std::span<const std::uint32_t> record = in.record;
  const bool whole = !in.trailing;  // the record is exactly its words

  if (in.record_words < expected.size()) {
    hint::Short short_by{expected.size() - static_cast<std::size_t>(in.record_words), {}};
    for (std::size_t n = record.size(); n < expected.size(); ++n) {
      short_by.missing.push_back({n, expected[n]});
    }
    hints.emplace_back(std::move(short_by));
  } else if (in.record_words > expected.size()) {
    hint::Long long_by{
        static_cast<std::size_t>(in.record_words - expected.size()), in.record_words_at_least, {}};
    for (std::size_t n = expected.size(); n < record.size(); ++n) {
      long_by.extra.push_back({n, record[n]});
    }
    hints.emplace_back(std::move(long_by));
  }

  const bool same_length = whole && record.size() == expected.size();
  if (same_length && !expected.empty() &&
      std::ranges::equal(record, expected,
                         [](std::uint32_t r, std::uint32_t e) { return r == std::byteswap(e); })) {
    hints.emplace_back(hint::ByteSwapped{});
  }
  // The smallest shift that holds, later before earlier.
  for (std::size_t by = 1; by <= max_shift; ++by) {
    const auto shift = static_cast<std::int64_t>(by);
    if (shifted_by(expected, record, shift)) {
      hints.emplace_back(hint::Shifted{shift});
      break;
    }
    if (shifted_by(expected, record, -shift)) {
      hints.emplace_back(hint::Shifted{-shift});
      break;
    }
  }
  if (same_length && !std::ranges::equal(in.gathered, expected) &&
      std::ranges::equal(record, in.gathered)) {
    hints.emplace_back(hint::Unpatched{});
  }
  if (whole && all_of_value(record, 0)) hints.emplace_back(hint::AllZeros{});
  if (whole && all_of_value(record, 0xffffffffU)) hints.emplace_back(hint::AllOnes{});
  if (whole && in.others != nullptr) {
    if (const auto tile = in.others->tile_with(record, in.physical_tile)) {
      hints.emplace_back(hint::RecordOfTile{*tile});
    }
  }
  for (const RecordWord& word : differing) {
    const std::uint32_t bits = word.value;
    if (std::popcount(bits) == 1) {
      hints.emplace_back(
          hint::SingleBit{word.index, static_cast<unsigned>(std::countr_zero(bits))});
    }
  }
  return hints;
}

}  // namespace zem

#include "record/hint_search.hpp"

#include <algorithm>
#include <bit>
#include <optional>

namespace zem {
namespace {

// A word's key by its place and value (splitmix64's finaliser, which spreads
// every input bit over the whole key). A record's key is the sum of its
// words' keys and of its length's, so that the key of a record with one word
// changed is its key minus the old word's key plus the new one's.
std::uint64_t mixed(std::uint64_t x) noexcept {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30U)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27U)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31U);
}

std::uint64_t word_key(std::size_t index, std::uint32_t value) noexcept {
  return mixed((std::uint64_t{index} << 32U) | value);
}

std::uint64_t record_key(std::span<const std::uint32_t> words) noexcept {
  std::uint64_t key = mixed(~std::uint64_t{words.size()});
  for (std::size_t n = 0; n < words.size(); ++n) key += word_key(n, words[n]);
  return key;
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

std::uint32_t half_swap(std::uint32_t word) noexcept { return std::rotl(word, 16); }

// Whether every word of `record` is `change` of the same word of `expected`.
template <class Change>
bool each_word_is(std::span<const std::uint32_t> record, std::span<const std::uint32_t> expected,
                  Change change) {
  return !expected.empty() && record.size() == expected.size() &&
         std::ranges::equal(record, expected,
                            [&](std::uint32_t r, std::uint32_t e) { return r == change(e); });
}

// The record is the expected one up to its first differing word, and from
// there on, two words or more, all zeros or all ones.
std::optional<hint::Truncated> truncated(std::span<const std::uint32_t> record,
                                         std::span<const RecordWord> differing) {
  if (differing.empty()) return std::nullopt;
  const std::size_t from = differing.front().index;
  if (from == 0 || record.size() - from < 2) return std::nullopt;
  const std::uint32_t fill = record[from];
  if (fill != 0 && fill != 0xffffffffU) return std::nullopt;
  if (!all_of_value(record.subspan(from), fill)) return std::nullopt;
  return hint::Truncated{from, fill};
}

// Every differing word, two or more, differs in the same one bit and holds
// the same value there.
std::optional<hint::StuckBit> stuck_bit(std::span<const RecordWord> differing,
                                        std::span<const std::uint32_t> record) {
  if (differing.size() < 2) return std::nullopt;
  const std::uint32_t mask = differing.front().value;
  if (std::popcount(mask) != 1) return std::nullopt;
  const bool set = (record[differing.front().index] & mask) != 0;
  for (const RecordWord& word : differing) {
    if (word.value != mask || ((record[word.index] & mask) != 0) != set) return std::nullopt;
  }
  return hint::StuckBit{static_cast<unsigned>(std::countr_zero(mask)), set ? 1U : 0U,
                        differing.size()};
}

// The differing words that differ in one bit, grouped by that bit, lowest
// bit first.
std::vector<hint::SingleBit> single_bits(std::span<const RecordWord> differing) {
  std::array<std::vector<std::size_t>, 32> by_bit;
  for (const RecordWord& word : differing) {
    if (std::popcount(word.value) == 1) {
      by_bit[static_cast<std::size_t>(std::countr_zero(word.value))].push_back(word.index);
    }
  }
  std::vector<hint::SingleBit> hints;
  for (unsigned bit = 0; bit < by_bit.size(); ++bit) {
    if (!by_bit[bit].empty()) hints.push_back(hint::SingleBit{bit, std::move(by_bit[bit])});
  }
  return hints;
}

// The record another tile expects, as it is, with one bit changed, or
// byte-swapped: the first of these that holds.
std::optional<hint::RecordOfTile> record_of_tile(const RecordIndex& others,
                                                 std::span<const std::uint32_t> record,
                                                 std::uint32_t tile) {
  if (const auto exact = others.tile_with(record, tile)) return hint::RecordOfTile{*exact};
  if (auto one_bit = others.tile_one_bit_from(record, tile)) return one_bit;
  std::vector<std::uint32_t> swapped(record.begin(), record.end());
  for (std::uint32_t& word : swapped) word = std::byteswap(word);
  if (const auto other = others.tile_with(swapped, tile)) {
    return hint::RecordOfTile{*other, hint::RecordChange::byte_swapped};
  }
  return std::nullopt;
}

}  // namespace

std::string_view hint_kind(const Hint& hint) noexcept { return hint_kinds[hint.index()]; }

std::string_view change_name(hint::RecordChange change) noexcept {
  switch (change) {
    case hint::RecordChange::none:
      return "none";
    case hint::RecordChange::one_bit:
      return "one-bit";
    case hint::RecordChange::byte_swapped:
      return "byte-swapped";
  }
  return "none";
}

bool explains_every_word(const Hint& hint) noexcept {
  return !std::holds_alternative<hint::Short>(hint) && !std::holds_alternative<hint::Long>(hint) &&
         !std::holds_alternative<hint::Shifted>(hint) &&
         !std::holds_alternative<hint::SingleBit>(hint);
}

void RecordIndex::add(std::uint32_t tile, std::span<const std::uint32_t> words) {
  records_.emplace(record_key(words), Entry{tile, words});
}

std::optional<std::uint32_t> RecordIndex::tile_with(std::span<const std::uint32_t> words,
                                                    std::uint32_t except) const {
  std::optional<std::uint32_t> found;
  const auto [begin, end] = records_.equal_range(record_key(words));
  for (auto it = begin; it != end; ++it) {
    const Entry& entry = it->second;
    if (entry.tile == except || !std::ranges::equal(entry.words, words)) continue;
    if (!found || entry.tile < *found) found = entry.tile;
  }
  return found;
}

std::optional<hint::RecordOfTile> RecordIndex::tile_one_bit_from(
    std::span<const std::uint32_t> words, std::uint32_t except) const {
  if (words.empty() || words.size() > max_one_bit_words || records_.empty()) return std::nullopt;
  std::optional<hint::RecordOfTile> found;
  const std::uint64_t key = record_key(words);
  for (std::size_t n = 0; n < words.size(); ++n) {
    const std::uint64_t without = key - word_key(n, words[n]);
    for (unsigned bit = 0; bit < 32; ++bit) {
      const std::uint32_t changed = words[n] ^ (1U << bit);
      const auto [begin, end] = records_.equal_range(without + word_key(n, changed));
      for (auto it = begin; it != end; ++it) {
        const Entry& entry = it->second;
        if (entry.tile == except || (found && entry.tile >= found->tile) ||
            entry.words.size() != words.size() || entry.words[n] != changed ||
            !std::ranges::equal(entry.words.first(n), words.first(n)) ||
            !std::ranges::equal(entry.words.subspan(n + 1), words.subspan(n + 1))) {
          continue;
        }
        found = hint::RecordOfTile{entry.tile, hint::RecordChange::one_bit, n, bit};
      }
    }
  }
  return found;
}

bool hints_explain(std::span<const Hint> hints) {
  return std::ranges::any_of(hints, [](const Hint& hint) { return explains_every_word(hint); });
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
  if (same_length &&
      each_word_is(record, expected, [](std::uint32_t e) { return std::byteswap(e); })) {
    hints.emplace_back(hint::ByteSwapped{});
  }
  if (same_length && each_word_is(record, expected, half_swap)) {
    hints.emplace_back(hint::HalfSwapped{});
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
  if (same_length) {
    if (const auto cut = truncated(record, differing)) hints.emplace_back(*cut);
  }
  if (same_length && !std::ranges::equal(in.gathered, expected) &&
      std::ranges::equal(record, in.gathered)) {
    hints.emplace_back(hint::Unpatched{});
  }
  if (whole && all_of_value(record, 0)) hints.emplace_back(hint::AllZeros{});
  if (whole && all_of_value(record, 0xffffffffU)) hints.emplace_back(hint::AllOnes{});
  if (whole && in.others != nullptr) {
    if (const auto other = record_of_tile(*in.others, record, in.physical_tile)) {
      hints.emplace_back(*other);
    }
  }
  if (const auto stuck = stuck_bit(differing, record)) {
    hints.emplace_back(*stuck);
  } else {
    for (hint::SingleBit& bit : single_bits(differing)) hints.emplace_back(std::move(bit));
  }
  return hints;
}

}  // namespace zem

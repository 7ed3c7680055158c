#pragma once

// What a record that differs from the one its tile expects has in common
// with something known: the hints a check gives beside the differing words.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "zem_package/api.hpp"

namespace zem {

// A word of a record or of its expected record, by its index.
struct RecordWord {
  std::size_t index = 0;
  std::uint32_t value = 0;

  friend bool operator==(const RecordWord&, const RecordWord&) = default;
};

// What a differing record has in common with something known. Each hint is
// computed and checked against the record, never guessed.
namespace hint {

// The record has `words` fewer words than expected; `missing` are the
// expected words it lacks.
struct Short {
  std::size_t words = 0;
  std::vector<RecordWord> missing;
  friend bool operator==(const Short&, const Short&) = default;
};
// The record has `words` more words than expected (at least that many when
// `at_least`: it came from a pipe that was not read to its end); `extra`
// are those of them that were read, in order: a record is read only a
// little past its expected length, so the rest were not.
struct Long {
  std::size_t words = 0;
  bool at_least = false;
  std::vector<RecordWord> extra;
  friend bool operator==(const Long&, const Long&) = default;
};
// Every word is the expected word with its four bytes reversed.
struct ByteSwapped {
  friend bool operator==(const ByteSwapped&, const ByteSwapped&) = default;
};
// Every word is the expected word with its two 16-bit halves swapped.
struct HalfSwapped {
  friend bool operator==(const HalfSwapped&, const HalfSwapped&) = default;
};
// The record is the expected one moved by `words` words: later for a
// positive count, earlier for a negative one; the words moved past either
// end aside.
struct Shifted {
  std::int64_t words = 0;
  friend bool operator==(const Shifted&, const Shifted&) = default;
};
// The record is the expected one up to word `from` (at least 1), and every
// word from there to its end, two or more, is `fill` (0 or 0xffffffff): a
// load that stopped part way.
struct Truncated {
  std::size_t from = 0;
  std::uint32_t fill = 0;
  friend bool operator==(const Truncated&, const Truncated&) = default;
};
// The record holds the template words as gathered, before patching.
struct Unpatched {
  friend bool operator==(const Unpatched&, const Unpatched&) = default;
};
struct AllZeros {
  friend bool operator==(const AllZeros&, const AllZeros&) = default;
};
struct AllOnes {
  friend bool operator==(const AllOnes&, const AllOnes&) = default;
};
// How a record differs from the record another tile expects.
enum class RecordChange : std::uint8_t {
  none,          // not at all
  one_bit,       // in bit `bit` of word `word` alone
  byte_swapped,  // every word with its four bytes reversed
};
// The record is the one another tile expects, as it is or changed as
// `change` says.
struct RecordOfTile {
  std::uint32_t tile = 0;
  RecordChange change = RecordChange::none;
  std::size_t word = 0;  // for `one_bit`
  unsigned bit = 0;      // for `one_bit`
  friend bool operator==(const RecordOfTile&, const RecordOfTile&) = default;
};
// Every differing word, two or more of them, differs in bit `bit` alone and
// holds `value` (0 or 1) there: a data line stuck at that value. It stands
// instead of the `SingleBit` hints of those words.
struct StuckBit {
  unsigned bit = 0;
  unsigned value = 0;
  std::size_t words = 0;  // the differing words
  friend bool operator==(const StuckBit&, const StuckBit&) = default;
};
// Differing words that differ in bit `bit` alone, in order: one hint per
// bit, however many words.
struct SingleBit {
  unsigned bit = 0;
  std::vector<std::size_t> words;
  friend bool operator==(const SingleBit&, const SingleBit&) = default;
};

}  // namespace hint

// In the order a check gives them.
using Hint = std::variant<hint::Short, hint::Long, hint::ByteSwapped, hint::HalfSwapped,
                          hint::Shifted, hint::Truncated, hint::Unpatched, hint::AllZeros,
                          hint::AllOnes, hint::RecordOfTile, hint::StuckBit, hint::SingleBit>;

// The kinds' names, in the order of `Hint`'s alternatives.
inline constexpr std::array<std::string_view, std::variant_size_v<Hint>> hint_kinds = {
    "short",     "long",      "byte-swapped", "half-swapped",   "shifted",   "truncated",
    "unpatched", "all-zeros", "all-ones",     "record-of-tile", "stuck-bit", "single-bit"};

// "short", "long", "byte-swapped", ...: its name in `hint_kinds`.
[[nodiscard]] ZEM_PACKAGE_API std::string_view hint_kind(const Hint& hint) noexcept;

// "none", "one-bit", "byte-swapped".
[[nodiscard]] ZEM_PACKAGE_API std::string_view change_name(hint::RecordChange change) noexcept;

// Whether `hint` says exactly what every differing word it covers holds:
// the words' values follow from the hint and the expected record. A
// `Short`, `Long` or `Shifted` hint says less; a `SingleBit` hint covers
// its words only.
[[nodiscard]] ZEM_PACKAGE_API bool explains_every_word(const Hint& hint) noexcept;

// The largest shift that `Shifted` looks for, in words, either way.
inline constexpr std::size_t max_shift = 8;

// The records that the tiles of a device expect, found by their words: as
// they are, or with one bit of one word changed. Holds views of the words,
// which must outlive it.
class ZEM_PACKAGE_API RecordIndex {
 public:
  void add(std::uint32_t tile, std::span<const std::uint32_t> words);
  // The lowest-numbered tile other than `except` that expects exactly
  // `words`.
  [[nodiscard]] std::optional<std::uint32_t> tile_with(std::span<const std::uint32_t> words,
                                                       std::uint32_t except) const;
  // The lowest-numbered tile other than `except` whose expected record is
  // `words` but for one bit of one word: that tile, word and bit (the lowest
  // word, then bit, of that tile). Looked for in records of at most
  // `max_one_bit_words` words.
  [[nodiscard]] std::optional<hint::RecordOfTile> tile_one_bit_from(
      std::span<const std::uint32_t> words, std::uint32_t except) const;

  static constexpr std::size_t max_one_bit_words = 1U << 16;

 private:
  struct Entry {
    std::uint32_t tile;
    std::span<const std::uint32_t> words;
  };
  // By the sum of their words' keys (see record_hints.cpp), which one word
  // changed changes by a sum that is quick to work out.
  std::unordered_multimap<std::uint64_t, Entry> records_;
};

}  // namespace zem

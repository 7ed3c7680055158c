#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace zem::record_check {

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
// `at_least`: it was not read to its end); `extra` are those that were read.
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
// The record is the expected one moved by `words` words: later for a
// positive count, earlier for a negative one; the words moved past either
// end aside.
struct Shifted {
  std::int64_t words = 0;
  friend bool operator==(const Shifted&, const Shifted&) = default;
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
// The record is the one another tile expects.
struct RecordOfTile {
  std::uint32_t tile = 0;
  friend bool operator==(const RecordOfTile&, const RecordOfTile&) = default;
};
// A differing word differs in one bit only.
struct SingleBit {
  std::size_t word = 0;
  unsigned bit = 0;
  friend bool operator==(const SingleBit&, const SingleBit&) = default;
};

}  // namespace hint

using Hint =
    std::variant<hint::Short, hint::Long, hint::ByteSwapped, hint::Shifted, hint::Unpatched,
                 hint::AllZeros, hint::AllOnes, hint::RecordOfTile, hint::SingleBit>;

// "short", "long", "byte-swapped", "shifted", "unpatched", "all-zeros",
// "all-ones", "record-of-tile", "single-bit".
[[nodiscard]] std::string_view hint_kind(const Hint& hint) noexcept;

// The largest shift that `Shifted` looks for, in words, either way.
inline constexpr std::size_t max_shift = 8;

// The records that the tiles of a device expect, found by their words.
// Holds views of the words, which must outlive it.
class RecordIndex {
 public:
  void add(std::uint32_t tile, std::span<const std::uint32_t> words);
  // The lowest-numbered tile other than `except` that expects exactly
  // `words`.
  [[nodiscard]] std::optional<std::uint32_t> tile_with(std::span<const std::uint32_t> words,
                                                       std::uint32_t except) const;

 private:
  struct Entry {
    std::uint32_t tile;
    std::span<const std::uint32_t> words;
  };
  std::unordered_multimap<std::size_t, Entry> records_;
};

// What is known of a record to find its hints.
struct HintInputs {
  std::span<const std::uint32_t> expected;  // the expected record's words
  std::span<const std::uint32_t> gathered;  // its template words before patching
  std::span<const std::uint32_t> record;    // the record's whole words, as read
  // The record holds more than `record`'s words: a part of a word, or bytes
  // that were not read.
  bool trailing = false;
  // More words than were read, when known; `record_words_at_least` when not.
  std::uint64_t record_words = 0;
  bool record_words_at_least = false;
  std::uint32_t physical_tile = 0;
  const RecordIndex* others = nullptr;  // the other tiles' records, for `RecordOfTile`
};

// Every hint that holds for a record that differs from its expected one, in
// the order of the kinds above; `SingleBit` for those of the differing words
// `differing` lists (each with its index and the xor of the record's word
// and the expected one) whose xor has one bit set.
[[nodiscard]] std::vector<Hint> find_hints(const HintInputs& inputs,
                                           std::span<const RecordWord> differing);

}  // namespace zem::record_check

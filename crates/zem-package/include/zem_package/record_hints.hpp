#pragma once

// What a record that differs from the one its tile expects has in common
// with something known: the hints a check gives beside the differing words.

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
[[nodiscard]] ZEM_PACKAGE_API std::string_view hint_kind(const Hint& hint) noexcept;

// The largest shift that `Shifted` looks for, in words, either way.
inline constexpr std::size_t max_shift = 8;

// The records that the tiles of a device expect, found by their words.
// Holds views of the words, which must outlive it.
class ZEM_PACKAGE_API RecordIndex {
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

}  // namespace zem

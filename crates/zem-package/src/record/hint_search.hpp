#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zem_package/record_hints.hpp"

namespace zem {

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
// the order of `Hint`'s kinds. `differing` lists the differing words, each
// with its index and the xor of the record's word and the expected one:
// those whose xor has one bit set make a `SingleBit` hint per bit, or one
// `StuckBit` when they all differ in the same bit and hold the same value
// there.
[[nodiscard]] std::vector<Hint> find_hints(const HintInputs& inputs,
                                           std::span<const RecordWord> differing);

// Whether one of `hints` says what every differing word holds. Single-bit
// hints alone do not count: a few flipped words are worth listing with what
// owns them.
[[nodiscard]] bool hints_explain(std::span<const Hint> hints);

}  // namespace zem

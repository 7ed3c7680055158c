#pragma once

// A device record compared word by word with the record its tile expects:
// every differing word counted, the first ones explained, and the hints
// that hold.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zem_package/address_owners.hpp"
#include "zem_package/api.hpp"
#include "zem_package/device_record.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/record_hints.hpp"

namespace zem {

// One word where a record and the record its tile expects differ, with
// everything that says how the expected word came to be.
struct ExplainedWord {
  std::size_t index = 0;  // word index in the record
  WordPlace place;        // where the template word was gathered from
  std::uint32_t actual = 0;
  std::uint32_t expected = 0;
  std::uint32_t unpatched = 0;     // the template word as gathered, before patching
  std::optional<WordPatch> patch;  // the patch that changed it, if one did
  AddressOwner owner;              // what the package puts at its address

  [[nodiscard]] std::uint32_t difference() const noexcept { return actual ^ expected; }

  friend bool operator==(const ExplainedWord&, const ExplainedWord&) = default;
};

// A record compared with the record its tile expects, over the words both
// hold.
struct RecordDiff {
  std::size_t expected_words = 0;
  std::uint64_t record_bytes = 0;          // the record's length, as far as it is known
  bool record_bytes_at_least = false;      // it holds more, how much more is not known
  std::size_t differing_words = 0;         // all of them, counted
  std::vector<ExplainedWord> differences;  // the first ones, up to the limit asked for
  // Every hint that holds, found from the whole record whatever the limit;
  // none for a record that matches.
  std::vector<Hint> hints;
  // The hints say what every differing word holds (see
  // `explains_every_word`), so that listing the words adds nothing.
  bool explained = false;

  [[nodiscard]] bool matches() const noexcept {
    return differing_words == 0 && !record_bytes_at_least &&
           record_bytes == std::uint64_t{expected_words} * 4;
  }

  friend bool operator==(const RecordDiff&, const RecordDiff&) = default;
};

struct DiffOptions {
  std::size_t max = 8;                    // differences explained; all are counted
  const AddressOwners* owners = nullptr;  // what owns each address, when known
  const RecordIndex* others = nullptr;    // the other tiles' records, for a hint
};

// Compares `record` with `expected`. A record that holds a part of a word at
// its end, or more than was read, differs in length; its whole words are
// compared all the same.
[[nodiscard]] ZEM_PACKAGE_API RecordDiff diff_record(const ExpectedRecord& expected,
                                                     const DeviceRecord& record,
                                                     const DiffOptions& options);

}  // namespace zem

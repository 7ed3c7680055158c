#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/failure.hpp"
#include "record_check/expected_record.hpp"
#include "record_check/hints.hpp"
#include "record_check/record_diff.hpp"
#include "record_check/record_input.hpp"
#include "zem_package/address_owners.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::record_check {

// Bytes a record may hold past its expected length before the rest is left
// unread: enough to show what it holds, too little to hold up a check.
inline constexpr std::uint64_t record_slack = 4096;

// What became of one tile of one device.
enum class TileStatus : std::uint8_t { match, differ, missing, unreadable, failed };

// "match", "differ", "missing", "unreadable", "failed".
[[nodiscard]] std::string_view status_name(TileStatus status) noexcept;

struct TileVerdict {
  std::uint32_t physical_tile = 0;
  TileStatus status = TileStatus::match;
  // For `unreadable`, the system's error; for `failed`, the verifier's text.
  std::string reason;
  std::optional<RecordDiff> diff;  // for `match` and `differ`

  friend bool operator==(const TileVerdict&, const TileVerdict&) = default;
};

// The record of tile `physical_tile` of one device, read with at most
// `limit` bytes kept. Called from several threads at once.
using RecordSource = std::function<RecordInput(std::uint32_t physical_tile, std::uint64_t limit)>;

// The tiles of one package that a device check verifies, with the record
// each expects: worked out once, then compared with the records of as many
// devices as there are. The package must outlive the check.
class DeviceCheck {
 public:
  // Rebuilds tiles `tiles` (every tile of the package when empty), finds
  // their template setups and patches their templates, on `threads` threads.
  // A tile the package does not have is refused: "no tile has physical tile
  // number 9".
  [[nodiscard]] static cli::Outcome<DeviceCheck> prepare(const CheckedPackage& package,
                                                         std::span<const std::uint32_t> tiles,
                                                         unsigned threads);

  DeviceCheck(DeviceCheck&&) noexcept = default;
  DeviceCheck& operator=(DeviceCheck&&) noexcept = default;

  // The tiles that are verified, in tile number order.
  [[nodiscard]] std::vector<std::uint32_t> verified_tiles() const;
  // The tiles without a template setup, in tile number order: not verified.
  [[nodiscard]] std::span<const std::uint32_t> tiles_without_setup() const noexcept {
    return without_setup_;
  }
  // The record tile `physical_tile` expects, or the verifier's text when its
  // template cannot be gathered or patched; null when the tile is not
  // verified.
  [[nodiscard]] const cli::Outcome<ExpectedRecord>* expected(std::uint32_t physical_tile) const;

  // Compares each verified tile's record, as `records` reads it, with the
  // record the tile expects, on `threads` threads; at most `max` differing
  // words of each are explained. The verdicts are in tile number order,
  // whatever the threads.
  [[nodiscard]] std::vector<TileVerdict> verify(const RecordSource& records, std::size_t max,
                                                unsigned threads) const;

 private:
  struct Tile {
    std::uint32_t physical_tile = 0;
    cli::Outcome<ExpectedRecord> expected;  // the verifier's text when it cannot be had
  };
  DeviceCheck(const CheckedPackage& package, std::vector<Tile> tiles,
              std::vector<std::uint32_t> without_setup);

  std::vector<Tile> tiles_;  // in tile number order
  std::vector<std::uint32_t> without_setup_;
  std::unique_ptr<AddressOwners> owners_;
  std::unique_ptr<RecordIndex> records_;
};

// Runs `work(i)` for every i below `count` on up to `threads` threads, the
// calling one included, each index once. Every thread started is joined
// before it returns. `work` must not throw.
void for_each_index(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& work);

}  // namespace zem::record_check

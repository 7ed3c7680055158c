#pragma once

// A whole device checked against one package: every tile that has a
// template setup, its record read and compared with the record it expects,
// its differences explained. The package is read and the expected records
// worked out once, for as many devices as there are.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zem_package/address_owners.hpp"
#include "zem_package/api.hpp"
#include "zem_package/application.hpp"
#include "zem_package/device_record.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package.hpp"
#include "zem_package/record_diff.hpp"
#include "zem_package/record_hints.hpp"

namespace zem {

// Bytes a record may hold past its expected length before the rest is left
// unread: enough to show what it holds, too little to hold up a check.
inline constexpr std::uint64_t record_slack = 4096;

// What became of one tile of one device.
enum class TileStatus : std::uint8_t {
  match,       // the record is the expected one
  differ,      // it is not: `TileVerdict::diff` says how
  missing,     // there is no record file
  unreadable,  // the record could not be read: `TileVerdict::reason` says why
  failed,      // the tile's template could not be gathered or patched
};

inline constexpr std::array all_tile_statuses = {TileStatus::match, TileStatus::differ,
                                                 TileStatus::missing, TileStatus::unreadable,
                                                 TileStatus::failed};

// "match", "differ", "missing", "unreadable", "failed".
[[nodiscard]] ZEM_PACKAGE_API std::string_view status_name(TileStatus status) noexcept;

struct TileVerdict {
  std::uint32_t physical_tile = 0;
  TileStatus status = TileStatus::match;
  // For `unreadable`, why (see `record_error_text`); for `failed`, the
  // template's failure (see `to_string(TemplateError)`).
  std::string reason;
  std::optional<RecordDiff> diff;  // for `match` and `differ`

  friend bool operator==(const TileVerdict&, const TileVerdict&) = default;
};

// How many tiles ended in each status.
struct StatusCounts {
  std::array<std::uint64_t, all_tile_statuses.size()> counts{};

  [[nodiscard]] std::uint64_t of(TileStatus status) const noexcept {
    return counts[static_cast<std::size_t>(status)];
  }
  [[nodiscard]] ZEM_PACKAGE_API std::uint64_t tiles() const noexcept;
  void add(TileStatus status) noexcept { ++counts[static_cast<std::size_t>(status)]; }
  ZEM_PACKAGE_API StatusCounts& operator+=(const StatusCounts& other) noexcept;

  friend bool operator==(const StatusCounts&, const StatusCounts&) = default;
};

// What a whole device's records have in common with something known. Each
// is computed and checked against every record read, never guessed.
namespace device_hint {

// No record file was found for any tile: they were looked for in
// `directory`, which exists or not.
struct NoRecords {
  std::string directory;
  bool directory_exists = false;
  friend bool operator==(const NoRecords&, const NoRecords&) = default;
};
// No record read matches its own tile, but each of them, `records` (two or
// more), is byte for byte the expected record of the tile numbered `tiles`
// more (fewer when negative) than its own: a dump numbered off by that many.
struct OffBy {
  std::int64_t tiles = 0;
  std::size_t records = 0;
  friend bool operator==(const OffBy&, const OffBy&) = default;
};
// None of the `records` records read is byte for byte the expected record of
// any verified tile of the package: records of another package or build.
// Not given when every record read is all zeros or all ones: blank memory,
// which each tile's own hint names.
struct ForeignRecords {
  std::size_t records = 0;
  friend bool operator==(const ForeignRecords&, const ForeignRecords&) = default;
};
// Device `device` (its position among the devices checked together, named
// `name`) has the same records byte for byte, tile for tile, and the same
// tiles without one: the same dump given twice.
struct SameRecords {
  std::size_t device = 0;
  std::string name;
  friend bool operator==(const SameRecords&, const SameRecords&) = default;
};

}  // namespace device_hint

// In the order a check gives them.
using DeviceHint = std::variant<device_hint::NoRecords, device_hint::OffBy,
                                device_hint::ForeignRecords, device_hint::SameRecords>;

// The kinds' names, in the order of `DeviceHint`'s alternatives.
inline constexpr std::array<std::string_view, std::variant_size_v<DeviceHint>> device_hint_kinds = {
    "no-records", "off-by", "foreign-records", "same-records"};

// "no-records", "off-by", ...: its name in `device_hint_kinds`.
[[nodiscard]] ZEM_PACKAGE_API std::string_view device_hint_kind(const DeviceHint& hint) noexcept;

// One device's verdicts.
struct DeviceResult {
  std::vector<TileVerdict> tiles;  // in tile number order
  StatusCounts counts;
  // Per tile, beside `tiles`: the SHA-256 of its record when it was read
  // whole; none when the tile has no record or bytes of it were left unread.
  std::vector<std::optional<Digest>> record_digests;
  // What the device's records as a whole have in common with something
  // known: `verify` gives `OffBy` and `ForeignRecords`;
  // `add_no_records_hint` and `add_same_records_hints` the others.
  std::vector<DeviceHint> hints;

  [[nodiscard]] bool all_match() const noexcept {
    return counts.of(TileStatus::match) == counts.tiles();
  }

  friend bool operator==(const DeviceResult&, const DeviceResult&) = default;
};

// The record of tile `physical_tile` of one device, at most `limit` bytes
// of it kept. Called from several threads at once. A record that
// `record_missing` says is missing makes the tile `missing`; any other
// failure, `unreadable`.
using RecordSource =
    std::function<io::Result<DeviceRecord>(std::uint32_t physical_tile, std::uint64_t limit)>;

// The records named by a path pattern (see `record_path`), read with
// `read_device_record`; FIFOs are waited for at most `pipe_wait`.
[[nodiscard]] ZEM_PACKAGE_API RecordSource
pattern_records(std::string pattern, std::chrono::milliseconds pipe_wait = default_pipe_wait);

// Adds `NoRecords` to `result` when no tile has a record file though some
// were looked for, by `pattern` (see `record_path`): the directory of the
// first missing tile's record.
ZEM_PACKAGE_API void add_no_records_hint(DeviceResult& result, std::string_view pattern);

// Adds `SameRecords` to each two of `results` that have the same records:
// every tile verified on both has no record on either or a record read
// whole on both, the same bytes, and one record at least differs from the
// one its tile expects (devices that match agree without being one dump).
// `names[i]` is the name of `results[i]`.
ZEM_PACKAGE_API void add_same_records_hints(std::span<DeviceResult> results,
                                            std::span<const std::string> names);

// A tile that has a template setup: where the setup stands, and the record
// the tile expects, or why its template cannot be gathered or patched.
struct CheckedTile {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  FoundSetup setup;  // its offset is from the load base
  TemplateResult<ExpectedRecord> expected;

  friend bool operator==(const CheckedTile&, const CheckedTile&) = default;
};

struct DeviceCheckRead;

// The tiles of one package that a device check verifies, with the record
// each expects: worked out once, then compared with the records of as many
// devices as there are. The package must outlive the check.
class ZEM_PACKAGE_API DeviceCheck {
 public:
  // Rebuilds tiles `tiles` (every tile of the package when empty), finds
  // their template setups and patches their templates, on `threads`
  // threads. A package that is not valid gives its first failure; a tile it
  // does not have, a failure with `FailureSubject::unknown_tile`.
  [[nodiscard]] static ReadResult<DeviceCheck> prepare(const Package& package,
                                                       std::span<const std::uint32_t> tiles,
                                                       unsigned threads);

  // Reads the package from `file`, or from `bytes`, as a strict
  // `Package::read` does on `options.threads` threads, and prepares tiles
  // `tiles` as `prepare` does, with the same outcome, but from the contents
  // the read decompresses to check the blobs: a tile is prepared as soon as
  // the blobs it takes bytes from are checked, and its memory released
  // then. Blob contents are kept only while a tile still waits for another
  // blob, up to a budget; the tiles it leaves out are prepared from the
  // package after the read. So each blob is decompressed once, and the
  // memory needed stays bounded whatever the number of tiles.
  [[nodiscard]] static DeviceCheckRead read_and_prepare(io::FileDescriptor file,
                                                        std::span<const std::uint32_t> tiles,
                                                        const ReadOptions& options);
  [[nodiscard]] static DeviceCheckRead read_and_prepare(std::span<const std::uint8_t> bytes,
                                                        std::span<const std::uint32_t> tiles,
                                                        const ReadOptions& options);

  DeviceCheck(DeviceCheck&&) noexcept;
  DeviceCheck& operator=(DeviceCheck&&) noexcept;
  ~DeviceCheck();

  [[nodiscard]] const Package& package() const noexcept { return *package_; }
  // What owns each address of the package's tiles, for explanations.
  [[nodiscard]] const AddressOwners& owners() const noexcept { return *owners_; }

  // The tiles that are verified, those with a template setup, in tile
  // number order.
  [[nodiscard]] std::span<const CheckedTile> tiles() const noexcept { return tiles_; }
  // The tiles without a template setup, in tile number order: not verified.
  [[nodiscard]] std::span<const std::uint32_t> tiles_without_setup() const noexcept {
    return without_setup_;
  }
  // Verified tile `physical_tile`; null when the tile is not verified.
  [[nodiscard]] const CheckedTile* tile(std::uint32_t physical_tile) const noexcept;

  // Compares each verified tile's record, as `records` reads it, with the
  // record the tile expects, on `threads` threads; at most `max` differing
  // words of each are explained, and every hint that holds is given, the
  // device-wide `OffBy` and `ForeignRecords` among them. The verdicts are in
  // tile number order, whatever the threads. When `tiles_done` is given, it
  // is raised by one as each tile's verdict is reached, so that another
  // thread can show how far the check has come.
  [[nodiscard]] DeviceResult verify(const RecordSource& records, std::size_t max, unsigned threads,
                                    std::atomic<std::uint64_t>* tiles_done = nullptr) const;
  // The same for several devices at once, a result per device in their
  // order: their tiles are shared out over the threads together, so that
  // the threads are started once and none waits at the end of a device.
  [[nodiscard]] std::vector<DeviceResult> verify(
      std::span<const RecordSource> devices, std::size_t max, unsigned threads,
      std::atomic<std::uint64_t>* tiles_done = nullptr) const;

 private:
  friend struct DeviceCheckAccess;
  DeviceCheck(const Package& package, std::vector<CheckedTile> tiles,
              std::vector<std::uint32_t> without_setup);

  // Adds `OffBy` or `ForeignRecords` to `result` when it holds.
  void add_record_hints(DeviceResult& result) const;

  const Package* package_;
  std::vector<CheckedTile> tiles_;  // in tile number order
  std::vector<std::uint32_t> without_setup_;
  std::unique_ptr<AddressOwners> owners_;
  std::unique_ptr<RecordIndex> records_;
  std::vector<std::optional<Digest>> expected_digests_;  // beside `tiles_`
};

// What `DeviceCheck::read_and_prepare` gives.
struct DeviceCheckRead {
  // The package, or the read's failure, as `Package::read` gives them. The
  // package stays where it is however this value moves, so that `check`
  // may refer to it.
  ReadResult<std::unique_ptr<const Package>> package;
  // The check; or the failure `prepare` gives, or the read's failure when
  // there is no package.
  ReadResult<DeviceCheck> check;
};

}  // namespace zem

#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zem_package/api.hpp"

namespace zem {

// The fields of the package schema that a path can name.
enum class PackageField : std::uint8_t {
  format_version,
  target,
  tile_memory_base,
  tile_memory_size,
  compiler,
  blobs,
  data,
  compression,
  uncompressed_size,
  digest,
  tiles,
  segments,
  bindings1,
  bindings2,
  bindings3,
  name,
  label,
  values,
  slices,
  host_exchange,
  pages,
  required_pages,
  startup_page,
  startup_offset,
  calls,
  page_refs1,
  page_refs2,
  entry_points,
  device_config_writes,
  build_digest,
};

// The field's name in the schema: "formatVersion", "hostExchange",
// "pageRefs1", "deviceConfigWrites".
[[nodiscard]] ZEM_PACKAGE_API std::string_view field_name(PackageField field) noexcept;

// One step of a path: a field, and for an element of a list field its
// position in the list.
struct PathStep {
  constexpr PathStep() noexcept = default;
  // A field: `buildDigest`, or a list as a whole.
  constexpr PathStep(PackageField f) noexcept : field(f) {}  // NOLINT(google-explicit-constructor)
  // An element of a list field: `tiles[3]`.
  constexpr PathStep(PackageField f, std::size_t i) noexcept : field(f), index(i) {}
  constexpr PathStep(PackageField f, std::optional<std::size_t> i) noexcept : field(f), index(i) {}

  PackageField field = PackageField::blobs;
  std::optional<std::size_t> index;

  friend bool operator==(const PathStep&, const PathStep&) = default;
};

// Where in a package something lies, as a sequence of steps from the root:
// `tiles[3].segments[1]`, `bindings2[5].label`, `buildDigest`. The empty
// path stands for the message as a whole. Paths are values: tools ask them
// what they hold ("which blob?", "inside tile 3?") instead of reading their
// text, which is made only where a path is shown.
class ZEM_PACKAGE_API ElementPath {
 public:
  // The deepest path a package has: `hostExchange.calls[2].pageRefs1[0]`.
  static constexpr std::size_t max_depth = 4;

  constexpr ElementPath() noexcept = default;
  // Steps beyond `max_depth` are not kept.
  ElementPath(std::initializer_list<PathStep> steps) noexcept;

  // This path with one more step.
  [[nodiscard]] ElementPath then(PackageField field,
                                 std::optional<std::size_t> index = std::nullopt) const noexcept;

  [[nodiscard]] std::span<const PathStep> steps() const noexcept { return {steps_.data(), depth_}; }
  [[nodiscard]] bool empty() const noexcept { return depth_ == 0; }

  // Whether this path names `ancestor` or something inside it. A last step
  // without an index stands for the whole list: `tiles[3].segments[1]` lies
  // within `tiles`, `tiles[3]` and `tiles[3].segments`, not within `tiles[30]`.
  [[nodiscard]] bool within(const ElementPath& ancestor) const noexcept;

  // The position in the root list `list` of the element this path names or
  // lies within: 17 for `blobs[17].data` in blobs; none for a path that
  // starts elsewhere or names the list as a whole.
  [[nodiscard]] std::optional<std::size_t> index_in(PackageField list) const noexcept;

  // "tiles[3].segments[1]"; empty for the empty path.
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const ElementPath& a, const ElementPath& b) noexcept {
    return std::ranges::equal(a.steps(), b.steps());
  }

 private:
  std::array<PathStep, max_depth> steps_{};
  std::size_t depth_ = 0;
};

}  // namespace zem

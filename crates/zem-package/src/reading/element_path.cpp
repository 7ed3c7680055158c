#include "zem_package/element_path.hpp"

#include <fmt/format.h>

namespace zem {

std::string_view field_name(PackageField field) noexcept {
  switch (field) {
    case PackageField::format_version:
      return "formatVersion";
    case PackageField::target:
      return "target";
    case PackageField::tile_memory_base:
      return "tileMemoryBase";
    case PackageField::tile_memory_size:
      return "tileMemorySize";
    case PackageField::compiler:
      return "compiler";
    case PackageField::blobs:
      return "blobs";
    case PackageField::data:
      return "data";
    case PackageField::compression:
      return "compression";
    case PackageField::uncompressed_size:
      return "uncompressedSize";
    case PackageField::digest:
      return "digest";
    case PackageField::tiles:
      return "tiles";
    case PackageField::segments:
      return "segments";
    case PackageField::bindings1:
      return "bindings1";
    case PackageField::bindings2:
      return "bindings2";
    case PackageField::bindings3:
      return "bindings3";
    case PackageField::name:
      return "name";
    case PackageField::label:
      return "label";
    case PackageField::values:
      return "values";
    case PackageField::slices:
      return "slices";
    case PackageField::host_exchange:
      return "hostExchange";
    case PackageField::pages:
      return "pages";
    case PackageField::required_pages:
      return "requiredPages";
    case PackageField::startup_page:
      return "startupPage";
    case PackageField::startup_offset:
      return "startupOffset";
    case PackageField::calls:
      return "calls";
    case PackageField::page_refs1:
      return "pageRefs1";
    case PackageField::page_refs2:
      return "pageRefs2";
    case PackageField::entry_points:
      return "entryPoints";
    case PackageField::device_config_writes:
      return "deviceConfigWrites";
    case PackageField::build_digest:
      return "buildDigest";
  }
  return "unknown";
}

ElementPath::ElementPath(std::initializer_list<PathStep> steps) noexcept {
  for (const PathStep& step : steps) {
    if (depth_ == max_depth) break;
    steps_[depth_++] = step;
  }
}

ElementPath ElementPath::then(PackageField field, std::optional<std::size_t> index) const noexcept {
  ElementPath path = *this;
  if (path.depth_ < max_depth) path.steps_[path.depth_++] = PathStep{field, index};
  return path;
}

bool ElementPath::within(const ElementPath& ancestor) const noexcept {
  if (ancestor.depth_ > depth_) return false;
  for (std::size_t i = 0; i < ancestor.depth_; ++i) {
    const PathStep& mine = steps_[i];
    const PathStep& theirs = ancestor.steps_[i];
    if (mine.field != theirs.field) return false;
    // The ancestor's last step may name a whole list.
    const bool whole_list = i + 1 == ancestor.depth_ && !theirs.index;
    if (!whole_list && mine.index != theirs.index) return false;
  }
  return true;
}

std::optional<std::size_t> ElementPath::index_in(PackageField list) const noexcept {
  if (depth_ == 0 || steps_[0].field != list) return std::nullopt;
  return steps_[0].index;
}

std::string ElementPath::to_string() const {
  std::string text;
  for (std::size_t i = 0; i < depth_; ++i) {
    if (i > 0) text += '.';
    text += field_name(steps_[i].field);
    if (steps_[i].index) fmt::format_to(std::back_inserter(text), "[{}]", *steps_[i].index);
  }
  return text;
}

}  // namespace zem

#include "toolkit/package/failure_report.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <optional>

#include "format/hex.hpp"

namespace zem::toolkit {
namespace {

// The segments named as the users of a failing blob; the rest are counted.
constexpr std::size_t users_shown = 8;

// A detail as a failure's line shows it: a whole digest shortened (a stored
// one of another length is no digest of a blob, and is shown in full).
[[nodiscard]] std::string short_detail_text(const DetailValue& value) {
  const auto* digest = std::get_if<detail_value::Digest>(&value);
  if (digest == nullptr || digest->bytes.size() != sizeof(Digest)) return detail_text(value);
  std::string text = short_digest(digest->bytes);
  if (digest->length_shown) text += fmt::format(" ({} bytes)", digest->bytes.size());
  return text;
}

// "tile 3 (tiles[0].segments[0]), ..., and 4 more segments": the segments
// that take bytes from the blob; one of no data names it but takes nothing.
[[nodiscard]] std::optional<std::string> blob_users(const PackageModel& model, std::size_t blob) {
  std::vector<std::string> users;
  std::size_t count = 0;
  for (std::size_t t = 0; t < model.tiles.size(); ++t) {
    const TileImage& tile = model.tiles[t];
    for (std::size_t s = 0; s < tile.segments.size(); ++s) {
      if (tile.segments[s].blob != blob || tile.segments[s].data_size == 0) continue;
      if (++count <= users_shown) {
        const ElementPath segment{{PackageField::tiles, t}, {PackageField::segments, s}};
        users.push_back(fmt::format("tile {} ({})", tile.physical_tile, segment.to_string()));
      }
    }
  }
  if (count == 0) return std::nullopt;
  std::string text = fmt::format("{}", fmt::join(users, ", "));
  if (count > users_shown) {
    text += fmt::format(", and {} more segment{}", count - users_shown,
                        count - users_shown == 1 ? "" : "s");
  }
  return text;
}

}  // namespace

std::string failure_line(const ReadFailure& failure) {
  std::string line(stage_name(failure.stage));
  line += " failed";
  if (!failure.element.empty()) line += fmt::format(" at {}", failure.element.to_string());
  if (!failure.details.empty()) {
    std::vector<std::string> details;
    for (const FailureDetail& detail : failure.details) {
      details.push_back(fmt::format("{} {}", detail.name, short_detail_text(detail.value)));
    }
    line += fmt::format(" ({})", fmt::join(details, ", "));
  }
  return line + fmt::format(": {}", failure.error.to_string());
}

std::string failure_status(const ReadFailure& failure) {
  if (failure.element.empty()) return fmt::format("failed: {}", failure.error.to_string());
  return fmt::format("failed at {}: {}", failure.element.to_string(), failure.error.to_string());
}

std::vector<ContextLine> failure_context(const ReadFailure& failure, const PackageModel* model) {
  std::vector<ContextLine> context;
  for (const FailureDetail& detail : failure.details) {
    context.push_back({detail.name, detail_text(detail.value)});
  }
  if (model == nullptr || failure.stage != ReadStage::blobs) return context;
  if (const std::optional<std::size_t> blob = failure.element.index_in(PackageField::blobs)) {
    context.push_back({"used by", blob_users(*model, *blob).value_or("no segment")});
  }
  return context;
}

Json failure_json(const ReadFailure& failure) {
  Json details = Json::array();
  for (const FailureDetail& detail : failure.details) {
    details.push_back(detail_json(detail));
  }
  return Json{
      {"stage", stage_key(failure.stage)},
      {"element", failure.element.empty() ? Json() : Json(failure.element.to_string())},
      {"message", failure.error.to_string()},
      {"details", std::move(details)},
  };
}

}  // namespace zem::toolkit

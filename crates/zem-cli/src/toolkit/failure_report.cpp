#include "toolkit/failure_report.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <charconv>

#include "toolkit/hex.hpp"

namespace zem::toolkit {
namespace {

// The segments named as the users of a failing blob; the rest are counted.
constexpr std::size_t users_shown = 8;

// A value that starts with a whole digest ("d5d7...1f", "d5d7...1f (32 bytes)")
// has the digest shortened, the rest kept.
[[nodiscard]] std::string shortened(std::string_view value) {
  constexpr std::size_t digest_digits = 2 * sizeof(Digest);
  const bool digest = value.size() >= digest_digits &&
                      std::ranges::all_of(value.substr(0, digest_digits),
                                          [](char c) {
                                            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                                          }) &&
                      (value.size() == digest_digits || value[digest_digits] == ' ');
  if (!digest) return std::string(value);
  return std::string(value.substr(0, short_digest_digits)) +
         std::string(value.substr(digest_digits));
}

// "tile 3 (tiles[0].segments[0]), ..., and 4 more segments".
[[nodiscard]] std::optional<std::string> blob_users(const Application& model, std::size_t blob) {
  std::vector<std::string> users;
  std::size_t count = 0;
  for (std::size_t t = 0; t < model.tiles.size(); ++t) {
    const TileImage& tile = model.tiles[t];
    for (std::size_t s = 0; s < tile.segments.size(); ++s) {
      if (tile.segments[s].blob != blob) continue;
      if (++count <= users_shown) {
        users.push_back(fmt::format("tile {} (tiles[{}].segments[{}])", tile.physical_tile, t, s));
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
  if (!failure.element.empty()) line += fmt::format(" at {}", failure.element);
  if (!failure.details.empty()) {
    std::vector<std::string> details;
    for (const FailureDetail& detail : failure.details) {
      details.push_back(fmt::format("{} {}", detail.name, shortened(detail.value)));
    }
    line += fmt::format(" ({})", fmt::join(details, ", "));
  }
  return line + fmt::format(": {}", failure.error.to_string());
}

std::string failure_status(const ReadFailure& failure) {
  if (failure.element.empty()) return fmt::format("failed: {}", failure.error.to_string());
  return fmt::format("failed at {}: {}", failure.element, failure.error.to_string());
}

std::vector<FailureDetail> failure_context(const ReadFailure& failure, const Application* model) {
  std::vector<FailureDetail> context = failure.details;
  if (model == nullptr || failure.stage != ReadStage::blobs) return context;
  if (const std::optional<std::size_t> blob = list_index(failure.element, "blobs")) {
    if (std::optional<std::string> users = blob_users(*model, *blob)) {
      context.push_back({"used by", std::move(*users)});
    } else {
      context.push_back({"used by", "no segment"});
    }
  }
  return context;
}

Json failure_json(const ReadFailure& failure) {
  Json details = Json::array();
  for (const FailureDetail& detail : failure.details) {
    details.push_back(Json{{"name", detail.name}, {"value", detail.value}});
  }
  return Json{
      {"stage", stage_key(failure.stage)},
      {"element", failure.element.empty() ? Json() : Json(failure.element)},
      {"message", failure.error.to_string()},
      {"details", std::move(details)},
  };
}

bool lies_within(std::string_view element, std::string_view path) noexcept {
  if (!element.starts_with(path)) return false;
  if (element.size() == path.size()) return true;
  const char next = element[path.size()];
  return next == '.' || next == '[';
}

std::optional<std::size_t> list_index(std::string_view element, std::string_view list) noexcept {
  if (!element.starts_with(list) || element.size() <= list.size() || element[list.size()] != '[') {
    return std::nullopt;
  }
  const std::string_view digits = element.substr(list.size() + 1);
  std::size_t index = 0;
  const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc{} || stop == digits.data() || stop == digits.data() + digits.size() ||
      *stop != ']') {
    return std::nullopt;
  }
  return index;
}

}  // namespace zem::toolkit

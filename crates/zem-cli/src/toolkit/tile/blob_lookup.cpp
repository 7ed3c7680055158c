#include "toolkit/tile/blob_lookup.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/whole_number.hpp"
#include "format/hex.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {
namespace {

constexpr std::size_t digest_digits = 2 * sizeof(Digest);
// Blobs named when a digest prefix is ambiguous; the rest are counted.
constexpr std::size_t candidates_shown = 4;
constexpr std::string_view index_form = "index:";
constexpr std::string_view digest_form = "digest:";

[[nodiscard]] bool is_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

[[nodiscard]] char lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] bool is_digest_prefix(std::string_view text) noexcept {
  return !text.empty() && text.size() <= digest_digits && std::ranges::all_of(text, is_hex_digit);
}

// The blobs whose digest starts with `prefix`, a valid prefix.
std::vector<std::size_t> digest_matches(std::span<const BlobInfo> blobs, std::string_view prefix) {
  std::string lowered(prefix);
  std::ranges::transform(lowered, lowered.begin(), lower);
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    if (hex_bytes(blobs[i].digest).starts_with(lowered)) matches.push_back(i);
  }
  return matches;
}

// The one blob a digest prefix names.
Outcome<std::size_t> by_digest(std::span<const BlobInfo> blobs, std::string_view prefix) {
  if (!is_digest_prefix(prefix)) {
    return std::unexpected(
        Failure{fmt::format("invalid blob digest {}: expected 1 to {} hexadecimal digits",
                            quote_escaped(prefix), digest_digits)});
  }
  const std::vector<std::size_t> matches = digest_matches(blobs, prefix);
  std::string lowered(prefix);
  std::ranges::transform(lowered, lowered.begin(), lower);
  if (matches.empty()) {
    return std::unexpected(Failure{fmt::format("no blob has a digest starting with {}", lowered)});
  }
  if (matches.size() > 1) {
    // The candidates, so that a longer prefix can be picked from them.
    std::vector<std::string> candidates;
    for (const std::size_t i :
         std::span(matches).first(std::min(matches.size(), candidates_shown))) {
      candidates.push_back(fmt::format("blobs[{}] {}", i, hex_bytes(blobs[i].digest)));
    }
    std::string more;
    if (matches.size() > candidates_shown) {
      more = fmt::format(", and {} more", matches.size() - candidates_shown);
    }
    return std::unexpected(
        Failure{fmt::format("blob digest {} is ambiguous: {} blobs start with it: {}{}", lowered,
                            matches.size(), fmt::join(candidates, ", "), more)});
  }
  return matches.front();
}

// The blob at a position given in decimal.
Outcome<std::size_t> by_index(std::span<const BlobInfo> blobs, std::string_view text) {
  const auto index = cli::parse_whole_number(text);
  if (!index) {
    return std::unexpected(Failure{
        fmt::format("invalid blob position {}: expected a whole number", quote_escaped(text))});
  }
  if (*index >= blobs.size()) {
    return std::unexpected(Failure{fmt::format("no blob {}: the package has {} blob{}", *index,
                                               blobs.size(), blobs.size() == 1 ? "" : "s")});
  }
  return *index;
}

}  // namespace

Outcome<std::size_t> find_blob(std::span<const BlobInfo> blobs, std::string_view argument) {
  if (argument.starts_with(index_form)) return by_index(blobs, argument.substr(index_form.size()));
  if (argument.starts_with(digest_form)) {
    return by_digest(blobs, argument.substr(digest_form.size()));
  }
  const bool decimal = !argument.empty() &&
                       std::ranges::all_of(argument, [](char c) { return c >= '0' && c <= '9'; });
  // Past 4294967295 a number is no position: only a digest can be meant.
  if (!decimal || !cli::parse_whole_number(argument)) return by_digest(blobs, argument);
  const Outcome<std::size_t> position = by_index(blobs, argument);
  const std::vector<std::size_t> matches =
      is_digest_prefix(argument) ? digest_matches(blobs, argument) : std::vector<std::size_t>{};
  const bool other_blob = std::ranges::any_of(
      matches, [&](std::size_t blob) { return !position || blob != *position; });
  if (position && !other_blob) return *position;
  if (!position && matches.empty()) {
    return std::unexpected(Failure{fmt::format("{}, and no blob has a digest starting with {}",
                                               position.error().message, argument)});
  }
  if (!position) return by_digest(blobs, argument);
  // Both readings name a blob: which was meant is not guessed.
  return std::unexpected(Failure{fmt::format(
      "--blob {0} names blob {0} by its position and blob{1} {2} by a digest starting with {0}; "
      "give index:{0} or digest:{0}",
      argument, matches.size() == 1 ? "" : "s", fmt::join(matches, ", "))});
}

}  // namespace zem::toolkit

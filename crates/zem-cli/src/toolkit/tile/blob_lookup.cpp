#include "toolkit/tile/blob_lookup.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>

#include "format/hex.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {
namespace {

constexpr std::size_t digest_digits = 2 * sizeof(Digest);
// Blobs named when a digest prefix is ambiguous; the rest are counted.
constexpr std::size_t candidates_shown = 4;

[[nodiscard]] bool is_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

[[nodiscard]] char lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

Outcome<std::size_t> find_blob(std::span<const BlobInfo> blobs, std::string_view digest) {
  if (digest.empty() || digest.size() > digest_digits ||
      !std::ranges::all_of(digest, is_hex_digit)) {
    return std::unexpected(
        Failure{fmt::format("invalid blob digest {}: expected 1 to {} hexadecimal digits",
                            quote_escaped(digest), digest_digits)});
  }
  std::string prefix(digest);
  std::ranges::transform(prefix, prefix.begin(), lower);
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    if (hex_bytes(blobs[i].digest).starts_with(prefix)) matches.push_back(i);
  }
  if (matches.empty()) {
    return std::unexpected(Failure{fmt::format("no blob has a digest starting with {}", prefix)});
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
        Failure{fmt::format("blob digest {} is ambiguous: {} blobs start with it: {}{}", prefix,
                            matches.size(), fmt::join(candidates, ", "), more)});
  }
  return matches.front();
}

}  // namespace zem::toolkit

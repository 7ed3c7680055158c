#include "toolkit/diff.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "zem_package/io.hpp"
#include "template_record/patching.hpp"
#include "toolkit/hex.hpp"
#include "toolkit/text_table.hpp"

namespace zem::toolkit {
namespace tr = template_record;

RecordDiff diff_record(const tr::TemplateSetup& setup, std::span<const std::uint32_t> unpatched,
                       std::span<const std::uint32_t> patched, std::span<const std::uint8_t> record,
                       std::uint64_t record_bytes) {
  RecordDiff diff;
  diff.template_words = patched.size();
  diff.record_bytes = record_bytes;
  const std::size_t compared = std::min(patched.size(), record.size() / 4);
  for (std::size_t n = 0; n < compared; ++n) {
    const std::uint32_t actual = io::load_u32_le(record.subspan(4 * n).first<4>());
    if (actual == patched[n]) continue;
    WordDifference difference;
    difference.index = n;
    if (n < setup.primary_words) {
      difference.region = Region::primary;
      difference.offset = static_cast<std::uint32_t>(4 * n);
      difference.address = setup.primary + difference.offset;
    } else {
      difference.region = Region::secondary;
      difference.offset = static_cast<std::uint32_t>(4 * (n - setup.primary_words));
      difference.address = setup.secondary + difference.offset;
    }
    difference.actual = actual;
    difference.expected = patched[n];
    difference.patched = n < unpatched.size() && unpatched[n] != patched[n];
    diff.differences.push_back(difference);
  }
  return diff;
}

std::string diff_text(const RecordDiff& diff, std::size_t max) {
  std::string out;
  const std::size_t shown = std::min(max, diff.differences.size());
  if (shown > 0) {
    using Align = TextTable::Align;
    TextTable table({{"word", Align::right},
                     {"region"},
                     {"offset", Align::right},
                     {"address"},
                     {"actual"},
                     {"expected"},
                     {"patched"}});
    for (const WordDifference& d : std::span(diff.differences).first(shown)) {
      table.add_row({fmt::format("{}", d.index),
                     d.region == Region::primary ? "primary" : "secondary", hex_address(d.offset),
                     hex_address(d.address), hex_word(d.actual), hex_word(d.expected),
                     d.patched ? "yes" : "no"});
    }
    out += table.render();
  }
  if (const std::size_t hidden = diff.differences.size() - shown; hidden > 0) {
    out += fmt::format("... and {} more differing word{}\n", hidden, hidden == 1 ? "" : "s");
  }
  const std::uint64_t expected_bytes = std::uint64_t{diff.template_words} * 4;
  if (diff.record_bytes != expected_bytes) {
    out += fmt::format("device record length {} does not match expected length {}\n",
                       diff.record_bytes, expected_bytes);
  }
  out += fmt::format("templateRecordWords={} recordWords={} differingWords={} status={}\n",
                     diff.template_words, diff.record_bytes / 4, diff.differences.size(),
                     diff.matches() ? "match" : "differ");
  return out;
}

}  // namespace zem::toolkit

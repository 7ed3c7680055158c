#include "toolkit/tile/record_diff.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/output/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "zem_package/io.hpp"

namespace zem::toolkit {
namespace tr = template_record;

namespace {

std::string_view status_text(const RecordDiff& diff) { return diff.matches() ? "match" : "differ"; }

}  // namespace

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
    diff.differences.push_back(WordDifference{
        .index = n,
        .place = word_place(setup, n),
        .actual = actual,
        .expected = patched[n],
        .patched = n < unpatched.size() && unpatched[n] != patched[n],
    });
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
      table.add_row({fmt::format("{}", d.index), std::string(region_name(d.place.region)),
                     hex_address(d.place.offset), hex_address(d.place.address), hex_word(d.actual),
                     hex_word(d.expected), d.patched ? "yes" : "no"});
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
  if (const std::uint64_t tail = diff.record_bytes % 4; tail != 0) {
    out += fmt::format(
        "device record length {} is not a multiple of 4: its last {} byte{} not compared\n",
        diff.record_bytes, tail, tail == 1 ? " is" : "s are");
  }
  out += fmt::format("templateRecordWords={} recordWords={} differingWords={} status={}\n",
                     diff.template_words, diff.record_bytes / 4, diff.differences.size(),
                     status_text(diff));
  return out;
}

Json diff_json(const RecordDiff& diff, std::size_t max) {
  Json differences = Json::array();
  for (const WordDifference& d :
       std::span(diff.differences).first(std::min(max, diff.differences.size()))) {
    differences.push_back(Json{{"word", d.index},
                               {"region", region_name(d.place.region)},
                               {"offset", json_address(d.place.offset)},
                               {"address", json_address(d.place.address)},
                               {"actual", d.actual},
                               {"expected", d.expected},
                               {"patched", d.patched}});
  }
  return Json{{"templateRecordWords", diff.template_words},
              {"recordBytes", json_u64(diff.record_bytes)},
              {"recordWords", json_u64(diff.record_bytes / 4)},
              {"differingWords", diff.differences.size()},
              {"differences", std::move(differences)},
              {"status", status_text(diff)}};
}

}  // namespace zem::toolkit

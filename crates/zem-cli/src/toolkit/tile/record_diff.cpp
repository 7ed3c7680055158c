#include "toolkit/tile/record_diff.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <span>

#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"

namespace zem::toolkit {
namespace {

std::string patch_cell(const std::optional<WordPatch>& patch) {
  if (!patch) return "-";
  return fmt::format("{}.{}", patch->group, patch->patch.entry);
}

// "segment 0 (0x4c000..0x4d000), blob 0 d9c76fa34978 at offset 1028 (file
// offset 1460); bindings1[0] weights, slice 0".
std::string owner_text(const AddressOwner& owner, const PackageModel& model) {
  std::string text;
  if (const std::optional<SegmentOwner>& segment = owner.segment) {
    text = fmt::format("segment {} ({}..{})", segment->segment, hex_address(segment->start),
                       hex_address(segment->end));
    if (const std::optional<BlobByte>& data = segment->data) {
      text += fmt::format(", blob {}", data->blob);
      if (data->blob < model.blobs.size()) {
        text += fmt::format(" {}", short_digest(model.blobs[data->blob].digest));
      }
      text += fmt::format(" at offset {}", data->offset);
      if (data->file_offset) {
        text += fmt::format(" (file offset {})", hex_address(*data->file_offset));
      }
    } else {
      text += ", zero-filled";
    }
  } else {
    text = "no segment";
  }
  for (const SliceOwner& slice : owner.slices) {
    text += fmt::format("; {}[{}] {}, slice {}", field_name(slice.list), slice.binding,
                        cell_text(slice.name), slice.slice);
  }
  return text;
}

// "word 8 (0x00000009), word 9 (0x0000000a), and 3 more", at most `max`
// of them; "5 words, none listed" when `max` lists none.
std::string listed_words(std::span<const RecordWord> words, std::size_t max) {
  if (max == 0 || words.empty()) {
    return fmt::format("{} word{}, none listed", words.size(), words.size() == 1 ? "" : "s");
  }
  std::string text;
  for (const RecordWord& word : words.first(std::min(max, words.size()))) {
    if (!text.empty()) text += ", ";
    text += fmt::format("word {} ({})", word.index, hex_word(word.value));
  }
  if (words.size() > max) text += fmt::format(", and {} more", words.size() - max);
  return text;
}

std::string plural(std::size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

}  // namespace

std::string hint_text(const Hint& hint, std::size_t max) {
  struct Text {
    std::size_t max;
    std::string operator()(const hint::Short& h) const {
      std::string text = fmt::format("the record is {} short", plural(h.words, "word"));
      if (!h.missing.empty()) text += fmt::format("; missing: {}", listed_words(h.missing, max));
      return text;
    }
    // Only a little past the expected length is read: the words read are
    // listed, and the rest said to be unread.
    std::string operator()(const hint::Long& h) const {
      std::string text = fmt::format("the record is {}{} longer than expected",
                                     h.at_least ? "at least " : "", plural(h.words, "word"));
      if (h.extra.empty()) return text;
      if (h.extra.size() >= h.words && !h.at_least) {
        return text + fmt::format("; extra: {}", listed_words(h.extra, max));
      }
      text += fmt::format("; the first {} of them were read: {}", h.extra.size(),
                          listed_words(h.extra, max));
      if (h.at_least) return text + "; the rest were not read";
      return text + fmt::format("; the other {} were not read", h.words - h.extra.size());
    }
    std::string operator()(const hint::ByteSwapped&) const {
      return "every word is the expected one with its four bytes reversed";
    }
    std::string operator()(const hint::HalfSwapped&) const {
      return "every word is the expected one with its two 16-bit halves swapped";
    }
    std::string operator()(const hint::Shifted& h) const {
      const auto by = static_cast<std::size_t>(h.words < 0 ? -h.words : h.words);
      return fmt::format("the record is the expected one moved {} {}", plural(by, "word"),
                         h.words < 0 ? "earlier" : "later");
    }
    std::string operator()(const hint::Truncated& h) const {
      return fmt::format(
          "the record is the expected one up to word {}, and every word from there on is {}: a "
          "load that stopped part way",
          h.from, hex_word(h.fill));
    }
    std::string operator()(const hint::Unpatched&) const {
      return "the record holds the template words as gathered, before patching";
    }
    std::string operator()(const hint::AllZeros&) const { return "every word is 0"; }
    std::string operator()(const hint::AllOnes&) const { return "every word is 0xffffffff"; }
    std::string operator()(const hint::RecordOfTile& h) const {
      const std::string text = fmt::format("the record is the one tile {} expects", h.tile);
      switch (h.change) {
        case hint::RecordChange::none:
          break;
        case hint::RecordChange::one_bit:
          return text + fmt::format(", but for bit {} of word {}", h.bit, h.word);
        case hint::RecordChange::byte_swapped:
          return text + ", with the four bytes of every word reversed";
      }
      return text;
    }
    std::string operator()(const hint::StuckBit& h) const {
      return fmt::format(
          "every differing word ({}) differs in bit {} alone and holds {} there: a data line "
          "stuck at {}",
          h.words, h.bit, h.value, h.value);
    }
    std::string operator()(const hint::SingleBit& h) const {
      if (h.words.size() == 1) {
        return fmt::format("word {} differs in bit {} only", h.words.front(), h.bit);
      }
      if (max == 0) return fmt::format("{} words differ in bit {} only", h.words.size(), h.bit);
      std::string words;
      const std::size_t listed = std::min(max, h.words.size());
      for (std::size_t i = 0; i < listed; ++i) {
        words += fmt::format("{}{}",
                             i == 0                    ? ""
                             : i + 1 == h.words.size() ? " and "
                                                       : ", ",
                             h.words[i]);
      }
      if (listed < h.words.size()) words += fmt::format(" and {} more", h.words.size() - listed);
      return fmt::format("words {} differ in bit {} only", words, h.bit);
    }
  };
  return fmt::format("{}: {}", hint_kind(hint), std::visit(Text{max}, hint));
}

std::string record_diff_text(const RecordDiff& diff, const PackageModel& model, std::size_t max,
                             std::string_view indent) {
  std::string out;
  // Words that the hints explain exactly are counted, not listed.
  const std::span<const ExplainedWord> shown =
      diff.explained ? std::span<const ExplainedWord>()
                     : std::span(diff.differences).first(std::min(max, diff.differences.size()));
  if (!shown.empty()) {
    using Align = TextTable::Align;
    TextTable table({{"word", Align::right},
                     {"region"},
                     {"offset", Align::right},
                     {"address"},
                     {"actual"},
                     {"expected"},
                     {"xor"},
                     {"unpatched"},
                     {"patch"}});
    for (const ExplainedWord& w : shown) {
      table.add_row({fmt::format("{}", w.index), std::string(region_name(w.place.region)),
                     fmt::format("{}", w.place.offset), hex_address(w.place.address),
                     hex_word(w.actual), hex_word(w.expected), hex_word(w.difference()),
                     hex_word(w.unpatched), patch_cell(w.patch)});
    }
    out += table.render(indent);
    for (const ExplainedWord& w : shown) {
      out += fmt::format("{}word {}: {}\n", indent, w.index, owner_text(w.owner, model));
    }
  }
  if (diff.explained && diff.differing_words > 0) {
    out += fmt::format("{}{}, each explained by the {} below\n", indent,
                       plural(diff.differing_words, "differing word"),
                       diff.hints.size() == 1 ? "hint" : "hints");
  } else if (const std::size_t hidden = diff.differing_words - shown.size(); hidden > 0) {
    out += fmt::format("{}... and {} more differing {}\n", indent, hidden,
                       hidden == 1 ? "word" : "words");
  }
  const std::uint64_t expected_bytes = std::uint64_t{diff.expected_words} * 4;
  if (diff.record_bytes_at_least) {
    out += fmt::format("{}device record holds more than {} bytes, expected length {}\n", indent,
                       diff.record_bytes, expected_bytes);
  } else if (diff.record_bytes != expected_bytes) {
    out += fmt::format("{}device record length {} does not match expected length {}\n", indent,
                       diff.record_bytes, expected_bytes);
  }
  if (const std::uint64_t tail = diff.record_bytes % 4; tail != 0 && !diff.record_bytes_at_least) {
    out += fmt::format(
        "{}device record length {} is not a multiple of 4: its last {} not compared\n", indent,
        diff.record_bytes, tail == 1 ? "1 byte is" : fmt::format("{} bytes are", tail));
  }
  for (const Hint& hint : diff.hints) {
    out += fmt::format("{}hint: {}\n", indent, hint_text(hint, max));
  }
  return out;
}

std::string differ_text(const RecordDiff& diff) {
  if (diff.differing_words > 0) {
    return fmt::format("{} of {} words differ", diff.differing_words, diff.expected_words);
  }
  const std::uint64_t compared =
      std::min<std::uint64_t>(diff.expected_words, diff.record_bytes / 4);
  return fmt::format("the record is {}{} bytes, {} expected; the {} compared match",
                     diff.record_bytes_at_least ? "more than " : "", diff.record_bytes,
                     std::uint64_t{diff.expected_words} * 4,
                     compared == 1 ? std::string("1 word") : fmt::format("{} words", compared));
}

std::string record_diff_summary(const RecordDiff& diff) {
  return fmt::format("templateRecordWords={} recordWords={} differingWords={} status={}",
                     diff.expected_words, diff.record_bytes / 4, diff.differing_words,
                     diff.matches() ? "match" : "differ");
}

}  // namespace zem::toolkit

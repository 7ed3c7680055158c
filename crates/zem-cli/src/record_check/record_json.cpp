#include "record_check/record_json.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <span>

namespace zem::record_check {
namespace {

Json address(std::uint64_t value) { return fmt::format("0x{:x}", value); }
// A 64-bit quantity of the model, as a decimal string: JSON readers that
// hold numbers as doubles lose precision past 2^53.
Json decimal(std::uint64_t value) { return fmt::format("{}", value); }

// 1, 2 or 3: which of the binding lists, as every document numbers them.
int binding_list_number(PackageField list) {
  return list == PackageField::bindings1 ? 1 : list == PackageField::bindings2 ? 2 : 3;
}

std::string short_digest(const Digest& digest) {
  std::string text;
  for (const std::uint8_t byte : std::span(digest).first(6)) text += fmt::format("{:02x}", byte);
  return text;
}

std::string_view status_of(const RecordDiff& diff) { return diff.matches() ? "match" : "differ"; }

template <class Words>
Json listed_words(const Words& words, std::size_t max, const char* value_key) {
  Json list = Json::array();
  for (const RecordWord& word : std::span(words).first(std::min(max, words.size()))) {
    list.push_back(Json{{"word", word.index}, {value_key, json_word(word.value)}});
  }
  return list;
}

Json differences_json(const RecordDiff& diff, const PackageModel& model, std::size_t max) {
  Json list = Json::array();
  for (const ExplainedWord& word :
       std::span(diff.differences).first(std::min(max, diff.differences.size()))) {
    list.push_back(explained_word_json(word, model));
  }
  return list;
}

Json hints_json(const RecordDiff& diff, std::size_t max) {
  Json list = Json::array();
  for (const Hint& hint : diff.hints) list.push_back(hint_json(hint, max));
  return list;
}

}  // namespace

Json json_word(std::uint32_t word) { return fmt::format("0x{:08x}", word); }

Json explained_word_json(const ExplainedWord& word, const PackageModel& model) {
  Json patch = nullptr;
  if (word.patch) {
    patch = Json{{"group", word.patch->group},
                 {"entry", word.patch->patch.entry},
                 {"delta", json_word(word.patch->patch.delta)}};
  }
  Json segment = nullptr;
  Json blob = nullptr;
  if (const std::optional<SegmentOwner>& owner = word.owner.segment) {
    segment = Json{
        {"index", owner->segment}, {"start", address(owner->start)}, {"end", address(owner->end)}};
    if (const std::optional<BlobByte>& data = owner->data) {
      blob = Json{{"index", data->blob},
                  {"digest", data->blob < model.blobs.size()
                                 ? Json(short_digest(model.blobs[data->blob].digest))
                                 : Json()},
                  {"offset", decimal(data->offset)},
                  {"fileOffset", data->file_offset ? decimal(*data->file_offset) : Json()}};
    }
  }
  Json bindings = Json::array();
  for (const SliceOwner& slice : word.owner.slices) {
    bindings.push_back(Json{{"name", slice.name},
                            {"list", binding_list_number(slice.list)},
                            {"binding", slice.binding},
                            {"slice", slice.slice}});
  }
  return Json{{"word", word.index},
              {"region", region_name(word.place.region)},
              {"regionOffset", word.place.offset},
              {"address", address(word.place.address)},
              {"actual", json_word(word.actual)},
              {"expected", json_word(word.expected)},
              {"xor", json_word(word.difference())},
              {"unpatched", json_word(word.unpatched)},
              {"patched", word.unpatched != word.expected},
              {"patch", std::move(patch)},
              {"segment", std::move(segment)},
              {"blob", std::move(blob)},
              {"bindings", std::move(bindings)}};
}

Json hint_json(const Hint& hint, std::size_t max) {
  Json json{{"kind", hint_kind(hint)}};
  struct Values {
    Json& json;
    std::size_t max;
    void operator()(const hint::Short& h) const {
      json["words"] = h.words;
      json["missing"] = listed_words(h.missing, max, "expected");
    }
    void operator()(const hint::Long& h) const {
      json["words"] = h.words;
      json["atLeast"] = h.at_least;
      json["extra"] = listed_words(h.extra, max, "actual");
    }
    void operator()(const hint::Shifted& h) const { json["words"] = h.words; }
    void operator()(const hint::RecordOfTile& h) const { json["tile"] = h.tile; }
    void operator()(const hint::SingleBit& h) const {
      json["word"] = h.word;
      json["bit"] = h.bit;
    }
    void operator()(const hint::ByteSwapped&) const {}
    void operator()(const hint::Unpatched&) const {}
    void operator()(const hint::AllZeros&) const {}
    void operator()(const hint::AllOnes&) const {}
  };
  std::visit(Values{json, max}, hint);
  return json;
}

Json record_diff_json(const RecordDiff& diff, const PackageModel& model, std::size_t max) {
  return Json{{"templateRecordWords", diff.expected_words},
              {"recordBytes", diff.record_bytes},
              {"recordWords", diff.record_bytes / 4},
              {"differingWords", diff.differing_words},
              {"differences", differences_json(diff, model, max)},
              {"hints", hints_json(diff, max)},
              {"status", status_of(diff)}};
}

Json tile_verdict_json(const TileVerdict& verdict, const PackageModel& model, std::size_t max) {
  const RecordDiff* diff = verdict.diff ? &*verdict.diff : nullptr;
  return Json{
      {"physicalTile", verdict.physical_tile},
      {"status", status_name(verdict.status)},
      {"reason", verdict.reason.empty() ? Json() : Json(verdict.reason)},
      {"words", diff != nullptr ? Json(diff->expected_words) : Json()},
      {"recordWords", diff != nullptr ? Json(diff->record_bytes / 4) : Json()},
      {"differingWords", diff != nullptr ? Json(diff->differing_words) : Json()},
      {"differences", diff != nullptr ? differences_json(*diff, model, max) : Json::array()},
      {"hints", diff != nullptr ? hints_json(*diff, max) : Json::array()},
  };
}

Json tiles_json(std::span<const std::uint32_t> tiles) {
  Json list = Json::array();
  for (const std::uint32_t tile : tiles) list.push_back(tile);
  return list;
}

Json verify_summary_json(std::span<const TileVerdict> verdicts, std::size_t without_setup) {
  Json summary{{"tiles", verdicts.size()}};
  for (const TileStatus status : {TileStatus::match, TileStatus::differ, TileStatus::missing,
                                  TileStatus::unreadable, TileStatus::failed}) {
    summary[std::string(status_name(status))] =
        std::ranges::count(verdicts, status, &TileVerdict::status);
  }
  summary["noTemplateSetup"] = without_setup;
  return summary;
}

Json device_json(const DeviceCheck& check, std::span<const TileVerdict> verdicts, Json records,
                 const PackageModel& model, std::size_t max) {
  Json tiles = Json::array();
  for (const TileVerdict& verdict : verdicts)
    tiles.push_back(tile_verdict_json(verdict, model, max));
  return Json{{"records", std::move(records)},
              {"tiles", std::move(tiles)},
              {"summary", verify_summary_json(verdicts, check.tiles_without_setup().size())}};
}

}  // namespace zem::record_check

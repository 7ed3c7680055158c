#include "toolkit/compare/comparison_report.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/package_input.hpp"

namespace zem::toolkit {
namespace {

// Changes are indented under their section, and parts under their change.
constexpr std::size_t indent_step = 2;
// The kind of a change, padded: the labels line up.
constexpr std::size_t kind_width = 9;

std::string_view kind_name(Change::Kind kind) {
  switch (kind) {
    case Change::Kind::added:
      return "added";
    case Change::Kind::removed:
      return "removed";
    case Change::Kind::changed:
      return "changed";
    case Change::Kind::reordered:
      return "reordered";
  }
  return "unknown";
}

// "1 changed, 1 added" or "equal".
std::string section_summary(const Section& section) {
  std::size_t counts[4] = {};
  for (const Change& change : section.changes) ++counts[static_cast<std::size_t>(change.kind)];
  std::vector<std::string> parts;
  for (const Change::Kind kind :
       {Change::Kind::changed, Change::Kind::added, Change::Kind::removed}) {
    if (const std::size_t n = counts[static_cast<std::size_t>(kind)]; n > 0) {
      parts.push_back(fmt::format("{} {}", n, kind_name(kind)));
    }
  }
  if (counts[static_cast<std::size_t>(Change::Kind::reordered)] > 0) parts.push_back("reordered");
  return parts.empty() ? "equal" : fmt::format("{}", fmt::join(parts, ", "));
}

std::string values_text(const Values& values) {
  std::vector<std::string> shown;
  for (const auto& [name, value] : values) shown.push_back(fmt::format("{} {}", name, value.text));
  return fmt::format("{}", fmt::join(shown, ", "));
}

std::string image_text(const ImageComparison& image) {
  if (image.error) return *image.error;
  if (!image.first_difference) return fmt::format("equal, {} bytes", image.first_size);
  return fmt::format("differs from {}: {} {}, {} -> {} bytes", hex_address(*image.first_difference),
                     image.differing_bytes,
                     image.differing_bytes == 1 ? "byte differs" : "bytes differ", image.first_size,
                     image.second_size);
}

void change_text(const Change& change, std::size_t depth, std::string& out) {
  const std::string indent(depth * indent_step, ' ');
  std::string details;
  switch (change.kind) {
    case Change::Kind::added:
    case Change::Kind::removed:
      details = values_text(change.held);
      break;
    case Change::Kind::changed: {
      std::vector<std::string> fields;
      for (const FieldChange& field : change.fields) {
        fields.push_back(
            fmt::format("{} {} -> {}", field.field, field.first.text, field.second.text));
      }
      details = fmt::format("{}", fmt::join(fields, ", "));
      break;
    }
    case Change::Kind::reordered:
      details = "in another order";
      break;
  }
  out += fmt::format("{}{:<{}} {}{}{}\n", indent, kind_name(change.kind), kind_width, change.label,
                     details.empty() ? "" : ": ", details);
  for (const Change& part : change.parts) change_text(part, depth + 1, out);
  if (change.image) {
    out += fmt::format("{}{:<{}} {}\n", std::string((depth + 1) * indent_step, ' '), "image",
                       kind_width, image_text(*change.image));
  }
}

Json values_json(const Values& values) {
  Json object = Json::object();
  for (const auto& [name, value] : values) object[name] = value.json;
  return object;
}

Json change_json(const Change& change) {
  Json object{{"change", kind_name(change.kind)}};
  for (const auto& [name, value] : change.identity) object[name] = value.json;
  switch (change.kind) {
    case Change::Kind::added:
    case Change::Kind::removed:
      object["values"] = values_json(change.held);
      break;
    case Change::Kind::changed: {
      Json fields = Json::object();
      for (const FieldChange& field : change.fields) {
        fields[field.field] = Json{{"first", field.first.json}, {"second", field.second.json}};
      }
      object["fields"] = std::move(fields);
      Json parts = Json::array();
      for (const Change& part : change.parts) parts.push_back(change_json(part));
      object["parts"] = std::move(parts);
      break;
    }
    case Change::Kind::reordered:
      break;
  }
  if (const auto& image = change.image) {
    // An image that could not be rebuilt has no size and compares as
    // nothing: its values are null, and the error says why.
    const bool compared = !image->error;
    object["image"] = Json{
        {"firstSize", compared ? Json(image->first_size) : Json()},
        {"secondSize", compared ? Json(image->second_size) : Json()},
        {"equal", compared ? Json(!image->first_difference) : Json()},
        {"firstDifference",
         image->first_difference ? json_address(*image->first_difference) : Json()},
        {"differingBytes", compared ? Json(image->differing_bytes) : Json()},
        {"error", compared ? Json() : Json(*image->error)},
    };
  }
  return object;
}

std::string_view note_kind(ComparisonNote::Kind kind) {
  switch (kind) {
    case ComparisonNote::Kind::not_valid:
      return "notValid";
    case ComparisonNote::Kind::storage:
      return "storage";
    case ComparisonNote::Kind::declared_size:
      return "declaredSize";
    case ComparisonNote::Kind::trailing_bytes:
      return "trailingBytes";
  }
  return "unknown";
}

std::size_t differing_sections(const Comparison& comparison) {
  std::size_t count = comparison.first_compiler == comparison.second_compiler ? 0U : 1U;
  for (const Section& section : comparison.sections) {
    if (!section.changes.empty()) ++count;
  }
  return count;
}

}  // namespace

std::string comparison_text(const Comparison& comparison, const std::string& first,
                            const std::string& second) {
  std::string out = fmt::format("first: {}\nsecond: {}\nheader: equal\n", package_name(first),
                                package_name(second));
  if (comparison.first_compiler == comparison.second_compiler) {
    out += fmt::format("compiler: equal ({})\n", cell_text(comparison.first_compiler));
  } else {
    out += fmt::format("compiler: {} -> {}\n", cell_text(comparison.first_compiler),
                       cell_text(comparison.second_compiler));
  }
  for (const Section& section : comparison.sections) {
    out += fmt::format("{}: {}\n", section.title, section_summary(section));
    for (const Change& change : section.changes) change_text(change, 1, out);
  }
  if (comparison.equal()) {
    out += fmt::format("build digest: equal ({})\n", hex_bytes(comparison.first_digest));
  } else {
    out += fmt::format("build digest: differs\n  first   {}\n  second  {}\n",
                       hex_bytes(comparison.first_digest), hex_bytes(comparison.second_digest));
  }
  for (const ComparisonNote& note : comparison.notes) {
    out += fmt::format("note: {}\n", note.message);
  }
  out += fmt::format("differingSections={} status={}\n", differing_sections(comparison),
                     comparison.equal() ? "equal" : "differ");
  return out;
}

Json comparison_json(const Comparison& comparison, const std::string& first,
                     const std::string& second) {
  Json document{
      {"format", compare_json_format},
      {"first", first},
      {"second", second},
      {"equal", comparison.equal()},
      {"header", Json{{"equal", true}}},
      {"compiler", Json{{"first", comparison.first_compiler},
                        {"second", comparison.second_compiler},
                        {"equal", comparison.first_compiler == comparison.second_compiler}}},
  };
  for (const Section& section : comparison.sections) {
    Json changes = Json::array();
    for (const Change& change : section.changes) changes.push_back(change_json(change));
    document[section.key] = std::move(changes);
  }
  document["buildDigest"] = Json{{"first", hex_bytes(comparison.first_digest)},
                                 {"second", hex_bytes(comparison.second_digest)},
                                 {"equal", comparison.equal()}};
  Json notes = Json::array();
  for (const ComparisonNote& note : comparison.notes) {
    notes.push_back(Json{{"kind", note_kind(note.kind)}, {"message", note.message}});
  }
  document["notes"] = std::move(notes);
  return document;
}

}  // namespace zem::toolkit

#include "toolkit/verify/junit_xml.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

#include "zem_package/utf8.hpp"

namespace zem::toolkit {
namespace {

constexpr std::string_view replacement = "\xef\xbf\xbd";  // U+FFFD

// XML 1.0's Char production.
bool xml_character(char32_t c) noexcept {
  return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) ||
         (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

void append_escaped(std::string& out, std::string_view valid) {
  while (!valid.empty()) {
    const std::string_view before = valid;
    const char32_t c = next_code_point(valid);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        if (xml_character(c)) {
          out += before.substr(0, before.size() - valid.size());
        } else {
          out += replacement;
        }
    }
  }
}

struct Counts {
  std::size_t tests = 0;
  std::size_t failures = 0;
  std::size_t skipped = 0;
};

Counts counts_of(const JunitSuite& suite) {
  Counts counts;
  counts.tests = suite.cases.size();
  for (const JunitCase& c : suite.cases) {
    if (c.outcome == JunitCase::Outcome::failure) ++counts.failures;
    if (c.outcome == JunitCase::Outcome::skipped) ++counts.skipped;
  }
  return counts;
}

}  // namespace

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const std::optional<Utf8Fault> fault = check_utf8(bytes);
    const std::size_t valid = fault ? fault->valid_up_to : text.size();
    append_escaped(out, text.substr(0, valid));
    if (!fault) break;
    out += replacement;
    text.remove_prefix(std::min(text.size(), valid + fault->error_len.value_or(text.size())));
  }
  return out;
}

std::string junit_xml(std::string_view name, std::span<const JunitSuite> suites) {
  Counts total;
  for (const JunitSuite& suite : suites) {
    const Counts counts = counts_of(suite);
    total.tests += counts.tests;
    total.failures += counts.failures;
    total.skipped += counts.skipped;
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += fmt::format(
      "<testsuites name=\"{}\" tests=\"{}\" failures=\"{}\" errors=\"0\" skipped=\"{}\">\n",
      xml_escape(name), total.tests, total.failures, total.skipped);
  for (const JunitSuite& suite : suites) {
    const Counts counts = counts_of(suite);
    const std::string suite_name = xml_escape(suite.name);
    out += fmt::format(
        "  <testsuite name=\"{}\" tests=\"{}\" failures=\"{}\" errors=\"0\" skipped=\"{}\">\n",
        suite_name, counts.tests, counts.failures, counts.skipped);
    for (const JunitCase& c : suite.cases) {
      out +=
          fmt::format("    <testcase name=\"{}\" classname=\"{}\"", xml_escape(c.name), suite_name);
      switch (c.outcome) {
        case JunitCase::Outcome::passed:
          out += "/>\n";
          break;
        case JunitCase::Outcome::failure:
          out += fmt::format(">\n      <failure message=\"{}\">{}</failure>\n    </testcase>\n",
                             xml_escape(c.message), xml_escape(c.text));
          break;
        case JunitCase::Outcome::skipped:
          out += fmt::format(">\n      <skipped message=\"{}\"/>\n    </testcase>\n",
                             xml_escape(c.message));
          break;
      }
    }
    out += "  </testsuite>\n";
  }
  return out + "</testsuites>\n";
}

}  // namespace zem::toolkit

#pragma once

// JUnit XML, the report CI systems read: a test suite per device, a test
// case per tile. The suites are values that `verify` and `report` build
// from what they found; this writes them, every text escaped.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zem::toolkit {

struct JunitCase {
  enum class Outcome : std::uint8_t { passed, failure, skipped };
  std::string name;  // "tile 7"
  Outcome outcome = Outcome::passed;
  std::string message;  // for a failure or a skip: one line, "differ: 3 of 10 words differ"
  std::string text;     // for a failure: the lines that explain it
};

struct JunitSuite {
  std::string name;  // the device
  std::vector<JunitCase> cases;
};

// `text` as XML 1.0 character data or an attribute value: &, <, >, " and '
// as entities, line feeds, carriage returns and tabs as character
// references (so that attributes keep them), and every byte that is not
// UTF-8 and every character XML 1.0 does not allow (most control
// characters, U+FFFE, U+FFFF) as U+FFFD.
[[nodiscard]] std::string xml_escape(std::string_view text);

// The document: <testsuites name="`name`"> with a <testsuite> per suite,
// each with its counts, and a <testcase> per case with its <failure> or
// <skipped>.
[[nodiscard]] std::string junit_xml(std::string_view name, std::span<const JunitSuite> suites);

}  // namespace zem::toolkit

#include "zem_package/format.hpp"
#include "zem_package/package_error.hpp"

#include <gtest/gtest.h>

#include "errors/invalid_message.hpp"

namespace zem {
namespace {

struct TextFormCase {
  const char* name;
  PackageError error;
  std::string text;
};

TEST(PackageErrorTest, TextFormNamesTheVariantAndItsPayload) {
  const TextFormCase cases[] = {
      {"invalid", PackageError::invalid("blob digest mismatch"),
       R"(Invalid("blob digest mismatch"))"},
      {"schema enum", PackageError::schema_enum(7), "SchemaEnum(NotInSchema(7))"},
      {"schema enum max", PackageError::schema_enum(65535), "SchemaEnum(NotInSchema(65535))"},
      {"utf8 bad sequence", PackageError::utf8(1, 1),
       "Utf8(invalid utf-8 sequence of 1 bytes from index 1)"},
      {"utf8 unfinished", PackageError::utf8(4, std::nullopt),
       "Utf8(incomplete utf-8 byte sequence from index 4)"},
      {"capnp", PackageError::capnp("failed", "Message ends prematurely."),
       "Capnp(failed: Message ends prematurely.)"},
      {"io", PackageError::io("Other", "Destination buffer is too small"),
       "Io(Other: Destination buffer is too small)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.to_string(), c.text) << c.name;
    EXPECT_EQ(fmt::format("{}", c.error), c.text) << c.name;
    // The kind's name is the text form's start.
    EXPECT_TRUE(c.text.starts_with(std::string(c.error.kind_name()) + "(")) << c.name;
  }
}

TEST(PackageErrorTest, InvalidMessageIsQuotedAndEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"empty or duplicate binding a\"b", R"("empty or duplicate binding a\"b")"},
      {"back\\slash", R"("back\\slash")"},
      {"tab\tcr\rlf\n", R"("tab\tcr\rlf\n")"},
      {std::string("nul\0end", 7), R"("nul\0end")"},
      {"single ' quote", R"("single ' quote")"},
      {"escape \x1b and del \x7f", R"("escape \u{1b} and del \u{7f}")"},
      {"zero\u200bwidth", R"("zero\u{200b}width")"},
      {"bidi \u202e override", R"("bidi \u{202e} override")"},
      {"caf\u00e9 \u4e2d \U0001f600", "\"caf\u00e9 \u4e2d \U0001f600\""},
      {"no\u00a0break and ideographic\u3000space",
       R"("no\u{a0}break and ideographic\u{3000}space")"},
      // Bytes that are not UTF-8 (paths and arguments need not be) show as
      // bytes, and decoding resumes right after the bad sequence.
      {"a\xff"
       "b",
       R"("a\xffb")"},
      {"\xe2\x28\xa1", R"("\xe2(\xa1")"},
      {"ends inside \xf0\x9f\x98", R"("ends inside \xf0\x9f\x98")"},
      {"\xc3\n\xc3\xa9", "\"\\xc3\\n\u00e9\""},
      {"", R"("")"},
  };
  for (const auto& [message, quoted] : cases) {
    EXPECT_EQ(quote_escaped(message), quoted);
    EXPECT_EQ(PackageError::invalid(message).to_string(), "Invalid(" + quoted + ")");
  }
}

TEST(PackageErrorTest, InvalidMessageIsOnlyGivenForInvalid) {
  const PackageError invalid = PackageError::invalid("application has no tiles");
  ASSERT_NE(invalid_message(invalid), nullptr);
  EXPECT_EQ(*invalid_message(invalid), "application has no tiles");
  EXPECT_EQ(invalid_message(PackageError::schema_enum(2)), nullptr);
}

}  // namespace
}  // namespace zem

// Whatever a package file claims, the reader's work and memory stay in
// proportion to the file.

#include <capnp/any.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "zem_package/application.hpp"

namespace zem {
namespace {

using testing::read_result;

using testing::RawPackage;

std::vector<std::uint8_t> example_package() {
  return testing::build_package(testing::example_application(), testing::example_options());
}

// The example whose root pointer `pointer` is replaced by a list of `count`
// zero-sized structs: one tag word, however many elements it declares.
std::vector<std::uint8_t> with_empty_struct_list(std::size_t pointer, std::uint64_t count) {
  RawPackage raw(example_package());
  const std::size_t at = raw.root_pointer(pointer);
  const std::size_t tag = raw.append(count << 2);  // struct of no data and no pointers
  raw.set(at, RawPackage::list_pointer(at, tag, 7, 0));
  return raw.bytes();
}

TEST(ResourceBoundsTest, AmplifiedListsAreRefused) {
  constexpr std::uint64_t most_elements = (std::uint64_t{1} << 29) - 1;
  // Entry points (ptr 8), tiles (ptr 3), bindings (ptr 4), device writes (ptr 10).
  for (const std::size_t pointer : {8U, 3U, 4U, 10U}) {
    const std::string result = read_result(with_empty_struct_list(pointer, most_elements));
    EXPECT_EQ(result.rfind("Capnp(failed: ", 0), 0U) << pointer << ": " << result;
  }
}

TEST(ResourceBoundsTest, ModestListsOfEmptyStructsAreRead) {
  // A thousand entry points of default fields are within the budget: the
  // read gets as far as comparing the build digest, which no longer matches.
  EXPECT_EQ(read_result(with_empty_struct_list(8, 1000)), R"(Invalid("build digest mismatch"))");
}

// Where the pointer at word `at` points.
std::size_t pointer_target(const RawPackage& raw, std::size_t at) {
  const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw.get(at)) & ~3U) >> 2;
  return static_cast<std::size_t>(static_cast<std::int64_t>(at) + 1 + offset);
}

// The word of the label pointer of binding `k` in the list at root pointer
// `list`.
std::size_t label_pointer(const RawPackage& raw, std::size_t list, std::size_t k) {
  const std::size_t tag = pointer_target(raw, raw.root_pointer(list));
  const std::size_t data_words = (raw.get(tag) >> 32) & 0xffff;
  const std::size_t pointer_words = (raw.get(tag) >> 48) & 0xffff;
  return tag + 1 + k * (data_words + pointer_words) + data_words + 1;
}

TEST(ResourceBoundsTest, AliasedObjectsCountEveryTimeTheyAreRead) {
  // Many labels that all point at one large text would copy it once per
  // label; past the budget the package is refused.
  testing::RawPackage raw([] {
    Application model = testing::example_application();
    model.bindings_1[0].label = std::string(64 * 1024, 'x');
    for (int i = 0; i < 200; ++i) {
      model.bindings_3.push_back(Binding{"alias" + std::to_string(i), "", {}, {}});
    }
    return testing::build_package(model, testing::example_options());
  }());
  // Aim the label pointer of every binding in the third list at the long
  // label's text.
  const std::size_t long_label = label_pointer(raw, 4, 0);
  const std::size_t text_at = pointer_target(raw, long_label);
  for (std::size_t k = 0; k < 200; ++k) {
    const std::size_t at = label_pointer(raw, 6, k);
    raw.set(at, RawPackage::list_pointer(at, text_at, 2, 64 * 1024 + 1));
  }
  const std::string result = read_result(raw.bytes());
  EXPECT_EQ(result.rfind("Capnp(failed: ", 0), 0U) << result;
  EXPECT_NE(result.find("traversal limit"), std::string::npos) << result;
}

// A package whose third binding list holds `aliases` bindings whose labels
// all point at the one text of `text_words` words (its NUL included) that
// the first binding's label holds, and the model it reads as. Its stored
// build digest is that model's, so it is valid unless the read is refused.
struct AliasedPackage {
  std::vector<std::uint8_t> bytes;
  Application model;
};

AliasedPackage aliased_labels(std::size_t aliases, std::size_t text_words) {
  Application model = testing::example_application();
  model.bindings_1[0].label = std::string(8 * text_words - 1, 'x');
  Application written = model;
  for (std::size_t i = 0; i < aliases; ++i) {
    const std::string name = "alias" + std::to_string(i);
    written.bindings_3.push_back(Binding{name, "", {}, {}});
    model.bindings_3.push_back(Binding{name, model.bindings_1[0].label, {}, {}});
  }
  testing::PackageOptions options = testing::example_options();
  const Digest digest = model.build_digest();
  options.tweak = [&](schema::Application::Builder root) {
    root.setBuildDigest({digest.data(), digest.size()});
  };
  RawPackage raw(testing::build_package(written, options));
  const std::size_t text_at = pointer_target(raw, label_pointer(raw, 4, 0));
  for (std::size_t k = 0; k < aliases; ++k) {
    const std::size_t at = label_pointer(raw, 6, k);
    raw.set(at, RawPackage::list_pointer(at, text_at, 2, 8 * text_words));
  }
  testing::index_blobs(model);
  return {raw.bytes(), std::move(model)};
}

// Words that reading the whole of `package` traverses, as Cap'n Proto counts
// them, less the reader's budget for it: eight words per word of the file,
// and 4096 more.
std::int64_t over_budget(std::span<const std::uint8_t> package) {
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(package.size() / sizeof(capnp::word));
  std::memcpy(words.begin(), package.data(), package.size());
  capnp::FlatArrayMessageReader message(words);
  const std::uint64_t traversed = message.getRoot<capnp::AnyStruct>().totalSize().wordCount;
  const std::uint64_t budget = 8 * words.size() + 4096;
  return static_cast<std::int64_t>(traversed) - static_cast<std::int64_t>(budget);
}

TEST(ResourceBoundsTest, TraversalBudgetHoldsAtItsEdge) {
  // With eight aliases, each word more of the shared text costs a read nine
  // words and adds eight to the budget (the file holds the text once), so the
  // traversal can be put any number of words past the budget or short of it:
  // here 16 words of some 50,000. From a text of 1024 words on, the builder
  // lays the message out afresh and the relation is exact.
  constexpr std::size_t aliases = 8;
  constexpr std::int64_t base_words = 1024;
  const std::int64_t at_base = over_budget(aliased_labels(aliases, base_words).bytes);
  for (const std::int64_t margin : {-16, 16}) {
    const AliasedPackage package =
        aliased_labels(aliases, static_cast<std::size_t>(base_words + margin - at_base));
    ASSERT_EQ(over_budget(package.bytes), margin);
    const auto read = Application::read(testing::memory_file(package.bytes));
    if (margin > 0) {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error().to_string(),
                "Capnp(failed: Exceeded message traversal limit.  See capnp::ReaderOptions.)");
    } else {
      ASSERT_TRUE(read.has_value()) << read.error().to_string();
      EXPECT_EQ(*read, package.model);
    }
  }
}

}  // namespace
}  // namespace zem

// Whatever a package file claims, the reader's work and memory stay in
// proportion to the file.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zem

// Element paths: their one text form, and the questions tools ask of them.

#include "zem_package/element_path.hpp"

#include <gtest/gtest.h>

namespace zem {
namespace {

using F = PackageField;

TEST(ElementPathTest, TextForms) {
  const struct {
    ElementPath path;
    const char* text;
  } cases[] = {
      {{}, ""},
      {{{F::build_digest}}, "buildDigest"},
      {{{F::tiles, 3}, {F::segments, 1}}, "tiles[3].segments[1]"},
      {{{F::bindings2, 5}, {F::label}}, "bindings2[5].label"},
      {{{F::host_exchange}, {F::calls, 2}, {F::page_refs1, 0}},
       "hostExchange.calls[2].pageRefs1[0]"},
      {ElementPath{{F::blobs, 17}}.then(F::uncompressed_size), "blobs[17].uncompressedSize"},
      // Four steps are kept, however a path is made; more are dropped.
      {{{F::host_exchange}, {F::calls, 2}, {F::page_refs1, 0}, {F::data}, {F::digest}},
       "hostExchange.calls[2].pageRefs1[0].data"},
      {ElementPath{{F::host_exchange}, {F::calls, 2}, {F::page_refs1, 0}}.then(F::data).then(
           F::digest),
       "hostExchange.calls[2].pageRefs1[0].data"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.path.to_string(), c.text);
}

TEST(ElementPathTest, WithinAndIndexIn) {
  const ElementPath segment{{F::tiles, 3}, {F::segments, 1}};
  const struct {
    ElementPath ancestor;
    bool within;
  } cases[] = {
      {{}, true},
      {{{F::tiles}}, true},
      {{{F::tiles, 3}}, true},
      {{{F::tiles, 3}, {F::segments}}, true},
      {segment, true},
      {{{F::tiles, 30}}, false},
      {{{F::tiles, 3}, {F::segments, 2}}, false},
      {{{F::blobs}}, false},
      {{{F::tiles, 3}, {F::segments, 1}, {F::data}}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(segment.within(c.ancestor), c.within) << c.ancestor.to_string();
  }
  EXPECT_EQ(segment.index_in(F::tiles), 3U);
  EXPECT_EQ(segment.index_in(F::blobs), std::nullopt);
  EXPECT_EQ(ElementPath{{F::tiles}}.index_in(F::tiles), std::nullopt);
}

}  // namespace
}  // namespace zem

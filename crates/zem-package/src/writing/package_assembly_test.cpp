// The bounds of one message, driven to their ends: a message of exactly
// the most words one message holds is written, and one word more is
// refused, without 4 GiB of memory; a text of the most bytes one text holds
// is counted, and one byte more is refused.

#include "writing/package_assembly.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "message/mapped_region.hpp"
#include "model/model_structure.hpp"
#include "package_builder.hpp"
#include "writing/message_layout.hpp"

namespace zem {
namespace {

// A sink that keeps only where the bytes written to it end.
class ExtentSink final : public OutputSink {
 public:
  WriteResult<void> write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
    end = std::max(end, offset + bytes.size());
    return {};
  }
  std::uint64_t end = 0;
};

TEST(PackageAssemblyTest, AMessageOfTheMostWordsIsWrittenAndNoLarger) {
  const Application example = zem::testing::example_application();
  BlobWorkshop workshop;
  std::vector<PreparedBlob> blobs;
  for (std::size_t i = 0; i < example.blobs.size(); ++i) {
    auto prepared =
        prepare_blob(i, example.blobs[i].data.bytes(), StorePlain{}, workshop, std::nullopt);
    ASSERT_TRUE(prepared) << prepared.error().to_string();
    blobs.push_back(std::move(*prepared));
  }
  // Plain fillers after the example's blobs share the words left, each
  // within what one blob holds. Their bytes are pages reserved and never
  // touched: the sink only measures them.
  constexpr std::size_t fillers = 9;
  constexpr std::uint64_t filler_words = max_list_elements / 8;
  const std::optional<MappedRegion> filler = MappedRegion::map(8 * filler_words);
  ASSERT_TRUE(filler);

  PackageModel structure;
  structure.compiler = example.compiler;
  copy_structure(example, structure);
  structure.blobs.resize(blobs.size() + fillers);
  const auto structure_words_taken = structure_words(structure);
  ASSERT_TRUE(structure_words_taken);
  structure.blobs.clear();
  std::uint64_t words_left = max_message_words - root_pointer_words - *structure_words_taken;
  for (const PreparedBlob& blob : blobs) words_left -= words_for_bytes(blob.payload.size());

  // One word more than fits, and the blobs alone taking every word: the
  // whole message is refused, by the size it would have.
  for (const std::uint64_t extra : {std::uint64_t{0}, std::uint64_t{1}, *structure_words_taken}) {
    ExtentSink sink;
    PackageAssembler assembler(sink);
    for (const PreparedBlob& blob : blobs) ASSERT_TRUE(assembler.add_blob(blob));
    std::uint64_t left = words_left + extra;
    for (std::size_t k = 0; k < fillers; ++k) {
      const std::uint64_t words = k + 1 < fillers ? words_left / fillers : left;
      ASSERT_LE(words, filler_words);
      PreparedBlob blob;
      blob.digest.fill(static_cast<std::uint8_t>(0xa0 + k));
      blob.size = 8 * words;
      blob.payload = std::span<const std::uint8_t>(filler->data(), 8 * words);
      ASSERT_TRUE(assembler.add_blob(blob)) << "filler " << k;
      left -= words;
    }
    const auto written = assembler.finish(structure);
    const std::uint64_t largest = framing_bytes + 8 * max_message_words;
    if (extra == 0) {
      ASSERT_TRUE(written) << written.error().to_string();
      EXPECT_EQ(written->size, largest);
      EXPECT_EQ(sink.end, largest);
    } else {
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().to_string(),
                "the package would take " + std::to_string(largest + 8 * extra) +
                    " bytes, more than one message holds (" + std::to_string(largest) + ")");
    }
  }
}

TEST(PackageAssemblyTest, ATextOfTheMostBytesIsCountedAndNoLonger) {
  PackageModel model;
  model.compiler.reserve(max_list_elements);
  model.compiler.assign(max_list_elements - 1, 'c');  // and its NUL
  const auto counted = structure_words(model);
  ASSERT_TRUE(counted) << counted.error().to_string();
  EXPECT_GT(*counted, max_list_elements / 8);
  model.compiler += 'c';
  const auto refused = structure_words(model);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().to_string(),
            "compiler: a text of 536870911 bytes is longer than one text holds (536870910)");
}

}  // namespace
}  // namespace zem

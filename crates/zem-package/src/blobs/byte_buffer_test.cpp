#include "zem_package/byte_buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "blobs/blob_memory.hpp"
#include "message/mapped_region.hpp"

namespace zem {
namespace {

const std::vector<std::uint8_t> some_bytes = {1, 2, 3, 4, 5, 6, 7, 8};

// A buffer holds its bytes through every operation it offers, whichever
// kind of storage it has: copies are deep, a moved-from buffer is empty,
// and assigning a buffer to itself changes nothing.
TEST(ByteBufferTest, KeepsItsBytesThroughEveryOperation) {
  auto region = std::make_shared<std::vector<std::uint8_t>>(some_bytes);
  const auto heap = [] { return ByteBuffer::copy_of(some_bytes); };
  const auto shared = [&] {
    return ByteBuffer::in_region(region->data(), region->size(),
                                 std::shared_ptr<const void>(region));
  };
  for (const auto& make :
       {std::function<ByteBuffer()>(heap), std::function<ByteBuffer()>(shared)}) {
    ByteBuffer buffer = make();
    ByteBuffer copy(buffer);
    EXPECT_NE(copy.data(), buffer.data());
    EXPECT_EQ(copy, buffer);

    auto& alias = buffer;
    buffer = alias;             // copy-assigned to itself
    buffer = std::move(alias);  // and moved to itself
    EXPECT_TRUE(std::ranges::equal(buffer.bytes(), some_bytes));

    ByteBuffer taken;
    taken = std::move(buffer);
    EXPECT_TRUE(std::ranges::equal(taken.bytes(), some_bytes));
    EXPECT_TRUE(buffer.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(buffer.data(), nullptr);

    taken.truncate(3);
    EXPECT_TRUE(std::ranges::equal(taken.bytes(), std::span(some_bytes).first(3)));
    taken.truncate(0);
    EXPECT_TRUE(taken.empty());
  }
  EXPECT_EQ(region.use_count(), 1);  // every buffer of the region is gone
}

// Whether the page at `data` is mapped in this process.
bool is_mapped(std::uint8_t* data) { return ::msync(data, 1, MS_ASYNC) == 0 || errno != ENOMEM; }

// A region is unmapped exactly once, by whoever owns it last.
TEST(MappedRegionTest, UnmapsWhatItOwnsOnceThroughEveryOperation) {
  std::optional<MappedRegion> first = MappedRegion::map(1);
  std::optional<MappedRegion> second = MappedRegion::map(1);
  ASSERT_TRUE(first && second);
  std::uint8_t* const first_data = first->data();
  std::uint8_t* const second_data = second->data();
  ASSERT_TRUE(is_mapped(first_data) && is_mapped(second_data));

  *second = std::move(*first);  // unmaps what `second` held
  EXPECT_FALSE(is_mapped(second_data));
  EXPECT_EQ(second->data(), first_data);
  EXPECT_EQ(first->data(), nullptr);  // NOLINT(bugprone-use-after-move)

  auto& alias = *second;
  *second = std::move(alias);  // to itself: kept
  EXPECT_TRUE(is_mapped(first_data));

  second.reset();
  EXPECT_FALSE(is_mapped(first_data));
}

// A region is whole pages of zeros, none for a size of 0; a size that cannot
// be rounded up to whole pages is refused.
TEST(MappedRegionTest, SizesAreWholePagesOrRefused) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const struct {
    std::size_t requested;
    std::size_t mapped;  // 0: nothing is mapped
  } cases[] = {{0, 0}, {1, page}, {page, page}, {page + 1, 2 * page}};
  for (const auto& c : cases) {
    const auto region = MappedRegion::map(c.requested);
    ASSERT_TRUE(region.has_value()) << c.requested;
    EXPECT_EQ(region->size(), c.mapped) << c.requested;
    EXPECT_EQ(region->data() == nullptr, c.mapped == 0) << c.requested;
    for (std::size_t i = 0; i < c.mapped; i += 512) EXPECT_EQ(region->data()[i], 0) << i;
  }
  EXPECT_FALSE(MappedRegion::map(SIZE_MAX).has_value());
}

#ifndef ZEM_BLOB_MEMORY_SEPARATE
// Past the first MiB, buffers are carved from one region one after the
// other: the last one shrunk gives its unused end to the next, at the heap's
// alignment; one shrunk that is no longer the last gives nothing back.
TEST(BlobMemoryTest, AShrunkLastBufferGivesItsEndToTheNext) {
  const struct {
    std::size_t shrunk_to;
    std::size_t next_at;  // the next buffer's offset from the shrunk one's
  } cases[] = {{0, 0}, {1, 16}, {16, 16}, {17, 32}, {4096, 4096}};
  for (const auto& c : cases) {
    BlobMemory memory;
    ASSERT_TRUE(memory.take(mapped_buffer_threshold));
    std::optional<ByteBuffer> shrunk = memory.take(4096);
    ASSERT_TRUE(shrunk);
    memory.shrink_last(*shrunk, c.shrunk_to);
    EXPECT_EQ(shrunk->size(), c.shrunk_to);
    std::optional<ByteBuffer> next = memory.take(64);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->data() - shrunk->data(), static_cast<std::ptrdiff_t>(c.next_at)) << c.shrunk_to;
    memory.shrink_last(*shrunk, 0);
    EXPECT_EQ(memory.take(1)->data() - next->data(), 64) << c.shrunk_to;
  }
}
#endif

}  // namespace
}  // namespace zem

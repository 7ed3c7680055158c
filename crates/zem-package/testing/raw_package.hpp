#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

namespace zem::testing {

// The bytes of a single-segment package, edited at the level of its 64-bit
// words to make encodings that no builder writes.
class RawPackage {
 public:
  explicit RawPackage(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {
    if (bytes_.size() < header_bytes || bytes_[0] != 0 || bytes_[1] != 0 || bytes_[2] != 0 ||
        bytes_[3] != 0) {
      throw std::invalid_argument("not a single-segment package");
    }
  }

  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // Word `index` of the segment.
  [[nodiscard]] std::uint64_t get(std::size_t index) const {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes_.data() + header_bytes + 8 * index, 8);
    return value;
  }
  void set(std::size_t index, std::uint64_t value) {
    std::memcpy(bytes_.data() + header_bytes + 8 * index, &value, 8);
  }

  // Segment word index of the root struct's pointer number `index`.
  [[nodiscard]] std::size_t root_pointer(std::size_t index) const {
    const std::uint64_t root = get(0);
    const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(root) & ~3U) >> 2;
    const std::size_t data_words = (root >> 32) & 0xffff;
    return static_cast<std::size_t>(1 + offset) + data_words + index;
  }

  // Appends a word to the segment and returns its index.
  std::size_t append(std::uint64_t value) {
    std::uint32_t words = 0;
    std::memcpy(&words, bytes_.data() + 4, 4);
    const std::size_t index = words;
    bytes_.resize(header_bytes + 8 * (index + 1));
    set(index, value);
    ++words;
    std::memcpy(bytes_.data() + 4, &words, 4);
    return index;
  }

  // The message of this segment followed by the segments `later`, in order.
  [[nodiscard]] std::vector<std::uint8_t> with_later_segments(
      std::span<const std::vector<std::uint64_t>> later) const {
    std::vector<std::uint32_t> table{static_cast<std::uint32_t>(later.size())};
    table.push_back(static_cast<std::uint32_t>((bytes_.size() - header_bytes) / 8));
    for (const std::vector<std::uint64_t>& segment : later) {
      table.push_back(static_cast<std::uint32_t>(segment.size()));
    }
    if (table.size() % 2 == 1) table.push_back(0);  // the table fills whole words
    std::vector<std::uint8_t> message(4 * table.size());
    std::memcpy(message.data(), table.data(), message.size());
    message.insert(message.end(), bytes_.begin() + header_bytes, bytes_.end());
    for (const std::vector<std::uint64_t>& segment : later) {
      if (segment.empty()) continue;  // an empty segment adds no bytes (and has no data)
      const std::size_t at = message.size();
      message.resize(at + 8 * segment.size());
      std::memcpy(message.data() + at, segment.data(), 8 * segment.size());
    }
    return message;
  }

  // A single-far pointer to the landing pad at word `pad` of segment `segment`.
  [[nodiscard]] static std::uint64_t far_pointer(std::uint32_t segment, std::size_t pad) {
    return 2 | std::uint64_t{pad} << 3 | std::uint64_t{segment} << 32;
  }

  // A list pointer at word `at` to the list starting at word `target`.
  [[nodiscard]] static std::uint64_t list_pointer(std::size_t at, std::size_t target,
                                                  unsigned element_size, std::uint64_t count) {
    const auto offset = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(at) - 1;
    return 1 | (static_cast<std::uint64_t>(offset) & 0x3fffffff) << 2 |
           std::uint64_t{element_size} << 32 | count << 35;
  }

 private:
  static constexpr std::size_t header_bytes = 8;  // one segment: count and size
  std::vector<std::uint8_t> bytes_;
};

}  // namespace zem::testing

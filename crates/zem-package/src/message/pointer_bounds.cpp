#include "message/pointer_bounds.hpp"

#include <cstring>

#include <kj/exception.h>
#include <kj/string.h>

#include "zem_package/io.hpp"

namespace zem {
namespace {

constexpr std::size_t word_bytes = sizeof(capnp::word);

std::uint64_t word_at(const std::uint8_t* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}

[[noreturn]] void out_of_bounds(const char* kind) {
  throw kj::Exception(kj::Exception::Type::FAILED, __FILE__, __LINE__,
                      kj::str("Message contains out-of-bounds ", kind, " pointer."));
}

}  // namespace

PointerBounds::PointerBounds(kj::ArrayPtr<const capnp::word> message) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.begin());
  const std::size_t total = message.size() * word_bytes;
  if (total < 8) return;
  // The framing was checked when the message was read: the table holds the
  // count and the sizes, padded to whole words, and the segments follow.
  const std::size_t count =
      std::size_t{io::load_u32_le(std::span<const std::uint8_t, 4>(bytes, 4))} + 1;
  const std::size_t table = (count + 2) / 2 * word_bytes;
  std::size_t offset = table;
  for (std::size_t i = 0; i < count && 4 * (i + 2) <= table; ++i) {
    const std::size_t words =
        io::load_u32_le(std::span<const std::uint8_t, 4>(bytes + 4 * (i + 1), 4));
    if (offset > total || words > (total - offset) / word_bytes) break;
    segments_.push_back(Segment{bytes + offset, words});
    offset += words * word_bytes;
  }
}

void PointerBounds::check_root() const {
  if (!segments_.empty() && segments_.front().words > 0) {
    check_at(segments_.front().begin, PointerUse::structure, 0);
  }
}

void PointerBounds::check_field(capnp::AnyStruct::Reader reader, unsigned index,
                                PointerUse use) const {
  if (index >= reader.getPointerSection().size()) return;  // a null pointer
  // The pointer section follows the data section.
  const auto data = reader.getDataSection();
  check_at(reinterpret_cast<const std::uint8_t*>(data.end()) + std::size_t{index} * word_bytes, use,
           0);
}

const PointerBounds::Segment* PointerBounds::segment_of(const std::uint8_t* pointer) const {
  for (const Segment& segment : segments_) {
    // Addresses inside the one message buffer compare as integers.
    const auto at = reinterpret_cast<std::uintptr_t>(pointer);
    const auto begin = reinterpret_cast<std::uintptr_t>(segment.begin);
    if (at >= begin && at - begin < segment.words * word_bytes) return &segment;
  }
  return nullptr;
}

void PointerBounds::check_at(const std::uint8_t* pointer, PointerUse use, int depth) const {
  const Segment* segment = segment_of(pointer);
  if (segment == nullptr || depth > 1) return;
  const std::uint64_t word = word_at(pointer);
  if (word == 0) return;  // null
  const auto lower = static_cast<std::uint32_t>(word);
  const auto upper = static_cast<std::uint32_t>(word >> 32U);
  switch (lower & 3U) {
    case 0:  // struct: empty when it has no data and no pointers
      if (use != PointerUse::structure || upper != 0) return;
      break;
    case 1: {  // list: empty when its elements have no size, or there are none
      if (use == PointerUse::structure) return;
      // Element sizes: 0 none, 1 bit, 2 byte, 3 two bytes, 4 four bytes,
      // 5 eight bytes, 6 pointer, 7 structs with a tag word (never empty).
      const std::uint32_t element_size = upper & 7U;
      const std::uint32_t count = upper >> 3U;
      bool accepted_empty = false;
      switch (use) {
        case PointerUse::struct_list:  // any element but a bit
          accepted_empty =
              element_size == 0 || (element_size >= 2 && element_size <= 6 && count == 0);
          break;
        case PointerUse::word_list:  // elements of at least 32 bits of data
          accepted_empty = (element_size == 4 || element_size == 5) && count == 0;
          break;
        case PointerUse::data:  // bytes only
          accepted_empty = element_size == 2 && count == 0;
          break;
        case PointerUse::structure:
          break;
      }
      if (!accepted_empty) return;
      break;
    }
    case 2: {  // far: a single-far pointer's landing pad is a pointer like any other
      if ((lower & 4U) != 0) return;  // double-far pads give positions outright
      const std::size_t segment_id = upper;
      const std::size_t pad = lower >> 3U;
      if (segment_id < segments_.size() && pad < segments_[segment_id].words) {
        check_at(segments_[segment_id].begin + pad * word_bytes, use, depth + 1);
      }
      return;
    }
    default:  // other pointers are refused by the readers
      return;
  }
  // The target, in words from the segment's start: one past the pointer,
  // plus its signed offset. An empty object may stand at the very end.
  const auto offset = static_cast<std::int64_t>(static_cast<std::int32_t>(lower) >> 2);
  const auto index =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(pointer - segment->begin) / word_bytes);
  const std::int64_t target = index + 1 + offset;
  if (target < 0 || target > static_cast<std::int64_t>(segment->words)) {
    out_of_bounds((lower & 3U) == 0 ? "struct" : "list");
  }
}

}  // namespace zem

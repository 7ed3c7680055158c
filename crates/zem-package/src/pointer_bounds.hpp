#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <capnp/any.h>
#include <capnp/common.h>
#include <kj/common.h>

namespace zem {

// Refuses a pointer to an empty object whose offset lands outside its
// segment. The message's readers take such an offset to the segment's end,
// and an object of no size fits there, so a wild pointer to an empty list or
// struct would pass for a valid one; a pointer to anything larger fails in
// the readers themselves. The reader checks each pointer just before it
// follows it, so no pointer is looked at twice and none that is never
// followed is looked at at all.
class PointerBounds {
 public:
  // `message` is the framed message: the segment table, then the segments.
  explicit PointerBounds(kj::ArrayPtr<const capnp::word> message);

  // The root pointer.
  void check_root() const;

  // Pointer field `index` of a struct.
  template <class StructReader>
  void check(StructReader reader, unsigned index) const {
    check_field(capnp::toAny(reader), index);
  }

 private:
  struct Segment {
    const std::uint8_t* begin;
    std::size_t words;
  };

  void check_field(capnp::AnyStruct::Reader reader, unsigned index) const;
  // Throws the readers' kind of error for an empty object outside its
  // segment; `depth` bounds the landing pads followed.
  void check_at(const std::uint8_t* pointer, int depth) const;
  [[nodiscard]] const Segment* segment_of(const std::uint8_t* pointer) const;

  std::vector<Segment> segments_;
};

}  // namespace zem

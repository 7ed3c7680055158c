#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <capnp/any.h>
#include <capnp/common.h>
#include <kj/common.h>

namespace zem {

// What a pointer field holds, as far as its bounds are concerned.
enum class PointerUse : std::uint8_t {
  structure,    // a struct
  struct_list,  // a list of structs
  word_list,    // a list of 32-bit numbers
  data,         // bytes
};

// Refuses a pointer to an empty object whose offset lands outside its
// segment. The message's readers take such an offset to the segment's end,
// and an object of no size fits there, so a wild pointer to an empty list or
// struct would pass for a valid one. Only pointers that the readers would
// accept that way are refused here: a pointer to anything larger, or of a
// kind the field cannot hold, fails in the readers themselves, with their
// own error. (A text is never empty: it holds at least its NUL.) The reader
// checks each pointer just before it follows it, so no pointer is looked at
// twice and none that is never followed is looked at at all.
class PointerBounds {
 public:
  // `message` is the framed message: the segment table, then the segments.
  explicit PointerBounds(kj::ArrayPtr<const capnp::word> message);

  // The root pointer.
  void check_root() const;

  // Pointer field `index` of a struct, which holds `use`.
  template <class StructReader>
  void check(StructReader reader, unsigned index, PointerUse use) const {
    check_field(capnp::toAny(reader), index, use);
  }

 private:
  struct Segment {
    const std::uint8_t* begin;
    std::size_t words;
  };

  void check_field(capnp::AnyStruct::Reader reader, unsigned index, PointerUse use) const;
  // Throws the readers' kind of error for an empty object outside its
  // segment; `depth` bounds the landing pads followed.
  void check_at(const std::uint8_t* pointer, PointerUse use, int depth) const;
  [[nodiscard]] const Segment* segment_of(const std::uint8_t* pointer) const;

  std::vector<Segment> segments_;
};

}  // namespace zem

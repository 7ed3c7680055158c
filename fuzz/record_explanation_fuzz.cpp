// libFuzzer target: a tile image, segments, binding slices and a record through
// the explanation of every differing word and the hints.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zem::fuzz::record_explanation({data, size});
  return 0;
}

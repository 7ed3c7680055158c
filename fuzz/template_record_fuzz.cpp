// libFuzzer target: any tile image, load base and device record through the
// template setup locator, patching and the record comparison.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zem::fuzz::template_record({data, size});
  return 0;
}

// libFuzzer target: any bytes as a package file must get the same verdict
// from every read of the library, whatever the number of threads: the same
// error text, or the same model. A disagreement ends the run as a crash.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zem::fuzz::read_agreement({data, size});
  return 0;
}

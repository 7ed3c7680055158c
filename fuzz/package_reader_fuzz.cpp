// libFuzzer target: any bytes as a package file must give a model or an
// error, never a crash, a hang or an unbounded allocation.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zem::fuzz::package_reader({data, size});
  return 0;
}

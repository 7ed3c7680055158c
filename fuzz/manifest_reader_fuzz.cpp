// libFuzzer target: any bytes as a manifest's text. Nothing may crash, hang
// or take memory out of proportion to the text, and a manifest that reads
// must read the same once written back; a disagreement ends the run as a
// crash.
#include "harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zem::fuzz::manifest_reader({data, size});
  return 0;
}

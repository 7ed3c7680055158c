#pragma once

#include <cstdint>
#include <vector>

#include "zem_package/io.hpp"

namespace zem::cli {

// A device record file as the tools compare it: its length, and its first
// bytes. A record holds raw little-endian 32-bit words.
struct DeviceRecord {
  std::uint64_t size = 0;           // the file's length, as it was read
  std::vector<std::uint8_t> bytes;  // its first bytes, at most as many as were asked for
};

// Reads at most `keep` bytes of the record `file`, opened with
// io::open_regular_file (so that a FIFO or device named by mistake is
// refused instead of blocking the run) and not read yet, so that a huge file
// named by mistake costs no more memory than what it is compared with. Its
// size is the one it had when opened, unless reading shows otherwise: a
// file that shrank since has the bytes it still holds, and one that grew
// past all of its bytes that were kept is counted to its end.
[[nodiscard]] io::Result<DeviceRecord> read_device_record(const io::RegularFile& file,
                                                          std::uint64_t keep);

}  // namespace zem::cli

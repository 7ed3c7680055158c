#include "common/device_record.hpp"

#include <algorithm>
#include <array>

namespace zem::cli {
namespace {

// Counts the bytes left before the end of the file without keeping them.
[[nodiscard]] io::Result<std::uint64_t> count_remaining(int fd) {
  std::array<std::uint8_t, 64 * 1024> scratch{};
  std::uint64_t total = 0;
  for (;;) {
    const auto n = io::read_exactly(fd, scratch);
    if (!n) return std::unexpected(n.error());
    total += *n;
    if (*n < scratch.size()) return total;
  }
}

}  // namespace

io::Result<DeviceRecord> read_device_record(const io::RegularFile& file, std::uint64_t keep) {
  DeviceRecord record{file.size, {}};
  record.bytes.resize(static_cast<std::size_t>(std::min(keep, file.size)));
  const auto filled = io::read_exactly(file.fd.get(), record.bytes);
  if (!filled) return std::unexpected(filled.error());
  if (*filled < record.bytes.size()) {
    // The file shrank since it was opened: it holds what was read.
    record.bytes.resize(*filled);
    record.size = *filled;
    return record;
  }
  // Bytes beyond those kept are counted only when the file should have
  // none: a byte past its size means it grew meanwhile.
  if (record.bytes.size() < file.size) return record;
  std::uint8_t probe = 0;
  const auto past_end = io::read_exactly(file.fd.get(), std::span(&probe, 1));
  if (!past_end) return std::unexpected(past_end.error());
  if (*past_end == 0) return record;
  const auto rest = count_remaining(file.fd.get());
  if (!rest) return std::unexpected(rest.error());
  record.size = record.bytes.size() + 1 + *rest;
  return record;
}

}  // namespace zem::cli

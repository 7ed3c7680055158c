#include "template_record/record_comparison.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "zem_package/io.hpp"

namespace zem::template_record {
namespace {

constexpr std::string_view kOpenContext = "cannot open device record";
constexpr std::string_view kReadContext = "cannot read device record";
constexpr std::string_view kSubject = "device record";

// Reads into `buffer` until it is full or the file ends.
[[nodiscard]] Outcome<std::size_t> read_some(int fd, std::span<std::uint8_t> buffer) {
  auto got = io::read_exactly(fd, buffer);
  if (!got) return std::unexpected(os_error(kReadContext, got.error().os_error));
  return *got;
}

// Counts the bytes left before end of file without keeping them. Used only
// when the file grew after its size was checked, to report its real length.
[[nodiscard]] Outcome<std::size_t> count_remaining(int fd) {
  std::vector<std::uint8_t> scratch(64 * 1024);
  std::size_t total = 0;
  for (;;) {
    ZEM_ASSIGN_OR_RETURN(const std::size_t n, read_some(fd, scratch));
    total += n;
    if (n < scratch.size()) return total;
  }
}

}  // namespace

Outcome<std::vector<std::uint8_t>> read_device_record(const char* path,
                                                      std::size_t expected_length) {
  auto opened = io::open_regular_file(path);
  if (!opened) {
    const io::FileError& error = opened.error();
    if (error.not_regular()) {
      return std::unexpected(error_result(
          kReadContext, fmt::format("not a regular file: it is {}", io::describe(error.type))));
    }
    return std::unexpected(os_error(
        error.step == io::FileError::Step::open ? kOpenContext : kReadContext, error.os_error));
  }
  const io::FileDescriptor& fd = opened->fd;
  const std::uint64_t size = opened->size;
  if (size != expected_length) {
    return std::unexpected(
        length_mismatch(kSubject, static_cast<std::size_t>(size), expected_length));
  }

  std::vector<std::uint8_t> record(expected_length);
  ZEM_ASSIGN_OR_RETURN(const std::size_t filled, read_some(fd.get(), record));
  // The file shrank since its size was checked: report what it holds now.
  if (filled < record.size()) {
    return std::unexpected(length_mismatch(kSubject, filled, expected_length));
  }
  // A byte past the checked size means the file grew meanwhile: report its
  // full length rather than a truncated copy.
  std::uint8_t probe = 0;
  ZEM_ASSIGN_OR_RETURN(const std::size_t past_end, read_some(fd.get(), std::span(&probe, 1)));
  if (past_end == 0) return record;
  ZEM_ASSIGN_OR_RETURN(const std::size_t rest, count_remaining(fd.get()));
  return std::unexpected(length_mismatch(kSubject, filled + 1 + rest, expected_length));
}

Outcome<std::string> compare_record(std::span<const std::uint32_t> template_words,
                                    std::span<const std::uint8_t> record) {
  if (record.size() != template_words.size_bytes()) {
    return std::unexpected(length_mismatch(kSubject, record.size(), template_words.size_bytes()));
  }
  for (std::size_t n = 0; n < template_words.size(); ++n) {
    const std::uint32_t actual = io::load_u32_le(record.subspan(4 * n).first<4>());
    const std::uint32_t expected = template_words[n];
    if (actual != expected) {
      return std::unexpected(Failure{
          fmt::format("device record differs at word {}: actual=0x{:08x}, expected=0x{:08x}", n,
                      actual, expected)});
    }
  }
  return fmt::format("templateRecordWords={} transition=1 status=match", template_words.size());
}

}  // namespace zem::template_record

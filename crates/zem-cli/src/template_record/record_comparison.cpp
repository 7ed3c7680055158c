#include "template_record/record_comparison.hpp"

#include <fmt/format.h>

#include <cstdint>
#include <string_view>

#include "common/device_record.hpp"
#include "zem_package/io.hpp"

namespace zem::template_record {
namespace {

constexpr std::string_view kOpenContext = "cannot open device record";
constexpr std::string_view kReadContext = "cannot read device record";
constexpr std::string_view kSubject = "device record";

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
  if (opened->size != expected_length) {
    return std::unexpected(
        length_mismatch(kSubject, static_cast<std::size_t>(opened->size), expected_length));
  }
  // A file that shrank or grew since its size was checked is reported with
  // the length it really has.
  auto record = cli::read_device_record(*opened, expected_length);
  if (!record) return std::unexpected(os_error(kReadContext, record.error().os_error));
  if (record->size != expected_length) {
    return std::unexpected(
        length_mismatch(kSubject, static_cast<std::size_t>(record->size), expected_length));
  }
  return std::move(record->bytes);
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

#include "template_record/record_comparison.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

#include "template_record/little_endian.hpp"

namespace zem::template_record {
namespace {

constexpr std::string_view kOpenContext = "cannot open device record";
constexpr std::string_view kReadContext = "cannot read device record";
constexpr std::string_view kSubject = "device record";

// Closes the descriptor when the read is done, on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { ::close(fd_); }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

[[nodiscard]] std::string_view file_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "of an unknown kind";
}

// One read(2) into `buffer`, retried when a signal interrupts it.
[[nodiscard]] Outcome<std::size_t> read_some(int fd, std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(os_error(kReadContext, errno));
  }
}

// Counts the bytes left before end of file without keeping them. Used only
// when the file grew after its size was checked, to report its real length.
[[nodiscard]] Outcome<std::size_t> count_remaining(int fd) {
  std::vector<std::uint8_t> scratch(64 * 1024);
  std::size_t total = 0;
  for (;;) {
    const Outcome<std::size_t> n = read_some(fd, scratch);
    if (!n) return std::unexpected(n.error());
    if (*n == 0) return total;
    total += *n;
  }
}

}  // namespace

Outcome<std::vector<std::uint8_t>> read_device_record(const char* path,
                                                      std::size_t expected_length) {
  int raw_fd = -1;
  do {
    raw_fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (raw_fd < 0 && errno == EINTR);
  if (raw_fd < 0) return std::unexpected(os_error(kOpenContext, errno));
  const FileDescriptor fd(raw_fd);

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(os_error(kReadContext, errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(os_error(kReadContext, EISDIR));
  if (!S_ISREG(info.st_mode)) {
    return std::unexpected(error_result(
        kReadContext, fmt::format("not a regular file: it is {}", file_kind(info.st_mode))));
  }
  // A regular file's size is never negative.
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size != expected_length) {
    return std::unexpected(
        length_mismatch(kSubject, static_cast<std::size_t>(size), expected_length));
  }

  std::vector<std::uint8_t> record(expected_length);
  std::size_t filled = 0;
  while (filled < record.size()) {
    const Outcome<std::size_t> n = read_some(fd.get(), std::span(record).subspan(filled));
    if (!n) return std::unexpected(n.error());
    // The file shrank since its size was checked: report what it holds now.
    if (*n == 0) return std::unexpected(length_mismatch(kSubject, filled, expected_length));
    filled += *n;
  }
  // A byte past the checked size means the file grew meanwhile: report its
  // full length rather than a truncated copy.
  std::uint8_t probe = 0;
  const Outcome<std::size_t> past_end = read_some(fd.get(), std::span(&probe, 1));
  if (!past_end) return std::unexpected(past_end.error());
  if (*past_end == 0) return record;
  const Outcome<std::size_t> rest = count_remaining(fd.get());
  if (!rest) return std::unexpected(rest.error());
  return std::unexpected(length_mismatch(kSubject, filled + 1 + *rest, expected_length));
}

Outcome<std::string> compare_record(std::span<const std::uint32_t> template_words,
                                    std::span<const std::uint8_t> record) {
  if (record.size() != template_words.size_bytes()) {
    return std::unexpected(length_mismatch(kSubject, record.size(), template_words.size_bytes()));
  }
  for (std::size_t n = 0; n < template_words.size(); ++n) {
    const std::uint32_t actual = load_u32_le(record.subspan(4 * n).first<4>());
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

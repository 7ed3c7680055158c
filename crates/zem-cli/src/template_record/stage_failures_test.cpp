#include "template_record/stage_failures.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zem::template_record {
namespace {

template <class T>
std::string failure_of(const Outcome<T>& outcome) {
  return outcome ? "<success>" : outcome.error().message;
}

// --- compare_record --------------------------------------------------------

struct CompareCase {
  std::string_view name;
  friend void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }
  std::vector<std::uint32_t> words;
  std::vector<std::uint8_t> record;
  std::string_view result;  // the success line or the failure message
};

class CompareRecordTest : public testing::TestWithParam<CompareCase> {};

// The record a template of `words` expects, as the library works it out.
ExpectedRecord expecting(const std::vector<std::uint32_t>& words) {
  ExpectedRecord expected;
  expected.words.gathered = words;
  expected.words.words = words;
  return expected;
}

TEST_P(CompareRecordTest, MatchesOrReportsTheFirstDifference) {
  const CompareCase& c = GetParam();
  const Outcome<std::string> result =
      compare_record(expecting(c.words), device_record(c.record, c.record.size()));
  EXPECT_EQ(result ? *result : result.error().message, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Records, CompareRecordTest,
    testing::Values(
        CompareCase{"Match",
                    {1, 2},
                    {1, 0, 0, 0, 2, 0, 0, 0},
                    "templateRecordWords=2 transition=1 status=match"},
        CompareCase{"BothEmpty", {}, {}, "templateRecordWords=0 transition=1 status=match"},
        CompareCase{"SecondWordDiffers",
                    {1, 2},
                    {1, 0, 0, 0, 3, 0, 0, 0},
                    "device record differs at word 1: actual=0x00000003, expected=0x00000002"},
        CompareCase{"HexPaddedToEightDigits",
                    {0x80000000},
                    {0xff, 0x0f, 0, 0},
                    "device record differs at word 0: actual=0x00000fff, expected=0x80000000"},
        CompareCase{"OnlyTheFirstDifference",
                    {0, 0, 0, 0, 0, 0},
                    {0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0},
                    "device record differs at word 2: actual=0x00000009, expected=0x00000000"},
        // Big-endian bytes: the first word reads the same both ways.
        CompareCase{"BigEndianRecord",
                    {0x01000001, 0x12345678},
                    {0x01, 0x00, 0x00, 0x01, 0x12, 0x34, 0x56, 0x78},
                    "device record differs at word 1: actual=0x78563412, expected=0x12345678"},
        CompareCase{"RecordLonger",
                    {1, 2},
                    {1, 0, 0, 0, 2, 0, 0, 0, 0},
                    "device record length 9 does not match expected length 8"},
        CompareCase{"RecordShorterNotWholeWords",
                    {1, 2},
                    {1, 0, 0, 0, 2, 0, 0},
                    "device record length 7 does not match expected length 8"},
        CompareCase{"RecordWithoutTemplate",
                    {},
                    {0, 0, 0, 0},
                    "device record length 4 does not match expected length 0"}),
    [](const testing::TestParamInfo<CompareCase>& case_info) {
      return std::string(case_info.param.name);
    });

// --- read_record ----------------------------------------------------

// A fresh directory per test, removed with everything in it afterwards.
class ReadRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "device-record-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  [[nodiscard]] std::string path(std::string_view name) const { return (dir_ / name).string(); }

  [[nodiscard]] std::string write_file(std::string_view name,
                                       const std::vector<std::uint8_t>& bytes) const {
    const std::string file = path(name);
    std::ofstream out(file, std::ios::binary);
    for (const std::uint8_t byte : bytes) out.put(static_cast<char>(byte));
    return file;
  }

  std::filesystem::path dir_;
};

TEST_F(ReadRecordTest, ReadsAFileOfTheExpectedLength) {
  const std::vector<std::uint8_t> bytes{1, 0, 0, 0, 2, 0, 0, 0};
  const Outcome<DeviceRecord> record = read_record(write_file("record", bytes).c_str(), 8);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  EXPECT_EQ(record->bytes, bytes);
}

TEST_F(ReadRecordTest, AnEmptyFileMatchesAnEmptyTemplate) {
  const Outcome<DeviceRecord> record = read_record(write_file("empty", {}).c_str(), 0);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  EXPECT_TRUE(record->bytes.empty());
  const Outcome<std::string> line = compare_record(expecting({}), *record);
  ASSERT_TRUE(line.has_value()) << line.error().message;
  EXPECT_EQ(*line, "templateRecordWords=0 transition=1 status=match");
}

// Read or compared, a record of another length says its length: a long
// one read only up to the expected length.
TEST_F(ReadRecordTest, AFileOfAnotherLengthIsRefused) {
  const std::string file = write_file("nine", {1, 0, 0, 0, 2, 0, 0, 0, 0});
  const Outcome<DeviceRecord> record = read_record(file.c_str(), 8);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  EXPECT_EQ(record->bytes.size(), 8U);
  EXPECT_EQ(failure_of(compare_record(expecting({1, 2}), *record)),
            "device record length 9 does not match expected length 8");
}

TEST_F(ReadRecordTest, AHugeFileIsRefusedWithoutReadingIt) {
  // A sparse terabyte: reading or buffering it would not finish or would fail.
  const std::string file = write_file("huge", {});
  constexpr off_t kLength = off_t{1} << 40;
  if (::truncate(file.c_str(), kLength) != 0) GTEST_SKIP() << "no sparse files here";
  const Outcome<DeviceRecord> record = read_record(file.c_str(), 8);
  ASSERT_TRUE(record.has_value()) << record.error().message;
  EXPECT_EQ(failure_of(compare_record(expecting({1, 2}), *record)),
            "device record length 1099511627776 does not match expected length 8");
}

TEST_F(ReadRecordTest, AMissingFileGivesTheOsError) {
  EXPECT_EQ(failure_of(read_record(path("missing").c_str(), 8)),
            "cannot open device record: No such file or directory (os error 2)");
}

TEST_F(ReadRecordTest, ADirectoryIsRefused) {
  EXPECT_EQ(failure_of(read_record(dir_.c_str(), 0)),
            "cannot read device record: Is a directory (os error 21)");
}

TEST_F(ReadRecordTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(failure_of(read_record(fifo.c_str(), 0)),
            "cannot read device record: not a regular file: it is a FIFO");
}

TEST_F(ReadRecordTest, ACharacterDeviceIsRefused) {
  EXPECT_EQ(failure_of(read_record("/dev/null", 0)),
            "cannot read device record: not a regular file: it is a character device");
}

TEST_F(ReadRecordTest, ASocketCannotBeOpened) {
  // Opening a socket's name fails before its kind can be looked at.
  const std::string name = path("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(name.size(), sizeof address.sun_path);
  name.copy(address.sun_path, name.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(failure_of(read_record(name.c_str(), 0)),
            "cannot open device record: No such device or address (os error 6)");
  ::close(fd);
}

}  // namespace
}  // namespace zem::template_record

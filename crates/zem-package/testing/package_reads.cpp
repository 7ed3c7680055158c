#include "package_reads.hpp"

namespace zem::testing {

ReadResult<CheckedPackage> read_checked(std::span<const std::uint8_t> bytes, unsigned threads) {
  auto reading = PackageReading::read(bytes, ReadOptions{threads, ReadMode::strict});
  if (!reading) return std::unexpected(std::move(reading).error());
  return CheckedPackage::complete(std::move(*reading));
}

Result<Application> read_application(std::span<const std::uint8_t> bytes, unsigned threads) {
  auto checked = read_checked(bytes, threads);
  if (!checked) return std::unexpected(std::move(checked).error().error);
  return checked->application();
}

ReadResult<PackageReading> read_survey(std::span<const std::uint8_t> bytes, unsigned threads) {
  return PackageReading::read(bytes, ReadOptions{threads, ReadMode::survey});
}

}  // namespace zem::testing

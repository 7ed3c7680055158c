#include "package_reads.hpp"

namespace zem::testing {

ReadResult<Package> read_checked(std::span<const std::uint8_t> bytes, unsigned threads) {
  return Package::read(bytes, ReadOptions{threads, ReadMode::strict});
}

Result<Application> read_application(std::span<const std::uint8_t> bytes, unsigned threads) {
  auto checked = read_checked(bytes, threads);
  if (!checked) return std::unexpected(std::move(checked).error().error);
  auto application = checked->application();
  if (!application) return std::unexpected(std::move(application).error().error);
  return std::move(*application);
}

ReadResult<Package> read_survey(std::span<const std::uint8_t> bytes, unsigned threads) {
  return Package::read(bytes, ReadOptions{threads, ReadMode::survey});
}

}  // namespace zem::testing

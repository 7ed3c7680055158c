// zem-write-python-test-packages DIRECTORY
//
// Writes the packages the Python module's tests read: the example package
// and its record, and each damaged package of the test table, with
// `damaged.json` saying what the C++ reads report for each (error text,
// kind, stage, element), so that the tests can hold the module to the same
// outcome.

#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "damaged_packages.hpp"
#include "package_builder.hpp"
#include "package_reads.hpp"

namespace zt = zem::testing;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: zem-write-python-test-packages DIRECTORY\n", stderr);
    return 2;
  }
  const std::filesystem::path directory(argv[1]);
  std::filesystem::create_directories(directory / "damaged");
  zt::write_file((directory / "example.zpkg").string(), zt::example_bytes());
  zt::write_file((directory / "example.record").string(),
                 zt::words_to_bytes(zt::make_template_tile().record));

  nlohmann::ordered_json damaged = nlohmann::ordered_json::array();
  for (const zt::DamagedPackage& c : zt::damaged_packages()) {
    const std::vector<std::uint8_t> bytes = c.bytes();
    const std::string file = fmt::format("damaged/{}.zpkg", c.name);
    zt::write_file((directory / file).string(), bytes);
    const auto checked = zt::read_checked(bytes);
    if (checked) {
      fmt::print(stderr, "{} reads as valid\n", c.name);
      return 1;
    }
    const zem::ReadFailure& failure = checked.error();
    damaged.push_back({{"name", c.name},
                       {"file", file},
                       {"kind", failure.error.kind_name()},
                       {"error", failure.error.to_string()},
                       {"stage", zem::stage_name(failure.stage)},
                       {"element", failure.element.to_string()}});
  }
  std::ofstream(directory / "damaged.json") << damaged.dump(2) << '\n';
  return 0;
}

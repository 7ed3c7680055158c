// Writes a large, realistic package and the device record that matches it,
// for timing the verifier by hand or with other tools.
//
//   zem-make-large-package [--tiles N] [--compressed-percent P] [--seed S] [--layout L]
//       PACKAGE RECORD
//
// Prints the physical tile that holds the template setup, so that
//   zem-package-template-record PACKAGE TILE RECORD
// matches, and what the package holds. With a layout where every tile holds
// a template, RECORD is a pattern in which {tile} stands for the tile's
// number, and every tile's record is written.

#include <fmt/format.h>

#include <span>
#include <string>
#include <stdexcept>

#include "command_options.hpp"
#include "large_package.hpp"
#include "package_builder.hpp"

namespace {

constexpr const char* usage =
    "usage: zem-make-large-package [--tiles N] [--compressed-percent P] [--seed S] [--layout L] "
    "PACKAGE RECORD\n";

int run(std::span<char* const> arguments) {
  using namespace zem::bench;
  const CommandOptions options = CommandOptions::parse(arguments, package_option_names);
  if (options.positional.size() != 2) throw std::invalid_argument("expected PACKAGE and RECORD");
  const LargePackage large = make_large_package(options.package_options());
  zem::testing::write_file(options.positional[0], large.package);
  if (large.records.empty()) {
    zem::testing::write_file(options.positional[1], large.record);
  } else {
    const std::string& pattern = options.positional[1];
    const std::size_t at = pattern.find("{tile}");
    if (at == std::string::npos) throw std::invalid_argument("RECORD needs {tile}");
    for (std::size_t t = 0; t < large.records.size(); ++t) {
      std::string path = pattern;
      path.replace(at, 6, std::to_string(t));
      zem::testing::write_file(path, large.records[t]);
    }
  }

  const LargePackageStats& s = large.stats;
  fmt::print("template tile: {}\n", large.template_tile);
  fmt::print("package: {} bytes; blobs: {} ({} compressed, {} loaded by several tiles)\n",
             s.package_bytes, s.blobs, s.compressed_blobs, s.shared_blobs);
  fmt::print("blob contents: {} bytes, stored as {} bytes (ratio {:.2f})\n", s.blob_bytes,
             s.payload_bytes,
             static_cast<double>(s.blob_bytes) / static_cast<double>(s.payload_bytes));
  fmt::print("segments: {}; bindings: {}; host pages: {}; host calls: {}\n", s.segments, s.bindings,
             s.host_pages, s.host_calls);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return zem::bench::run_tool("zem-make-large-package", argc, argv, run, usage, 1);
}

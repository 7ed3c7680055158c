#pragma once

// Command-line options shared by the benchmark tools: `--name VALUE` pairs,
// every value an unsigned decimal number, and positional arguments.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "large_package.hpp"

namespace zem::bench {

struct CommandOptions {
  std::map<std::string, std::string> named;  // without the leading "--"
  std::vector<std::string> positional;

  // Splits `arguments` (without the program name). Throws std::invalid_argument
  // on an option that is not in `known` or that lacks its value.
  [[nodiscard]] static CommandOptions parse(std::span<char* const> arguments,
                                            std::span<const std::string_view> known);

  // The option's value as a number, or `fallback` when it was not given.
  // Throws std::invalid_argument when the value is not a number in range.
  [[nodiscard]] std::uint64_t number(const std::string& name, std::uint64_t fallback,
                                     std::uint64_t max) const;

  // The option's value as given, or nothing when it was not given.
  [[nodiscard]] std::optional<std::string> text(const std::string& name) const;

  // The generator's options: --tiles, --compressed-percent, --seed and
  // --layout (own-blobs, own-blobs-every-template or shared-program).
  [[nodiscard]] LargePackageOptions package_options() const;
};

// What a benchmark tool's `main` does: runs `run` on the arguments after the
// program name and turns what it throws into a line on standard error
// naming the tool, and an exit status: 2 for bad arguments
// (std::invalid_argument, followed by `usage` when given), `failed` for any
// other failure.
[[nodiscard]] int run_tool(std::string_view name, int argc, char** argv,
                           int (*run)(std::span<char* const>), std::string_view usage = {},
                           int failed = 3);

// The generator's option names, for `known`.
inline constexpr std::string_view package_option_names[] = {"tiles", "compressed-percent", "seed",
                                                            "layout"};

}  // namespace zem::bench

#include "command_options.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <limits>
#include <stdexcept>

namespace zem::bench {

int run_tool(std::string_view name, int argc, char** argv, int (*run)(std::span<char* const>),
             std::string_view usage, int failed) {
  try {
    return run({argv + 1, static_cast<std::size_t>(argc > 1 ? argc - 1 : 0)});
  } catch (const std::invalid_argument& e) {
    fmt::print(stderr, "{}: {}\n{}", name, e.what(), usage);
    return 2;
  } catch (const std::exception& e) {
    fmt::print(stderr, "{}: {}\n", name, e.what());
    return failed;
  }
}

CommandOptions CommandOptions::parse(std::span<char* const> arguments,
                                     std::span<const std::string_view> known) {
  CommandOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!argument.starts_with("--")) {
      options.positional.emplace_back(argument);
      continue;
    }
    const std::string_view name = argument.substr(2);
    if (std::ranges::find(known, name) == known.end()) {
      throw std::invalid_argument("unknown option " + std::string(argument));
    }
    if (i + 1 == arguments.size()) {
      throw std::invalid_argument("option " + std::string(argument) + " needs a value");
    }
    options.named[std::string(name)] = arguments[++i];
  }
  return options;
}

std::uint64_t CommandOptions::number(const std::string& name, std::uint64_t fallback,
                                     std::uint64_t max) const {
  const auto found = named.find(name);
  if (found == named.end()) return fallback;
  const std::string& text = found->second;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value > max) {
    throw std::invalid_argument("--" + name + " takes a number up to " + std::to_string(max) +
                                ", not " + text);
  }
  return value;
}

std::optional<std::string> CommandOptions::text(const std::string& name) const {
  const auto found = named.find(name);
  if (found == named.end()) return std::nullopt;
  return found->second;
}

LargePackageOptions CommandOptions::package_options() const {
  const LargePackageOptions defaults;
  LargePackageOptions options;
  // Physical tile numbers are 32-bit; far fewer tiles already fill memory.
  options.tiles = static_cast<std::uint32_t>(number("tiles", defaults.tiles, 65536));
  if (options.tiles == 0) throw std::invalid_argument("--tiles must be at least 1");
  options.compressed_percent =
      static_cast<std::uint32_t>(number("compressed-percent", defaults.compressed_percent, 100));
  options.seed = number("seed", defaults.seed, std::numeric_limits<std::uint64_t>::max());
  if (const std::optional<std::string> layout = text("layout")) {
    bool known = false;
    for (const TileLayout candidate : {TileLayout::own_blobs, TileLayout::own_blobs_every_template,
                                       TileLayout::shared_program}) {
      if (*layout == layout_name(candidate)) {
        options.layout = candidate;
        known = true;
      }
    }
    if (!known) {
      throw std::invalid_argument(
          "--layout is own-blobs, own-blobs-every-template or shared-program");
    }
  }
  return options;
}

}  // namespace zem::bench

#pragma once

// Seeded, reproducible bytes that compress the way a device program's
// sections do: neither zeros (which compress to nothing) nor noise (which
// does not compress at all).
//
// The random source is written out here rather than taken from <random>: the
// standard fixes its engines but not its distributions, and a benchmark's
// package should be the same bytes wherever it is generated.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zem::bench {

// splitmix64: small, fast and good enough to make test data.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  // A seed for an independent stream, derived from a seed and a stream number,
  // so that each blob's bytes depend only on the seed and the blob's place.
  [[nodiscard]] static std::uint64_t derive(std::uint64_t seed, std::uint64_t stream);

  [[nodiscard]] std::uint64_t next();

  // Uniform in [0, bound); bound must be positive.
  [[nodiscard]] std::uint64_t below(std::uint64_t bound);

  // Uniform in [low, high], both included.
  [[nodiscard]] std::uint64_t between(std::uint64_t low, std::uint64_t high);

  // True with probability `numerator` / `denominator`.
  [[nodiscard]] bool chance(std::uint64_t numerator, std::uint64_t denominator);

 private:
  std::uint64_t state_;
};

// What a section of a program holds.
enum class SectionKind {
  code,    // 32-bit instruction words with recurring idioms
  tables,  // constant tables: sampled curves, small-step integers, names
};

// Appends `size` bytes of the given kind, drawn from `rng`.
void append_section(std::vector<std::uint8_t>& out, SectionKind kind, std::size_t size, Rng& rng);

// `size` bytes as a program section would hold them: mostly code, with
// constant tables in stretches.
[[nodiscard]] std::vector<std::uint8_t> program_bytes(std::size_t size, Rng& rng);

}  // namespace zem::bench

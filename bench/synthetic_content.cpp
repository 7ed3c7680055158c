#include "synthetic_content.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <string_view>

namespace zem::bench {

std::uint64_t Rng::derive(std::uint64_t seed, std::uint64_t stream) {
  Rng mixer(seed ^ (stream * 0xd1b54a32d192ed03ULL));
  static_cast<void>(mixer.next());
  return mixer.next();
}

std::uint64_t Rng::next() {
  state_ += 0x9e3779b97f4a7c15ULL;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31U);
}

std::uint64_t Rng::below(std::uint64_t bound) {
  // The modulo bias for bounds this small is far below what matters here.
  return next() % bound;
}

std::uint64_t Rng::between(std::uint64_t low, std::uint64_t high) {
  return low + below(high - low + 1);
}

bool Rng::chance(std::uint64_t numerator, std::uint64_t denominator) {
  return below(denominator) < numerator;
}

namespace {

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t word) {
  for (unsigned shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(word >> shift));
  }
}

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t half) {
  out.push_back(static_cast<std::uint8_t>(half));
  out.push_back(static_cast<std::uint8_t>(half >> 8U));
}

// Code: instruction words of a small load/store machine. Real code draws on
// few opcodes, a handful of busy registers and small immediates, and repeats
// whole idioms (prologues, unrolled loops, inlined helpers) with different
// registers; that is what gives it its typical compression ratio of about
// three. Each word is opcode (8 bits), two registers (5 bits each) and a
// 14-bit field.
class CodeWriter {
 public:
  explicit CodeWriter(Rng& rng) : rng_(rng) {}

  void write(std::vector<std::uint8_t>& out, std::size_t words) {
    std::vector<std::uint32_t> code;
    code.reserve(words);
    while (code.size() < words) {
      if (code.size() > 64 && rng_.chance(2, 5)) {
        repeat_idiom(code);
      } else if (rng_.chance(1, 12)) {
        prologue(code);
      } else {
        basic_block(code);
      }
    }
    code.resize(words);
    for (const std::uint32_t word : code) {
      put_u32(out, word);
    }
  }

 private:
  // Busy registers come up far more often than the rest.
  std::uint32_t reg() {
    return static_cast<std::uint32_t>(rng_.chance(3, 4) ? rng_.below(8) : rng_.below(32));
  }

  // Low opcode numbers are the common ones (loads, adds, branches).
  std::uint32_t opcode() {
    constexpr std::uint64_t opcodes = 48;
    return static_cast<std::uint32_t>(std::min(rng_.below(opcodes), rng_.below(opcodes)));
  }

  // Mostly small, sometimes a stride or a negative offset, rarely anything.
  std::uint32_t immediate() {
    const std::uint64_t pick = rng_.below(16);
    if (pick < 9) return static_cast<std::uint32_t>(rng_.below(16));
    if (pick < 13) return static_cast<std::uint32_t>(rng_.below(64) * 4);
    if (pick < 15) return static_cast<std::uint32_t>(0x4000 - rng_.between(1, 64));
    return static_cast<std::uint32_t>(rng_.below(0x4000));
  }

  static std::uint32_t word(std::uint32_t op, std::uint32_t rd, std::uint32_t rs,
                            std::uint32_t field) {
    return op << 24U | rd << 19U | rs << 14U | (field & 0x3fffU);
  }

  void basic_block(std::vector<std::uint32_t>& code) {
    const std::uint64_t length = rng_.between(3, 20);
    for (std::uint64_t i = 0; i < length; ++i) {
      code.push_back(word(opcode(), reg(), reg(), rng_.chance(1, 2) ? reg() << 9U : immediate()));
    }
    // A conditional branch a short way back or forward.
    const auto offset = static_cast<std::uint32_t>(0x4000 + rng_.below(96)) - 48U;
    code.push_back(word(0x30, reg(), reg(), offset));
  }

  // Saves and restores of the same few registers, in every function.
  void prologue(std::vector<std::uint32_t>& code) {
    const std::uint32_t frame = static_cast<std::uint32_t>(rng_.between(2, 12)) * 16U;
    code.push_back(word(0x02, 29, 29, 0x4000 - frame));
    const std::uint64_t saved = rng_.between(2, 6);
    for (std::uint32_t r = 0; r < saved; ++r) {
      code.push_back(word(0x11, 16 + r, 29, frame - 4 * (r + 1)));
    }
  }

  // An earlier run of code again, with some registers renamed.
  void repeat_idiom(std::vector<std::uint32_t>& code) {
    const std::size_t window = std::min<std::size_t>(code.size(), 8192);
    const std::size_t length = std::min<std::size_t>(rng_.between(8, 64), window);
    const std::size_t start = code.size() - window + rng_.below(window - length + 1);
    for (std::size_t i = 0; i < length; ++i) {
      std::uint32_t copied = code[start + i];
      if (rng_.chance(1, 10)) {
        copied = (copied & ~(0x1fU << 19U)) | reg() << 19U;
      }
      code.push_back(copied);
    }
  }

  Rng& rng_;
};

// A curve sampled as 32-bit floats at a fixed precision, as constants
// computed offline are: sign, exponent and the top of the mantissa repeat,
// the low mantissa bits are mostly zero, and some samples carry noise.
void sampled_curve(std::vector<std::uint8_t>& out, std::size_t bytes, Rng& rng) {
  const double scale = static_cast<double>(rng.between(1, 1000)) / 16.0;
  const double step = static_cast<double>(rng.between(1, 200)) / 4096.0;
  const auto precision = static_cast<double>(1U << rng.between(4, 10));
  for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
    const double sample = scale * std::sin(static_cast<double>(i / 4) * step);
    const auto value = static_cast<float>(std::round(sample * precision) / precision);
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    if (rng.chance(1, 8)) bits ^= static_cast<std::uint32_t>(rng.next()) & 0xffU;
    put_u32(out, bits);
  }
}

// 16-bit integers that change by small steps: lookup tables, quantised data.
void small_steps(std::vector<std::uint8_t>& out, std::size_t bytes, Rng& rng) {
  auto value = static_cast<std::uint16_t>(rng.next());
  const std::uint64_t spread = rng.between(2, 12);
  for (std::size_t i = 0; i + 2 <= bytes; i += 2) {
    value = static_cast<std::uint16_t>(value + rng.below(spread) - spread / 2);
    put_u16(out, value);
  }
}

// NUL-terminated identifiers made of a small vocabulary: symbol and
// parameter names.
void names(std::vector<std::uint8_t>& out, std::size_t bytes, Rng& rng) {
  constexpr std::array<std::string_view, 24> parts{
      "layer", "conv",  "weight", "bias",  "input", "output", "tile", "row",
      "col",   "norm",  "gate",   "scale", "tmp",   "acc",    "buf",  "mask",
      "stage", "block", "head",   "attn",  "grad",  "state",  "init", "step"};
  const std::size_t end = out.size() + bytes;
  while (out.size() < end) {
    const std::uint64_t count = rng.between(1, 4);
    for (std::uint64_t i = 0; i < count && out.size() < end; ++i) {
      const std::string_view part = parts[rng.below(parts.size())];
      for (const char c : part) {
        if (out.size() < end) out.push_back(static_cast<std::uint8_t>(c));
      }
      if (out.size() < end) {
        out.push_back(rng.chance(1, 3) ? static_cast<std::uint8_t>('0' + rng.below(10))
                                       : static_cast<std::uint8_t>('_'));
      }
    }
    if (out.size() < end) out.push_back(0);
  }
}

// Offsets into other sections: increasing and aligned, mostly by one of a
// few common strides.
void offsets(std::vector<std::uint8_t>& out, std::size_t bytes, Rng& rng) {
  constexpr std::array<std::uint32_t, 4> strides{16, 64, 256, 1024};
  auto offset = static_cast<std::uint32_t>(0x4c000 + rng.below(0x1000) * 16);
  for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
    offset += rng.chance(3, 4) ? strides[rng.below(strides.size())]
                               : static_cast<std::uint32_t>(rng.between(1, 64) * 16);
    put_u32(out, offset);
  }
}

// Descriptors: fixed-size records whose fields mostly repeat (kinds, flags,
// sizes) around a counter and an address.
void descriptors(std::vector<std::uint8_t>& out, std::size_t bytes, Rng& rng) {
  const auto kind = static_cast<std::uint32_t>(rng.below(16));
  auto address = static_cast<std::uint32_t>(0x4c000 + rng.below(0x1000) * 64);
  for (std::uint32_t n = 0; (n + 1) * 16 <= bytes; ++n) {
    const auto size = static_cast<std::uint32_t>(64U << rng.below(4));
    put_u32(out, kind << 24U | (rng.chance(1, 5) ? 3U : 1U) << 16U | n);
    put_u32(out, address);
    put_u32(out, size);
    put_u32(out, rng.chance(1, 3) ? static_cast<std::uint32_t>(rng.below(1U << 20U)) : 0U);
    address += size;
  }
}

}  // namespace

void append_section(std::vector<std::uint8_t>& out, SectionKind kind, std::size_t size, Rng& rng) {
  const std::size_t end = out.size() + size;
  out.reserve(end);
  switch (kind) {
    case SectionKind::code:
      CodeWriter(rng).write(out, size / 4);
      break;
    case SectionKind::tables:
      while (out.size() < end) {
        const std::size_t stretch =
            std::min<std::size_t>(end - out.size(), rng.between(1, 16) * 1024);
        switch (rng.below(5)) {
          case 0:
            sampled_curve(out, stretch, rng);
            break;
          case 1:
            small_steps(out, stretch, rng);
            break;
          case 2:
            names(out, stretch, rng);
            break;
          case 3:
            offsets(out, stretch, rng);
            break;
          default:
            descriptors(out, stretch, rng);
            break;
        }
        // A stretch that ended short of its size (an odd tail) is padded.
        while (out.size() < end && out.size() % 4 != 0) out.push_back(0);
        if (stretch < 4) break;
      }
      break;
  }
  // Whatever the writers left short (a tail smaller than their unit) is zero.
  out.resize(end, 0);
}

std::vector<std::uint8_t> program_bytes(std::size_t size, Rng& rng) {
  std::vector<std::uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    const bool tables = rng.chance(1, 4);
    const std::size_t stretch = std::min<std::size_t>(
        size - out.size(), (tables ? rng.between(1, 12) : rng.between(8, 64)) * 1024);
    append_section(out, tables ? SectionKind::tables : SectionKind::code, stretch, rng);
  }
  return out;
}

}  // namespace zem::bench

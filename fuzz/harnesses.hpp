#pragma once

#include <cstdint>
#include <span>

namespace zem::fuzz {

// Reads `bytes` as a package file through the same descriptor-based entry
// point as the tools, then rebuilds every tile image of what was read.
// Nothing may crash, hang or run out of bounds, whatever the bytes.
void package_reader(std::span<const std::uint8_t> bytes);

// Reads `bytes` as a package in every way the library offers, on one thread
// and on four, and throws std::logic_error when the outcomes differ.
void read_agreement(std::span<const std::uint8_t> bytes);

// Runs the verifier's stages after the image on `bytes`: a 4-byte load base,
// a 2-byte device record length, that many record bytes (as far as they
// go), and the tile image in the rest.
void template_record(std::span<const std::uint8_t> bytes);

// Runs a device record's explanation on `bytes`: a 4-byte load base, a
// 2-byte record length and that many record bytes, then segments and binding
// slices of any shape, and the tile image in the rest. Every differing word
// is given its owner and every hint is weighed.
void record_explanation(std::span<const std::uint8_t> bytes);

// Reads `bytes` as a package's manifest; a manifest that reads is written
// back and read again, and throws std::logic_error when it does not read as
// the same manifest. Nothing may crash, hang or allocate without bound.
void manifest_reader(std::span<const std::uint8_t> bytes);

}  // namespace zem::fuzz

#pragma once

// The blob payloads of a package file in memory, as the file stores them,
// found with the schema's readers and nothing else: no model, no validation.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zem::bench {

struct Payload {
  std::span<const std::uint8_t> stored;  // the payload bytes in the file
  bool compressed = false;
  std::uint64_t uncompressed_size = 0;   // declared; meaningful when compressed
  std::span<const std::uint8_t> digest;  // stored SHA-256 of the contents

  // Bytes of the contents: what decompression writes, or the payload itself.
  [[nodiscard]] std::uint64_t content_size() const {
    return compressed ? uncompressed_size : stored.size();
  }
};

class PackagePayloads {
 public:
  // `package` is a whole package file, 8-byte aligned, which must outlive the
  // result: the payloads are views into it. Throws std::runtime_error when
  // the file is not a message with a blob table.
  [[nodiscard]] static PackagePayloads parse(std::span<const std::uint8_t> package);

  [[nodiscard]] const std::vector<Payload>& blobs() const { return blobs_; }
  [[nodiscard]] std::uint64_t content_bytes() const;
  [[nodiscard]] std::uint64_t payload_bytes() const;
  [[nodiscard]] std::uint64_t largest_content() const;
  [[nodiscard]] std::size_t compressed_count() const;

 private:
  std::vector<Payload> blobs_;
};

}  // namespace zem::bench

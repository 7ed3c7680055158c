#include "package_payloads.hpp"

#include <capnp/serialize.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "zem_package/application.capnp.h"

namespace zem::bench {

PackagePayloads PackagePayloads::parse(std::span<const std::uint8_t> package) {
  if (reinterpret_cast<std::uintptr_t>(package.data()) % sizeof(capnp::word) != 0 ||
      package.size() % sizeof(capnp::word) != 0) {
    throw std::runtime_error("a package is made of whole 8-byte words");
  }
  const kj::ArrayPtr<const capnp::word> words(reinterpret_cast<const capnp::word*>(package.data()),
                                              package.size() / sizeof(capnp::word));
  capnp::ReaderOptions options;
  options.traversalLimitInWords = std::numeric_limits<std::uint64_t>::max();
  options.nestingLimit = 64;
  PackagePayloads result;
  try {
    capnp::FlatArrayMessageReader message(words, options);
    // The views point into `package`, not into the reader, so they outlive it.
    for (const schema::Blob::Reader blob : message.getRoot<schema::Application>().getBlobs()) {
      const capnp::Data::Reader data = blob.getData();
      const capnp::Data::Reader digest = blob.getDigest();
      result.blobs_.push_back(Payload{
          .stored = {data.begin(), data.size()},
          .compressed = blob.getCompression() == schema::Compression::ZSTD,
          .uncompressed_size = blob.getUncompressedSize(),
          .digest = {digest.begin(), digest.size()},
      });
    }
  } catch (const kj::Exception& e) {
    throw std::runtime_error("not a package: " + std::string(e.getDescription().cStr()));
  }
  return result;
}

std::uint64_t PackagePayloads::content_bytes() const {
  std::uint64_t total = 0;
  for (const Payload& blob : blobs_) total += blob.content_size();
  return total;
}

std::uint64_t PackagePayloads::payload_bytes() const {
  std::uint64_t total = 0;
  for (const Payload& blob : blobs_) total += blob.stored.size();
  return total;
}

std::uint64_t PackagePayloads::largest_content() const {
  std::uint64_t largest = 0;
  for (const Payload& blob : blobs_) largest = std::max(largest, blob.content_size());
  return largest;
}

std::size_t PackagePayloads::compressed_count() const {
  return static_cast<std::size_t>(
      std::ranges::count_if(blobs_, [](const Payload& blob) { return blob.compressed; }));
}

}  // namespace zem::bench

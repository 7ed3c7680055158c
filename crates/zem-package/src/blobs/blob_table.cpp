#include "blobs/blob_table.hpp"

#include <algorithm>

#include "message/capnp_boundary.hpp"

namespace zem {
namespace {

std::span<const std::uint8_t> bytes_of(capnp::Data::Reader data) {
  return {data.begin(), data.size()};
}

}  // namespace

std::vector<StoredBlob> read_blob_table(capnp::List<schema::Blob>::Reader blobs,
                                        std::span<const std::uint8_t> message, std::size_t first,
                                        std::size_t count, const PointerBounds* bounds) {
  const std::size_t end = std::min<std::size_t>(blobs.size(), first + count);
  std::vector<StoredBlob> table;
  table.reserve(end > first ? end - first : 0);
  for (std::size_t index = first; index < end; ++index) {
    const schema::Blob::Reader blob = blobs[static_cast<unsigned>(index)];
    StoredBlob& stored = table.emplace_back();
    // Cap'n Proto hands over an enumerant the schema does not define as its
    // raw number; it is checked with the blob. Data fields cannot fail.
    stored.compression = static_cast<std::uint16_t>(blob.getCompression());
    stored.declared_size = blob.getUncompressedSize();
    try {
      if (bounds != nullptr) bounds->check(blob, 1, PointerUse::data);
      stored.payload = bytes_of(blob.getData());
      // Views compare within the one message buffer they both lie in.
      const std::uint8_t* begin = message.data();
      if (!stored.payload.empty() && !message.empty() && stored.payload.data() >= begin &&
          stored.payload.data() < begin + message.size()) {
        stored.file_offset = static_cast<std::uint64_t>(stored.payload.data() - begin);
      }
    } catch (const kj::Exception& e) {
      stored.payload_error = capnp_error(e);
      break;
    }
    try {
      if (bounds != nullptr) bounds->check(blob, 0, PointerUse::data);
      stored.digest = bytes_of(blob.getDigest());
    } catch (const kj::Exception& e) {
      stored.digest_error = capnp_error(e);
      break;
    }
  }
  return table;
}

}  // namespace zem

#include "toolkit/message_probe.hpp"

#include <capnp/serialize.h>
#include <kj/array.h>
#include <kj/exception.h>

#include <cstring>
#include <new>

#include "template_record/tile_number.hpp"
#include "zem_package/application.capnp.h"

namespace zem::toolkit {
namespace {

// The file's whole 8-byte words, copied so that they are aligned. A tail of 1
// to 7 bytes cannot belong to a message, whose segments are whole words.
kj::Array<capnp::word> words_of(std::span<const std::uint8_t> package) {
  auto words = kj::heapArray<capnp::word>(package.size() / sizeof(capnp::word));
  if (words.size() > 0) {
    std::memcpy(words.begin(), package.data(), words.size() * sizeof(capnp::word));
  }
  return words;
}

// The reader's options: nesting limited as the library limits it, and a
// traversal budget proportional to the file, the same as the library's, so a
// package that amplifies itself through empty list elements is cut short here
// as it is there.
capnp::ReaderOptions reader_options(std::size_t words) {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = 8 * static_cast<std::uint64_t>(words) + (1U << 16U);
  options.nestingLimit = 64;
  return options;
}

bool is_utf8(capnp::Text::Reader text) {
  return template_record::is_valid_utf8({text.cStr(), text.size()});
}

}  // namespace

// Cap'n Proto readers are lazy and any getter may throw; every traversal here
// runs inside one try, and no reader outlives it.
std::optional<std::vector<BlobEncoding>> read_blob_encodings(
    std::span<const std::uint8_t> package) {
  try {
    const kj::Array<capnp::word> words = words_of(package);
    capnp::FlatArrayMessageReader message(words, reader_options(words.size()));
    const auto blobs = message.getRoot<schema::Application>().getBlobs();
    std::vector<BlobEncoding> encodings;
    encodings.reserve(blobs.size());
    for (const schema::Blob::Reader blob : blobs) {
      encodings.push_back(BlobEncoding{blob.getData().size(),
                                       static_cast<std::uint16_t>(blob.getCompression()),
                                       blob.getUncompressedSize()});
    }
    return encodings;
  } catch (const kj::Exception&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

Stage locate_message_failure(std::span<const std::uint8_t> package) {
  Stage stage = Stage::framing;
  try {
    const kj::Array<capnp::word> words = words_of(package);
    capnp::FlatArrayMessageReader message(words, reader_options(words.size()));
    const auto root = message.getRoot<schema::Application>();

    stage = Stage::header;
    if (!is_utf8(root.getTarget()) || !is_utf8(root.getCompiler())) return stage;

    stage = Stage::blobs;
    for (const schema::Blob::Reader blob : root.getBlobs()) {
      static_cast<void>(blob.getData());
      static_cast<void>(blob.getDigest());
    }
    return Stage::structure;
  } catch (const kj::Exception&) {
    return stage;
  } catch (const std::bad_alloc&) {
    return stage;
  }
}

}  // namespace zem::toolkit

#include "model/build_digest.hpp"

#include "model/build_stream.hpp"
#include "blobs/sha256.hpp"
#include "zem_package/package_model.hpp"

namespace zem {

BuildDigestStream::BuildDigestStream() : state_(std::make_unique<Sha256>()) {}

BuildDigestStream::~BuildDigestStream() = default;

void BuildDigestStream::append_completing_blocks(std::span<const std::uint8_t> bytes) {
  // Complete the pending block first, so the hash always sees the stream in
  // order.
  if (used_ != 0) {
    const std::size_t room = block_size - used_;
    std::memcpy(block_.data() + used_, bytes.data(), room);
    state_->update(block_);
    used_ = 0;
    bytes = bytes.subspan(room);
  }
  // Whole blocks go to the hash straight from the caller's storage.
  const std::size_t whole = bytes.size() - bytes.size() % block_size;
  state_->update(bytes.first(whole));
  bytes = bytes.subspan(whole);
  if (!bytes.empty()) {
    std::memcpy(block_.data(), bytes.data(), bytes.size());
    used_ = bytes.size();
  }
}

Digest BuildDigestStream::finish() {
  state_->update(std::span<const std::uint8_t>(block_).first(used_));
  used_ = 0;
  return state_->finish();
}

Digest Application::build_digest() const {
  BuildDigestStream stream;
  build_stream::put_application(stream, *this);
  return stream.finish();
}

Digest PackageModel::build_digest() const {
  BuildDigestStream stream;
  build_stream::put_application(stream, *this);
  return stream.finish();
}

}  // namespace zem

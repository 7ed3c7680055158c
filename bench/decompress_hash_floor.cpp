#include "decompress_hash_floor.hpp"

#include <openssl/evp.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace zem::bench {

DecompressHashFloor::DecompressHashFloor(const PackagePayloads& payloads)
    : payloads_(payloads),
      capacity_(static_cast<std::size_t>(payloads.largest_content())),
      digests_(payloads.blobs().size()) {
  buffer_ = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(capacity_, 1));
  context_ = ZSTD_createDCtx();
  // Fetched once: the floor pays for hashing, not for looking up the method.
  sha256_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  hash_ = EVP_MD_CTX_new();
  if (context_ == nullptr || sha256_ == nullptr || hash_ == nullptr) {
    ZSTD_freeDCtx(context_);
    EVP_MD_free(sha256_);
    EVP_MD_CTX_free(hash_);
    throw std::bad_alloc();
  }
}

DecompressHashFloor::~DecompressHashFloor() {
  ZSTD_freeDCtx(context_);
  EVP_MD_free(sha256_);
  EVP_MD_CTX_free(hash_);
}

void DecompressHashFloor::run() {
  const std::vector<Payload>& blobs = payloads_.blobs();
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    const Payload& blob = blobs[i];
    const std::uint8_t* contents = blob.stored.data();
    std::size_t size = blob.stored.size();
    if (blob.compressed) {
      size = ZSTD_decompressDCtx(context_, buffer_.get(),
                                 static_cast<std::size_t>(blob.uncompressed_size),
                                 blob.stored.data(), blob.stored.size());
      if (ZSTD_isError(size) != 0 || size != blob.uncompressed_size) {
        throw std::runtime_error("blob " + std::to_string(i) + " does not decompress to its size");
      }
      contents = buffer_.get();
    }
    unsigned int length = 0;
    if (EVP_DigestInit_ex(hash_, sha256_, nullptr) != 1 ||
        EVP_DigestUpdate(hash_, contents, size) != 1 ||
        EVP_DigestFinal_ex(hash_, digests_[i].data(), &length) != 1) {
      throw std::runtime_error("SHA-256 failed");
    }
  }
}

bool DecompressHashFloor::digests_match() const {
  const std::vector<Payload>& blobs = payloads_.blobs();
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    if (!std::ranges::equal(blobs[i].digest, digests_[i])) return false;
  }
  return true;
}

}  // namespace zem::bench

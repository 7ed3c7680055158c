#include "sha256.hpp"

#include <new>

#include <openssl/evp.h>

namespace zem {

Digest sha256(std::span<const std::uint8_t> bytes) {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
    // SHA-256 over memory only fails when libcrypto cannot allocate.
    throw std::bad_alloc();
  }
  return digest;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::update(std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) {
    EVP_DigestUpdate(ctx_, bytes.data(), bytes.size());
  }
}

Digest Sha256::finish() {
  Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx_, digest.data(), &length);
  return digest;
}

}  // namespace zem

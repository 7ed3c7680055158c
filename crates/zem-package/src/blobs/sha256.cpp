#include "blobs/sha256.hpp"

#include <new>

#include <openssl/evp.h>

namespace zem {
namespace {

// The SHA-256 implementation, looked up once per process. Looking it up
// costs a lock and a search of libcrypto's providers, which one lookup per
// blob would pay thousands of times; the fetched method is safe to share
// between threads. It stays for the life of the process.
const EVP_MD* sha256_method() {
  static EVP_MD* const fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return fetched != nullptr ? fetched : EVP_sha256();
}

}  // namespace

Digest sha256(std::span<const std::uint8_t> bytes) {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, sha256_method(), nullptr) !=
      1) {
    // SHA-256 over memory only fails when libcrypto cannot allocate.
    throw std::bad_alloc();
  }
  return digest;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, sha256_method(), nullptr) != 1) {
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

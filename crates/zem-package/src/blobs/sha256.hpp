#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "zem_package/application.hpp"

struct evp_md_ctx_st;

namespace zem {

// SHA-256 of one buffer.
[[nodiscard]] Digest sha256(std::span<const std::uint8_t> bytes);

// A running SHA-256 state over libcrypto's EVP interface.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();

  void update(std::span<const std::uint8_t> bytes);
  [[nodiscard]] Digest finish();

 private:
  evp_md_ctx_st* ctx_;
};

}  // namespace zem

// SHA-256 through OpenSSL's libcrypto, fed as the bytes go by.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kbc::evidence {

class Sha256 {
 public:
  Sha256();

  void update(std::span<const std::byte> bytes);
  void update(std::string_view text) { update(std::as_bytes(std::span(text))); }
  // The digest as 64 lower-case hexadecimal digits; the hash starts again afterwards.
  std::string hex();

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context_;
};

std::string sha256_hex(std::string_view text);

}  // namespace kbc::evidence

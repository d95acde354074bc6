#include "evidence/sha256.h"

#include <array>
#include <new>

namespace kbc::evidence {
namespace {

void start(EVP_MD_CTX* context) {
  if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
    throw std::bad_alloc();
  }
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_) {
    throw std::bad_alloc();
  }
  start(context_.get());
}

void Sha256::update(std::span<const std::byte> bytes) {
  EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
}

std::string Sha256::hex() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
  start(context_.get());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0xf];
  }
  return text;
}

std::string sha256_hex(std::string_view text) {
  Sha256 hash;
  hash.update(text);
  return hash.hex();
}

}  // namespace kbc::evidence

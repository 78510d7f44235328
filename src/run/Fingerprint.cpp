#include "run/Fingerprint.h"

#include <openssl/evp.h>

#include <memory>

#include "platform/Error.h"
#include "run/ContentReader.h"

namespace velarix {

namespace {

// Fetched once: naming the algorithm at every initialisation makes OpenSSL look it up again.
const EVP_MD* Sha1Algorithm() {
  static const EVP_MD* algorithm = [] {
    const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return fetched != nullptr ? fetched : EVP_sha1();
  }();
  return algorithm;
}

}  // namespace

struct Sha1::Context {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

Sha1::Sha1() : context_(std::make_unique<Context>()) {
  if (context_->md == nullptr) throw Error("SHA-1 is not available");
  Reset();
}

Sha1::~Sha1() = default;

void Sha1::Reset() {
  if (EVP_DigestInit_ex(context_->md.get(), Sha1Algorithm(), nullptr) != 1) {
    throw Error("SHA-1 is not available");
  }
}

void Sha1::Update(const void* data, size_t n) {
  if (n != 0 && EVP_DigestUpdate(context_->md.get(), data, n) != 1) {
    throw Error("SHA-1 digest failed");
  }
}

std::string Sha1::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->md.get(), digest, &length) != 1) {
    throw Error("SHA-1 digest failed");
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 0x0f]);
  }
  return hex;
}

std::string CalculaHash(const std::string& path) {
  Sha1 digest;
  ContentReader reader(path, &digest);
  if (!reader.Open()) throw Error("Cannot open file \"" + path + "\". " + reader.reason());
  char buffer[64 * 1024];
  for (;;) {
    int64_t n = reader.Read(buffer, sizeof buffer);
    if (n < 0) throw Error("Stream read error");
    if (n == 0) return digest.HexDigest();
  }
}

}  // namespace velarix

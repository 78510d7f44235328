// The content fingerprint: the lowercase hexadecimal SHA-1 of a file's bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace velarix {

// 40 lowercase hexadecimal digits. Throws Error "Cannot open file \"<path>\". <reason>" when the
// file cannot be opened and "Stream read error" when it shrinks or a read fails.
std::string CalculaHash(const std::string& path);

// An incremental SHA-1 over OpenSSL's EVP interface. Throws Error when OpenSSL fails.
class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  // Starts a new digest, forgetting everything fed so far.
  void Reset();
  void Update(const void* data, size_t n);
  // The digest of everything fed since the last Reset, as 40 lowercase hexadecimal digits. Ends
  // the digest: Reset before feeding again.
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace velarix

#include "testing/TestCertificate.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace velarix::testing {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

TestCertificate MakeTestCertificate(const std::string& folder,
                                    const std::vector<std::string>& names) {
  TestCertificate result{folder + "/cert.pem", folder + "/key.pem"};
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
  if (key == nullptr || cert == nullptr) {
    ADD_FAILURE() << "cannot make a key";
    return result;
  }
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Velarix test"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);

  std::string alt_names;
  for (const std::string& n : names) alt_names += (alt_names.empty() ? "" : ",") + n;
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, alt_names},
                            std::pair{NID_basic_constraints, std::string("critical,CA:TRUE")}}) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext == nullptr) {
      ADD_FAILURE() << "bad extension " << value;
      continue;
    }
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) ADD_FAILURE() << "cannot sign";

  std::unique_ptr<FILE, FileCloser> cert_out(fopen(result.certificate_file.c_str(), "w"));
  std::unique_ptr<FILE, FileCloser> key_out(fopen(result.key_file.c_str(), "w"));
  if (cert_out == nullptr || key_out == nullptr ||
      PEM_write_X509(cert_out.get(), cert.get()) != 1 ||
      PEM_write_PrivateKey(key_out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    ADD_FAILURE() << "cannot write the certificate into " << folder;
  }
  return result;
}

}  // namespace velarix::testing

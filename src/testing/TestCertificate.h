// A self-signed certificate made at test time, for https tests against LoopbackPortal.
#pragma once

#include <string>
#include <vector>

namespace velarix::testing {

struct TestCertificate {
  std::string certificate_file;  // PEM
  std::string key_file;          // PEM
};

// Writes a fresh EC key and a certificate valid for the subjectAltName entries given (such as
// "IP:127.0.0.1" or "DNS:localhost") into folder. Fails the test on error.
TestCertificate MakeTestCertificate(const std::string& folder,
                                    const std::vector<std::string>& names);

}  // namespace velarix::testing

// The portal client's POST: a multipart form to one URL, the answer body to a stream.
#pragma once

#include <string>

#include "platform/HttpClient.h"
#include "upload/MultipartFormData.h"

namespace velarix {

class THTTPClient {
 public:
  // The options exist for tests (a short wait); the program keeps the defaults.
  explicit THTTPClient(HttpOptions options = {}) : options_(options) {}

  // Posts form's body as "multipart/form-data; boundary=<Boundary>". When a whole answer
  // arrives, whatever its status, its body is appended to *answer; on any failure of the
  // exchange *answer is left as it was and *reason (when given) says why. The builder's file
  // errors leave as Error.
  void Post(const std::string& url, TMultipartFormData& form, std::string* answer,
            std::string* reason = nullptr);

 private:
  HttpOptions options_;
};

}  // namespace velarix

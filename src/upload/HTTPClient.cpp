#include "upload/HTTPClient.h"

namespace velarix {

void THTTPClient::Post(const std::string& url, TMultipartFormData& form, std::string* answer,
                       std::string* reason) {
  const std::string content_type = "multipart/form-data; boundary=" + form.Boundary();
  const std::string& body = form.GetBody();
  HttpAnswer received;
  std::string why;
  if (HttpPost(url, content_type, body, options_, &received, &why)) {
    answer->append(received.body);
  } else if (reason != nullptr) {
    *reason = why;
  }
}

}  // namespace velarix

#include "upload/EnviaArquivo.h"

#include "platform/Error.h"
#include "upload/HTTPClient.h"
#include "upload/Json.h"
#include "upload/MultipartFormData.h"

namespace velarix {

bool EnviaArquivo(const std::string& url, const std::string& key, const std::string& path) {
  return EnviaArquivo(url, key, path, HttpOptions());
}

bool EnviaArquivo(const std::string& url, const std::string& key, const std::string& path,
                  const HttpOptions& options) {
  THTTPClient client(options);
  std::string answer;
  TMultipartFormData form;
  form.AddField("key", key);
  form.AddFile("file", path);
  client.Post(url, form, &answer);  // the builder's file errors go to the caller
  return PortalAccepted(answer);
}

bool PortalAccepted(const std::string& answer) {
  try {
    TJson json;
    json.Parse(answer);
    return json.RootObject().Member("msg").AsString() == "100";
  } catch (const std::exception&) {
    // Any answer that cannot be read is simply not an acceptance, whatever failed reading it.
    return false;
  }
}

}  // namespace velarix

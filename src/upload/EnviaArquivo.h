// The upload step: one file posted to one portal endpoint, and the portal's verdict.
#pragma once

#include <string>

#include "platform/HttpClient.h"

namespace velarix {

// True when the portal accepted the file (its JSON answer's "msg" reads "100"). False for every
// failure of the exchange and every answer that cannot be read. Throws Error when the request
// cannot be built ("Cannot open file \"<path>\". <reason>", "Stream read error").
bool EnviaArquivo(const std::string& url, const std::string& key, const std::string& path);
// The same with other HTTP options, for tests that cannot wait 90 seconds.
bool EnviaArquivo(const std::string& url, const std::string& key, const std::string& path,
                  const HttpOptions& options);

// The verdict on an answer body: a JSON object whose first member named "msg" (any letter case)
// has the string form "100".
bool PortalAccepted(const std::string& answer);

}  // namespace velarix

// The upload step: one file posted to one portal endpoint, and the portal's verdict.
#pragma once

#include <string>

namespace velarix {

// True when the portal accepted the file (its JSON answer's "msg" reads "100"). False for every
// failure of the exchange and every answer that cannot be read. Throws Error when the request
// cannot be built ("Cannot open file \"<path>\". <reason>", "Stream read error").
bool EnviaArquivo(const std::string& url, const std::string& key, const std::string& path);

}  // namespace velarix

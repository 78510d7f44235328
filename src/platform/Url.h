// The parts of an http or https URL that the HTTP client needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velarix {

struct Url {
  std::string scheme;  // "http" or "https", in lower case
  bool has_user = false;
  std::string user;
  std::string password;
  std::string host;  // as written; an IPv6 literal without its brackets
  uint16_t port = 0;
  bool default_port = true;  // the port is the scheme's own (80 or 443)
  std::string target;        // "/" and everything after the first "/" after the host, as written
};

// Reads url after removing the bytes 0 to 32 around it. The scheme is the text before "://"
// ("http" when there is none); a user (with an optional ":" and password) ends at an "@"
// before the first "/" after the scheme. False with *reason set for another scheme, an empty
// host, a bad port, or a URL that holds a space or control character anywhere, which would
// otherwise break or extend the request head.
bool ParseUrl(std::string_view url, Url* parsed, std::string* reason);

}  // namespace velarix

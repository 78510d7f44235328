#include "platform/Url.h"

#include <cctype>
#include <charconv>

namespace velarix {

bool ParseUrl(std::string_view url, Url* parsed, std::string* reason) {
  while (!url.empty() && static_cast<unsigned char>(url.front()) <= 32) url.remove_prefix(1);
  while (!url.empty() && static_cast<unsigned char>(url.back()) <= 32) url.remove_suffix(1);
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 32 || c == 127) {
      *reason = "The URL holds a space or a control character";
      return false;
    }
  }
  *parsed = Url();
  size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) {
    parsed->scheme = "http";
  } else {
    for (char c : url.substr(0, scheme_end)) {
      parsed->scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    url.remove_prefix(scheme_end + 3);
  }
  if (parsed->scheme != "http" && parsed->scheme != "https") {
    *reason = "Unsupported URL scheme \"" + parsed->scheme + "\"";
    return false;
  }

  size_t path_start = url.find('/');
  std::string_view authority = url.substr(0, path_start);
  parsed->target = path_start == std::string_view::npos ? "/" : std::string(url.substr(path_start));

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view credentials = authority.substr(0, at);
    size_t colon = credentials.find(':');
    parsed->has_user = true;
    parsed->user = std::string(credentials.substr(0, colon));
    if (colon != std::string_view::npos)
      parsed->password = std::string(credentials.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }

  std::string_view port_text;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      *reason = "The URL's host is not closed by \"]\"";
      return false;
    }
    parsed->host = std::string(authority.substr(1, close - 1));
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        *reason = "The URL's host is followed by \"" + std::string(rest) + "\"";
        return false;
      }
      port_text = rest.substr(1);
    }
  } else {
    size_t colon = authority.find(':');
    parsed->host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      port_text = authority.substr(colon + 1);
    }
  }
  if (parsed->host.empty()) {
    *reason = "The URL has no host";
    return false;
  }

  const uint16_t default_port = parsed->scheme == "https" ? 443 : 80;
  parsed->port = default_port;
  if (!port_text.empty()) {  // "host:" with nothing after the colon keeps the default
    unsigned port = 0;
    auto [end, error] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (error != std::errc() || end != port_text.data() + port_text.size() || port == 0 ||
        port > 65535) {
      *reason = "The URL's port \"" + std::string(port_text) + "\" is not a port number";
      return false;
    }
    parsed->port = static_cast<uint16_t>(port);
  }
  parsed->default_port = parsed->port == default_port;
  return true;
}

}  // namespace velarix

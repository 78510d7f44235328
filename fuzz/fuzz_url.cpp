// The URL parser and the request head built from what it gives: whatever the settings file
// holds, the head must stay exactly its own lines, each ended by CR LF, with nothing injected.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/HttpClient.h"
#include "platform/Url.h"

namespace {

bool HasControlOrBlank(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= 32 || c == 127) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  velarix::Url url;
  std::string reason;
  if (!velarix::ParseUrl(text, &url, &reason)) {
    if (reason.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (url.scheme != "http" && url.scheme != "https") std::abort();
  if (url.host.empty() || url.port == 0) std::abort();
  if (url.target.empty() || url.target.front() != '/') std::abort();
  if (url.default_port != (url.port == (url.scheme == "https" ? 443 : 80))) std::abort();
  if (!url.has_user && (!url.user.empty() || !url.password.empty())) std::abort();
  if (HasControlOrBlank(url.host) || HasControlOrBlank(url.target) || HasControlOrBlank(url.user) ||
      HasControlOrBlank(url.password)) {
    std::abort();
  }

  const std::string head = velarix::HttpRequestHead(url, "multipart/form-data; boundary=x", 7);
  // Count the lines; a CR or LF anywhere but a line end would be an injected header.
  size_t lines = 0;
  size_t start = 0;
  for (;;) {
    size_t end = head.find("\r\n", start);
    if (end == std::string::npos) break;
    std::string_view line(head.data() + start, end - start);
    if (line.find_first_of("\r\n") != std::string_view::npos) std::abort();
    ++lines;
    start = end + 2;
  }
  if (start != head.size()) std::abort();
  if (lines != (url.has_user ? 9u : 8u)) std::abort();
  if (head.compare(0, 5 + url.target.size(), "POST " + url.target) != 0) std::abort();
  return 0;
}

#include "platform/HttpClient.h"

#include <memory>

#include "platform/Env.h"
#include "platform/HttpStream.h"
#include "platform/TlsStream.h"

namespace velarix {

namespace {

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
            kAlphabet[v & 63]};
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
  }
  return out;
}

}  // namespace

std::string HttpRequestHead(const Url& url, std::string_view content_type, size_t content_length) {
  std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  if (!url.default_port) host += ":" + std::to_string(url.port);
  std::string head = "POST " + url.target + " HTTP/1.0\r\n";
  head += "Host: " + host + "\r\n";
  if (url.has_user)
    head += "Authorization: Basic " + Base64(url.user + ":" + url.password) + "\r\n";
  head += "Keep-Alive: 300\r\n";
  head += "Connection: keep-alive\r\n";
  head += "User-Agent: Mozilla/4.0 (compatible; Synapse)\r\n";
  head += "Content-Type: " + std::string(content_type) + "\r\n";
  head += "Content-Length: " + std::to_string(content_length) + "\r\n";
  head += "\r\n";
  return head;
}

bool HttpPost(const std::string& url, std::string_view content_type, std::string_view body,
              const HttpOptions& options, HttpAnswer* answer, std::string* reason) {
  Url parsed;
  if (!ParseUrl(url, &parsed, reason)) return false;
  std::unique_ptr<Socket> socket = Env::Current()->Connect(parsed.host, parsed.port, reason);
  if (socket == nullptr) return false;

  std::unique_ptr<HttpStream> stream;
  if (parsed.scheme == "https") {
    stream = StartTls(socket.get(), parsed.host, options.wait_ms, reason);
    if (stream == nullptr) return false;
  } else {
    stream = std::make_unique<SocketStream>(socket.get(), options.wait_ms);
  }

  std::string request = HttpRequestHead(parsed, content_type, body.size());
  request.append(body);
  if (!stream->Write(request, reason)) return false;
  return ReadHttpAnswer(stream.get(), options.limits, answer, reason);
}

}  // namespace velarix

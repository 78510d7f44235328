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

// Caps every wait on the socket by the time left to the whole exchange, so that the bound
// holds for plain and TLS streams alike. Large sends go in pieces so that the bound is looked
// at again between them.
class DeadlineSocket : public Socket {
 public:
  DeadlineSocket(Socket* socket, int exchange_ms)
      : socket_(socket),
        exchange_ms_(exchange_ms),
        deadline_(Env::Current()->MonotonicMs() + exchange_ms) {}

  bool SendAll(const char* data, size_t n, int timeout_ms, std::string* reason) override {
    constexpr size_t kPiece = 16384;
    while (n > 0) {
      int wait = Wait(timeout_ms, reason);
      if (wait < 0) return false;
      size_t piece = n < kPiece ? n : kPiece;
      if (!socket_->SendAll(data, piece, wait, reason)) return false;
      data += piece;
      n -= piece;
    }
    return true;
  }

  int64_t Receive(char* buffer, size_t n, int timeout_ms, std::string* reason) override {
    int wait = Wait(timeout_ms, reason);
    if (wait < 0) return -1;
    return socket_->Receive(buffer, n, wait, reason);
  }

  int NativeHandle() const override { return socket_->NativeHandle(); }

 private:
  // The wait to use now, or -1 with *reason set when the exchange has run out of time.
  int Wait(int timeout_ms, std::string* reason) {
    int64_t left = deadline_ - Env::Current()->MonotonicMs();
    if (left <= 0) {
      *reason = "The server took longer than " + std::to_string(exchange_ms_ / 1000) +
                " s for the whole exchange";
      return -1;
    }
    return left < timeout_ms ? static_cast<int>(left) : timeout_ms;
  }

  Socket* socket_;
  int exchange_ms_;
  int64_t deadline_;
};

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
  std::unique_ptr<Socket> connection = Env::Current()->Connect(parsed.host, parsed.port, reason);
  if (connection == nullptr) return false;
  DeadlineSocket socket(connection.get(), options.exchange_ms);

  std::unique_ptr<HttpStream> stream;
  if (parsed.scheme == "https") {
    stream = StartTls(&socket, parsed.host, options.wait_ms, reason);
    if (stream == nullptr) return false;
  } else {
    stream = std::make_unique<SocketStream>(&socket, options.wait_ms);
  }

  std::string request = HttpRequestHead(parsed, content_type, body.size());
  request.append(body);
  if (!stream->Write(request, reason)) return false;
  return ReadHttpAnswer(stream.get(), options.limits, answer, reason);
}

}  // namespace velarix

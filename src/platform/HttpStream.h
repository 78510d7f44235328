// The byte stream an HTTP exchange runs over: a TCP socket, a TLS session on one, or a string
// (for tests and fuzzing), so that the answer reader never needs a real connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velarix {

class Socket;

class HttpStream {
 public:
  virtual ~HttpStream() = default;
  // Sends all of data; false with *reason set on failure or time-out.
  virtual bool Write(std::string_view data, std::string* reason) = 0;
  // Reads up to n bytes. Returns the number read, 0 at the end of the stream, or -1 with
  // *reason set on failure or time-out.
  virtual int64_t Read(char* buffer, size_t n, std::string* reason) = 0;
};

// A socket with one limit for every wait on the peer.
class SocketStream : public HttpStream {
 public:
  SocketStream(Socket* socket, int wait_ms) : socket_(socket), wait_ms_(wait_ms) {}
  bool Write(std::string_view data, std::string* reason) override;
  int64_t Read(char* buffer, size_t n, std::string* reason) override;

 private:
  Socket* socket_;
  int wait_ms_;
};

// Reads from a fixed string, at most max_read bytes at a time, and collects what is written.
class StringStream : public HttpStream {
 public:
  explicit StringStream(std::string input, size_t max_read = SIZE_MAX)
      : input_(std::move(input)), max_read_(max_read == 0 ? 1 : max_read) {}
  bool Write(std::string_view data, std::string* /*reason*/) override {
    written_.append(data);
    return true;
  }
  int64_t Read(char* buffer, size_t n, std::string* reason) override;
  const std::string& written() const { return written_; }

 private:
  std::string input_;
  size_t max_read_;
  size_t position_ = 0;
  std::string written_;
};

}  // namespace velarix

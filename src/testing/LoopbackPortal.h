// An in-process stand-in for the portal: an HTTP server on 127.0.0.1 with an ephemeral port,
// served by its own thread one connection at a time. It records every request it receives and
// answers it as configured, so tests can check the exact bytes that left the client.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velarix::testing {

class LoopbackPortal {
 public:
  // How later connections are answered.
  enum class Mode : uint8_t {
    kAnswer,              // status and body of SetAnswerStatus/SetAnswerBody (the default)
    kRaw,                 // the bytes of SetRawAnswer, as they are
    kNeverAnswer,         // read the request, then hold the connection open until destroyed
    kCloseWithoutAnswer,  // read the request, then close
    kEndlessAnswer,       // a head without Content-Length, then body bytes until the client leaves
  };

  // Certificate and key (PEM files) for an https portal.
  struct Tls {
    std::string certificate_file;
    std::string key_file;
  };

  LoopbackPortal();  // listening when constructed
  explicit LoopbackPortal(const Tls& tls);
  ~LoopbackPortal();  // stops and joins
  LoopbackPortal(const LoopbackPortal&) = delete;
  LoopbackPortal& operator=(const LoopbackPortal&) = delete;

  std::string BaseUrl() const;  // "http://127.0.0.1:<port>/" ("https://" with Tls)
  uint16_t port() const { return port_; }

  // Answer given to every later upload; default "{\"msg\":\"100\"}" with status 200.
  void SetAnswerBody(std::string json);
  void SetAnswerStatus(int status);
  // A raw answer (head and body) sent as is, for framing tests.
  void SetRawAnswer(std::string raw);
  void SetMode(Mode mode);

  struct Upload {
    std::string target;      // request target, e.g. "/api/docs/nfe/upload"
    std::string key;         // value of the "key" form field
    std::string file_name;   // filename parameter of the "file" part, as received
    std::string file_bytes;  // the file's bytes as received (without the trailing CR LF pair)
    std::string raw;         // the whole raw request, head and body
  };
  std::vector<Upload> Uploads() const;  // thread-safe copy, in arrival order
  // Connections accepted so far, including those that sent no complete request.
  int ConnectionCount() const { return connections_.load(); }

 private:
  class Connection;

  void Start();
  void Serve();
  void HandleConnection(int fd);

  int listen_fd_ = -1;
  int wake_fd_ = -1;  // an eventfd the destructor signals to stop the thread
  uint16_t port_ = 0;
  void* tls_context_ = nullptr;  // SSL_CTX*, when serving https
  std::thread thread_;
  std::atomic<int> connections_{0};

  mutable std::mutex mutex_;
  // Guarded by mutex_:
  Mode mode_ = Mode::kAnswer;
  int status_ = 200;
  std::string body_ = "{\"msg\":\"100\"}";
  std::string raw_;
  std::vector<Upload> uploads_;
};

// Splits a multipart/form-data request into the parts LoopbackPortal::Upload records. Returns
// false when the request is not a complete multipart upload.
bool ParseUploadRequest(const std::string& raw, LoopbackPortal::Upload* upload);

}  // namespace velarix::testing

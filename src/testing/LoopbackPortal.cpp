#include "testing/LoopbackPortal.h"
#include "platform/Text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace velarix::testing {

namespace {

// The value of header `name` in a request head (lines after the first), or empty.
std::string HeaderValue(std::string_view head, std::string_view name) {
  size_t pos = head.find("\r\n");
  while (pos != std::string_view::npos && pos + 2 < head.size()) {
    size_t start = pos + 2;
    size_t end = head.find("\r\n", start);
    std::string_view line = head.substr(start, end == std::string_view::npos ? end : end - start);
    if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return std::string(value);
    }
    pos = end;
  }
  return {};
}

// The quoted parameter `param` (e.g. "name") of a Content-Disposition line.
std::string DispositionParameter(std::string_view headers, std::string_view param) {
  std::string needle = "; " + std::string(param) + "=\"";
  size_t start = headers.find(needle);
  if (start == std::string_view::npos) return {};
  start += needle.size();
  size_t end = headers.find('"', start);
  return std::string(headers.substr(start, end == std::string_view::npos ? end : end - start));
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

bool ParseUploadRequest(const std::string& raw, LoopbackPortal::Upload* upload) {
  upload->raw = raw;
  size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return false;
  std::string_view head(raw.data(), head_end);
  size_t first_space = head.find(' ');
  size_t second_space = head.find(' ', first_space + 1);
  if (first_space == std::string_view::npos || second_space == std::string_view::npos) return false;
  upload->target = std::string(head.substr(first_space + 1, second_space - first_space - 1));

  std::string content_type = HeaderValue(head, "Content-Type");
  size_t b = content_type.find("boundary=");
  if (b == std::string::npos) return false;
  std::string delimiter = "--" + content_type.substr(b + 9);
  std::string_view body(raw.data() + head_end + 4, raw.size() - head_end - 4);

  if (body.substr(0, delimiter.size()) != delimiter) return false;
  size_t pos = delimiter.size();
  for (;;) {
    if (body.substr(pos, 2) == "--") return true;
    if (body.substr(pos, 2) != "\r\n") return false;
    pos += 2;
    size_t headers_end = body.find("\r\n\r\n", pos);
    if (headers_end == std::string_view::npos) return false;
    std::string_view headers = body.substr(pos, headers_end - pos);
    size_t content_start = headers_end + 4;
    size_t next = body.find("\r\n" + delimiter, content_start);
    if (next == std::string_view::npos) return false;
    std::string_view content = body.substr(content_start, next - content_start);
    std::string name = DispositionParameter(headers, "name");
    if (name == "key") {
      upload->key = std::string(content);
    } else if (name == "file") {
      upload->file_name = DispositionParameter(headers, "filename");
      // The client ends a file with two CR LF pairs; the first belongs to the content.
      if (content.size() >= 2 && content.substr(content.size() - 2) == "\r\n") {
        content.remove_suffix(2);
      }
      upload->file_bytes = std::string(content);
    }
    pos = next + 2 + delimiter.size();
  }
}

// One accepted connection, plain or TLS. Every wait also watches the portal's wake descriptor,
// so a client that stalls never keeps the destructor waiting.
class LoopbackPortal::Connection {
 public:
  Connection(int fd, int wake_fd, SSL_CTX* tls) : fd_(fd), wake_fd_(wake_fd) {
    // A safety net against a client that stops in the middle of a TLS record.
    timeval limit{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (tls != nullptr) {
      ssl_ = SSL_new(tls);
      SSL_set_fd(ssl_, fd_);
      if (SSL_accept(ssl_) != 1) {
        ERR_clear_error();
        failed_ = true;
      }
    }
  }
  ~Connection() {
    if (ssl_ != nullptr) {
      if (!failed_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    close(fd_);
  }

  bool failed() const { return failed_; }

  // Waits for data or the wake signal. Returns the bytes read, 0 at the end, -1 when woken or
  // on failure.
  ssize_t Read(char* buffer, size_t n) {
    if (failed_) return -1;
    if (ssl_ == nullptr || SSL_pending(ssl_) == 0) {
      if (!WaitFor(POLLIN)) return -1;
    }
    if (ssl_ != nullptr) {
      int got = SSL_read(ssl_, buffer, static_cast<int>(n));
      if (got > 0) return got;
      int error = SSL_get_error(ssl_, got);
      ERR_clear_error();
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      failed_ = true;
      return error == SSL_ERROR_SYSCALL ? 0 : -1;
    }
    for (;;) {
      ssize_t got = recv(fd_, buffer, n, 0);
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }

  bool Write(std::string_view data) {
    while (!data.empty() && !failed_) {
      if (!WaitFor(POLLOUT)) return false;
      ssize_t sent;
      if (ssl_ != nullptr) {
        sent = SSL_write(ssl_, data.data(), static_cast<int>(data.size()));
        if (sent <= 0) {
          ERR_clear_error();
          failed_ = true;
          return false;
        }
      } else {
        sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0) {
          if (errno == EINTR) continue;
          return false;
        }
      }
      data.remove_prefix(static_cast<size_t>(sent));
    }
    return !failed_;
  }

  // Holds the connection until the client closes it or the portal stops.
  void WaitForClose() {
    char buffer[4096];
    while (Read(buffer, sizeof buffer) > 0) {
    }
  }

 private:
  bool WaitFor(short events) {
    pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
    for (;;) {
      int ready = poll(fds, 2, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || fds[1].revents != 0) return false;
      return true;
    }
  }

  int fd_;
  int wake_fd_;
  SSL* ssl_ = nullptr;
  bool failed_ = false;
};

LoopbackPortal::LoopbackPortal() { Start(); }

LoopbackPortal::LoopbackPortal(const Tls& tls) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (SSL_CTX_use_certificate_chain_file(context, tls.certificate_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, tls.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    ADD_FAILURE() << "LoopbackPortal: cannot load " << tls.certificate_file << " / "
                  << tls.key_file;
  }
  tls_context_ = context;
  Start();
}

void LoopbackPortal::Start() {
  // A client that leaves while we write must not end the test process.
  signal(SIGPIPE, SIG_IGN);
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (listen_fd_ < 0 ||
      bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0) {
    ADD_FAILURE() << "LoopbackPortal: cannot listen: " << std::strerror(errno);
  }
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackPortal::~LoopbackPortal() {
  uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof one) < 0) ADD_FAILURE() << "LoopbackPortal: cannot wake";
  thread_.join();
  close(listen_fd_);
  close(wake_fd_);
  if (tls_context_ != nullptr) SSL_CTX_free(static_cast<SSL_CTX*>(tls_context_));
}

std::string LoopbackPortal::BaseUrl() const {
  return std::string(tls_context_ != nullptr ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(port_) + "/";
}

void LoopbackPortal::SetAnswerBody(std::string json) {
  std::lock_guard<std::mutex> lock(mutex_);
  body_ = std::move(json);
  mode_ = Mode::kAnswer;
}

void LoopbackPortal::SetAnswerStatus(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
  mode_ = Mode::kAnswer;
}

void LoopbackPortal::SetRawAnswer(std::string raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  raw_ = std::move(raw);
  mode_ = Mode::kRaw;
}

void LoopbackPortal::SetMode(Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  mode_ = mode;
}

std::vector<LoopbackPortal::Upload> LoopbackPortal::Uploads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploads_;
}

void LoopbackPortal::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    HandleConnection(fd);
  }
}

void LoopbackPortal::HandleConnection(int fd) {
  Connection connection(fd, wake_fd_, static_cast<SSL_CTX*>(tls_context_));
  if (connection.failed()) return;

  // The request: the head up to the empty line, then Content-Length bytes of body.
  std::string raw;
  char buffer[65536];
  size_t head_end = std::string::npos;
  size_t wanted = 0;
  for (;;) {
    if (head_end == std::string::npos) {
      head_end = raw.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        std::string length = HeaderValue(std::string_view(raw.data(), head_end), "Content-Length");
        size_t body_length = 0;
        std::from_chars(length.data(), length.data() + length.size(), body_length);
        wanted = head_end + 4 + body_length;
      }
    }
    if (head_end != std::string::npos && raw.size() >= wanted) break;
    ssize_t got = connection.Read(buffer, sizeof buffer);
    if (got <= 0) return;  // the client left before its request was complete
    raw.append(buffer, static_cast<size_t>(got));
  }

  Upload upload;
  ParseUploadRequest(raw, &upload);
  Mode mode;
  std::string answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uploads_.push_back(std::move(upload));
    mode = mode_;
    if (mode == Mode::kRaw) {
      answer = raw_;
    } else {
      answer =
          "HTTP/1.1 " + std::to_string(status_) + " " + ReasonPhrase(status_) +
          "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body_.size()) +
          "\r\nConnection: close\r\n\r\n" + body_;
    }
  }

  switch (mode) {
    case Mode::kAnswer:
    case Mode::kRaw:
      connection.Write(answer);
      break;
    case Mode::kNeverAnswer:
      connection.WaitForClose();
      break;
    case Mode::kCloseWithoutAnswer:
      break;
    case Mode::kEndlessAnswer: {
      if (!connection.Write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n")) break;
      std::string block(65536, ' ');
      while (connection.Write(block)) {
      }
      break;
    }
  }
}

}  // namespace velarix::testing

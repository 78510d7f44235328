// The portal misbehaving: connections reset at every stage, heads and lengths built to exhaust
// memory or wrap integers, floods of interim answers and a server that trickles. Each time the
// upload is simply not accepted, nothing crashes and every descriptor is released.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/Env.h"
#include "testing/TempDir.h"
#include "upload/EnviaArquivo.h"

namespace velarix {
namespace {

using testing::TempDir;

const std::string kAccepted = "{\"msg\":\"100\"}";

// A server on 127.0.0.1 that serves exactly one connection with a script of its own, on its
// own thread. Sending never raises SIGPIPE; a script ends when the client has gone.
class ScriptedServer {
 public:
  using Script = std::function<void(ScriptedServer&, int fd)>;

  explicit ScriptedServer(Script script) : script_(std::move(script)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listen_fd_, 1) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      script_(*this, fd);
      if (!reset_) close(fd);
    });
  }

  ~ScriptedServer() { Finish(); }

  // Waits until the script has ended and the server's sockets are closed.
  void Finish() {
    if (thread_.joinable()) {
      stop_ = true;
      thread_.join();
    }
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
  }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api/up"; }

  // Reads the request head and as much of the body as it announces, or stops after at most
  // `limit` bytes. Returns the bytes read.
  size_t ReadRequest(int fd, size_t limit = SIZE_MAX) {
    std::string data;
    size_t wanted = SIZE_MAX;
    char block[16384];
    while (data.size() < wanted && data.size() < limit) {
      ssize_t n = recv(fd, block, std::min(sizeof block, limit - data.size()), 0);
      if (n <= 0) break;
      data.append(block, static_cast<size_t>(n));
      size_t end = data.find("\r\n\r\n");
      if (wanted == SIZE_MAX && end != std::string::npos) {
        size_t at = data.find("Content-Length: ");
        wanted = end + 4 + std::stoul(data.substr(at + 16));
      }
    }
    return data.size();
  }

  // Sends all of data; false once the client has gone.
  bool Send(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  // Ends the connection with a TCP reset instead of an orderly close.
  void Reset(int fd) {
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close(fd);
    reset_ = true;
  }

  // True once the client closed its end; waits at most ms.
  static bool ClientGone(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    char c;
    return recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
  }

  bool stopping() const { return stop_; }

 private:
  Script script_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  bool reset_ = false;
};

HttpOptions ShortWait() {
  HttpOptions options;
  options.wait_ms = 2000;
  return options;
}

struct Misbehaviour {
  const char* name;
  ScriptedServer::Script script;
};

// The answer head and body, sent after the whole request has been read.
ScriptedServer::Script Answer(std::string raw) {
  return [raw](ScriptedServer& server, int fd) {
    server.ReadRequest(fd);
    server.Send(fd, raw);
  };
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(MisbehavingPortalTest, NoMisbehaviourIsTakenForAnAcceptance) {
  TempDir dir;
  // Large enough that the request is still being sent when the server resets it.
  testing::WriteFile(dir / "big.xml", std::string(8 * 1024 * 1024, 'x'));
  testing::WriteFile(dir / "NFe123.xml", "<NFe/>");
  const std::string head = "HTTP/1.1 200 OK\r\n";

  const Misbehaviour cases[] = {
      {"reset in the middle of the request body",
       [](ScriptedServer& server, int fd) {
         server.ReadRequest(fd, 64 * 1024);
         server.Reset(fd);
       }},
      {"reset in the middle of the answer head",
       [head](ScriptedServer& server, int fd) {
         server.ReadRequest(fd);
         server.Send(fd, head + "Content-Le");
         server.Reset(fd);
       }},
      {"orderly close in the middle of the answer head",
       [head](ScriptedServer& server, int fd) {
         server.ReadRequest(fd);
         server.Send(fd, head + "Content-Length: 13\r\n");
       }},
      {"reset after the head, before the body",
       [head](ScriptedServer& server, int fd) {
         server.ReadRequest(fd);
         server.Send(fd, head + "Content-Length: 13\r\n\r\n");
         ScriptedServer::ClientGone(fd, 50);  // let the head arrive on its own
         server.Reset(fd);
       }},
      {"reset after part of a body that runs to the close",
       [head](ScriptedServer& server, int fd) {
         server.ReadRequest(fd);
         server.Send(fd, head + "\r\n" + kAccepted);
         ScriptedServer::ClientGone(fd, 50);
         server.Reset(fd);
       }},
      {"1 MiB of header lines", Answer(head + Repeat("X-Filler: 0123456789abcdef\r\n", 37450) +
                                       "Content-Length: 13\r\n\r\n" + kAccepted)},
      {"one header line of 1 MiB", Answer(head + "X-Filler: " + std::string(1024 * 1024, 'f') +
                                          "\r\nContent-Length: 13\r\n\r\n" + kAccepted)},
      {"Content-Length of 2^63",
       Answer(head + "Content-Length: 9223372036854775808\r\n\r\n" + kAccepted)},
      {"Content-Length larger than 64 bits",
       Answer(head + "Content-Length: 340282366920938463463374607431768211469\r\n\r\n" +
              kAccepted)},
      {"negative Content-Length", Answer(head + "Content-Length: -1\r\n\r\n" + kAccepted)},
      {"Content-Length repeated with another value",
       Answer(head + "Content-Length: 13\r\nContent-Length: 14\r\n\r\n" + kAccepted + " ")},
      {"chunk size that wraps to 13 in 64 bits",
       Answer(head + "Transfer-Encoding: chunked\r\n\r\n1000000000000000d\r\n" + kAccepted +
              "\r\n0\r\n\r\n")},
      {"chunk size of 2^64 - 1",
       Answer(head + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n" + kAccepted)},
      {"10,000 interim 100 answers before the real one",
       Answer(Repeat("HTTP/1.1 100 Continue\r\n\r\n", 10000) + head + "Content-Length: 13\r\n\r\n" +
              kAccepted)},
  };

  for (const Misbehaviour& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string(c.name).find("request body") != std::string::npos
                                 ? dir / "big.xml"
                                 : dir / "NFe123.xml";
    ScriptedServer server(c.script);
    const int descriptors = testing::OpenDescriptorCount();
    EXPECT_FALSE(EnviaArquivo(server.Url(), "QMTRAZ", file, ShortWait()));
    server.Finish();
    EXPECT_EQ(testing::OpenDescriptorCount(), descriptors - 1);  // less the listening socket
  }
}

// The same server answering properly, so that the cases above fail for their misbehaviour and
// not for the way the test server talks.
TEST(MisbehavingPortalTest, TheScriptedServerCanAccept) {
  TempDir dir;
  testing::WriteFile(dir / "NFe123.xml", "<NFe/>");
  const char* answers[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n{\"msg\":\"100\"}",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "d\r\n{\"msg\":\"100\"}\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Length: 13\r\n\r\n{\"msg\":\"100\"}",
  };
  for (const char* answer : answers) {
    SCOPED_TRACE(answer);
    ScriptedServer server(Answer(answer));
    EXPECT_TRUE(EnviaArquivo(server.Url(), "QMTRAZ", dir / "NFe123.xml", ShortWait()));
  }
}

// One byte of a long answer at a time, each well inside the per-wait limit: only the bound on
// the whole exchange ends it.
TEST(MisbehavingPortalTest, TricklingServerIsCutOffByTheExchangeBound) {
  TempDir dir;
  testing::WriteFile(dir / "NFe123.xml", "<NFe/>");
  ScriptedServer server([](ScriptedServer& s, int fd) {
    s.ReadRequest(fd);
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + kAccepted;
    for (size_t i = 0; !s.stopping(); i = (i + 1) % answer.size()) {
      if (!s.Send(fd, std::string(1, answer[i])) || ScriptedServer::ClientGone(fd, 10)) break;
    }
  });
  HttpOptions options;
  options.wait_ms = 5000;
  options.exchange_ms = 400;
  const int descriptors = testing::OpenDescriptorCount();
  const int64_t start = Env::Default()->MonotonicMs();
  EXPECT_FALSE(EnviaArquivo(server.Url(), "QMTRAZ", dir / "NFe123.xml", options));
  const int64_t took = Env::Default()->MonotonicMs() - start;
  EXPECT_GE(took, 400);
  EXPECT_LT(took, 4000);  // well before a single wait would have run out
  server.Finish();
  EXPECT_EQ(testing::OpenDescriptorCount(), descriptors - 1);
}

// The program's own limits, on a clock that the socket moves: a byte every 80 seconds passes
// every 90-second wait, and the exchange still ends after ten minutes.
class SlowSocketEnv : public EnvWrapper {
 public:
  SlowSocketEnv() : EnvWrapper(Env::Default()) {}

  int64_t MonotonicMs() override { return now_ms; }

  std::unique_ptr<Socket> Connect(const std::string&, uint16_t, std::string*) override {
    return std::make_unique<SlowSocket>(this);
  }

  int64_t now_ms = 1000000;
  int longest_wait_ms = 0;
  int64_t bytes_given = 0;

 private:
  class SlowSocket : public Socket {
   public:
    explicit SlowSocket(SlowSocketEnv* env) : env_(env) {}
    bool SendAll(const char*, size_t, int timeout_ms, std::string*) override {
      env_->longest_wait_ms = std::max(env_->longest_wait_ms, timeout_ms);
      return true;
    }
    int64_t Receive(char* buffer, size_t n, int timeout_ms, std::string* reason) override {
      env_->longest_wait_ms = std::max(env_->longest_wait_ms, timeout_ms);
      if (timeout_ms < 80000) {  // the byte would come too late for this wait
        env_->now_ms += timeout_ms;
        *reason = "timed out";
        return -1;
      }
      env_->now_ms += 80000;
      static const std::string answer =
          "HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n{\"msg\":\"100\"}";
      buffer[0] = answer[static_cast<size_t>(env_->bytes_given++) % answer.size()];
      return n > 0 ? 1 : 0;
    }
    int NativeHandle() const override { return -1; }

   private:
    SlowSocketEnv* env_;
  };
};

TEST(MisbehavingPortalTest, ByteEveryEightySecondsEndsAtTheExchangeBound) {
  TempDir dir;
  testing::WriteFile(dir / "NFe123.xml", "<NFe/>");
  SlowSocketEnv env;
  const int64_t start = env.now_ms;
  {
    ScopedEnv scoped(&env);
    EXPECT_FALSE(EnviaArquivo("http://portal.example/api/up", "QMTRAZ", dir / "NFe123.xml"));
  }
  EXPECT_EQ(env.longest_wait_ms, kHttpWaitMs);
  EXPECT_EQ(env.bytes_given, kHttpExchangeMs / 80000);  // 7 bytes, far from a whole answer
  EXPECT_EQ(env.now_ms - start, kHttpExchangeMs);
}

}  // namespace
}  // namespace velarix

#include "CountingPortal.h"
#include "platform/Text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace velarix::bench {

namespace {

constexpr char kAnswer[] =
    "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: 13\r\n\r\n"
    "{\"msg\":\"100\"}";
constexpr size_t kMaxHeadBytes = 64 * 1024;

int64_t ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The Content-Length of a request head, or -1 when it has none that can be read.
int64_t ContentLength(std::string_view head) {
  constexpr std::string_view kName = "\r\ncontent-length:";
  for (size_t pos = head.find("\r\n"); pos != std::string_view::npos;
       pos = head.find("\r\n", pos + 2)) {
    std::string_view rest = head.substr(pos);
    if (rest.size() < kName.size()) break;
    if (!StartsWithNoCase(rest, kName)) continue;
    rest.remove_prefix(kName.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    int64_t n = -1;
    std::from_chars(rest.data(), rest.data() + rest.size(), n);
    return n;
  }
  return -1;
}

}  // namespace

CountingPortal::CountingPortal() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  if (listen_fd_ < 0 || wake_fd_ < 0) throw std::runtime_error("portal: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 128) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("portal: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

CountingPortal::~CountingPortal() {
  uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof one) < 0) {
    // Nothing else would stop the thread; closing the listener makes poll report it.
    shutdown(listen_fd_, SHUT_RDWR);
  }
  if (thread_.joinable()) thread_.join();
  close(listen_fd_);
  close(wake_fd_);
}

std::string CountingPortal::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void CountingPortal::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int64_t start = ThreadCpuNs();
    HandleConnection(fd);
    close(fd);
    busy_ns_ += ThreadCpuNs() - start;
  }
}

void CountingPortal::HandleConnection(int fd) {
  // A client that stops halfway must not hang the benchmark.
  timeval wait{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string head;
  char buffer[64 * 1024];
  size_t head_end = std::string::npos;
  while (head_end == std::string::npos) {
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0 || head.size() > kMaxHeadBytes) return;
    head.append(buffer, static_cast<size_t>(got));
    head_end = head.find("\r\n\r\n");
  }
  int64_t body = ContentLength(std::string_view(head).substr(0, head_end + 2));
  if (body < 0) return;
  int64_t left = body - static_cast<int64_t>(head.size() - head_end - 4);
  while (left > 0) {
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    left -= got;
  }
  std::string_view answer(kAnswer, sizeof kAnswer - 1);
  while (!answer.empty()) {
    ssize_t sent = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    answer.remove_prefix(static_cast<size_t>(sent));
  }
  ++uploads_;
}

}  // namespace velarix::bench

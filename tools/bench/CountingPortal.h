// An in-process portal for the benchmark: an HTTP server on 127.0.0.1 that accepts every upload
// with {"msg":"100"} and keeps nothing of it, so its memory stays the same however many files a
// run sends. It counts the uploads and the processor time its own thread spent serving them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace velarix::bench {

class CountingPortal {
 public:
  CountingPortal();   // listening when constructed; throws std::runtime_error when it cannot
  ~CountingPortal();  // stops and joins
  CountingPortal(const CountingPortal&) = delete;
  CountingPortal& operator=(const CountingPortal&) = delete;

  std::string BaseUrl() const;  // "http://127.0.0.1:<port>/"

  // Complete requests answered so far.
  uint64_t Uploads() const { return uploads_.load(); }
  // Processor time of the serving thread, in seconds, from accept to close of each connection.
  double BusySeconds() const { return static_cast<double>(busy_ns_.load()) / 1e9; }

 private:
  void Serve();
  void HandleConnection(int fd);

  int listen_fd_ = -1;
  int wake_fd_ = -1;  // an eventfd the destructor signals to stop the thread
  uint16_t port_ = 0;
  std::atomic<uint64_t> uploads_{0};
  std::atomic<int64_t> busy_ns_{0};
  std::thread thread_;
};

}  // namespace velarix::bench

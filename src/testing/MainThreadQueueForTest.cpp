#include "testing/MainThreadQueueForTest.h"

namespace velarix::testing {

MainThreadQueueForTest::~MainThreadQueueForTest() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return waiting_ == 0; });
}

void MainThreadQueueForTest::RunAndWait(const std::function<void()>& fn) {
  Call call{&fn};
  std::unique_lock<std::mutex> lock(mutex_);
  ++waiting_;
  queue_.push_back(&call);
  changed_.notify_all();
  changed_.wait(lock, [&] { return call.done; });
  --waiting_;
  changed_.notify_all();
}

int MainThreadQueueForTest::Pump(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return 0;
  int ran = 0;
  while (!queue_.empty()) {
    Call* call = queue_.front();
    queue_.pop_front();
    lock.unlock();
    (*call->fn)();
    lock.lock();
    call->done = true;
    ++ran;
    changed_.notify_all();
  }
  return ran;
}

}  // namespace velarix::testing

// The window thread's side of the thread facility for tests: the worker queues its completion
// handler and waits; the test thread runs it by pumping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/Thread.h"

namespace velarix::testing {

class MainThreadQueueForTest : public MainThreadQueue {
 public:
  // Waits until every worker that queued a call has left RunAndWait.
  ~MainThreadQueueForTest() override;

  void RunAndWait(const std::function<void()>& fn) override;

  // Runs every queued call, waiting up to timeout for the first one. Returns how many ran.
  int Pump(std::chrono::milliseconds timeout = std::chrono::seconds(30));

 private:
  struct Call {
    const std::function<void()>* fn;
    bool done = false;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Call*> queue_;  // guarded by mutex_
  int waiting_ = 0;          // workers inside RunAndWait; guarded by mutex_
};

}  // namespace velarix::testing

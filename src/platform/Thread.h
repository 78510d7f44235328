// A worker thread in the manner of the window framework's thread class: created suspended,
// started once, optionally freeing itself when it ends, and reporting its end through a
// completion handler that runs on the window thread while the worker waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velarix {

// The window thread's side of the facility. The program implements it with a blocking queued
// call into the Qt event loop; tests implement it with a queue the test thread pumps.
class MainThreadQueue {
 public:
  virtual ~MainThreadQueue() = default;
  // Runs fn on the window thread and returns once it has run. Called from the worker.
  virtual void RunAndWait(const std::function<void()>& fn) = 0;
};

class Thread {
 public:
  // The thread is created suspended: nothing runs until Start(). When main_thread is null the
  // completion handler runs on the worker itself.
  explicit Thread(MainThreadQueue* main_thread);
  // A thread that does not free itself is waited for here.
  virtual ~Thread();

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs on the window thread after Execute has ended, normally or through an exception, while
  // the worker waits. Set before Start().
  void SetOnTerminate(std::function<void(Thread*)> handler) { on_terminate_ = std::move(handler); }
  // When on, the object deletes itself once the completion handler has returned; the creator
  // must not touch it after Start() except from that handler. Set before Start().
  void SetFreeOnTerminate(bool free) { free_on_terminate_ = free; }

  // Starts Execute on a new thread. Throws Error when the system refuses a thread.
  void Start();

  // Asks the body to stop at its next safe point. Only the program's exit uses it.
  void RequestStop() { stop_requested_.store(true, std::memory_order_relaxed); }
  bool StopRequested() const { return stop_requested_.load(std::memory_order_relaxed); }

  // The message of the exception that ended Execute, or empty; read it in the handler.
  const std::string& FatalError() const { return fatal_error_; }

  // For a thread that does not free itself: blocks until the body and the completion handler
  // have run. Must not be called from the window thread while it is needed to run the handler.
  void WaitFor();

 protected:
  // The thread body.
  virtual void Execute() = 0;

 private:
  void Run();

  MainThreadQueue* main_thread_;
  std::function<void(Thread*)> on_terminate_;
  bool free_on_terminate_ = false;
  std::atomic<bool> stop_requested_{false};
  std::string fatal_error_;
  std::mutex start_mutex_;  // held while Start() stores thread_, which Run() may detach
  std::thread thread_;
};

}  // namespace velarix

#include "platform/Thread.h"

#include <system_error>

#include "platform/Error.h"

namespace velarix {

Thread::Thread(MainThreadQueue* main_thread) : main_thread_(main_thread) {}

Thread::~Thread() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Thread::Start() {
  std::lock_guard<std::mutex> lock(start_mutex_);
  try {
    thread_ = std::thread(&Thread::Run, this);
  } catch (const std::system_error& e) {
    throw Error(e.what());
  }
}

void Thread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void Thread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    fatal_error_ = e.what();
  } catch (...) {
    fatal_error_ = "unknown error";
  }
  if (on_terminate_) {
    auto notify = [this] { on_terminate_(this); };
    if (main_thread_ != nullptr) {
      main_thread_->RunAndWait(notify);
    } else {
      notify();
    }
  }
  if (free_on_terminate_) {
    { std::lock_guard<std::mutex> lock(start_mutex_); }  // Start() has stored thread_
    thread_.detach();
    delete this;
  }
}

}  // namespace velarix

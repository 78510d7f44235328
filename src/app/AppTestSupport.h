// Stand-ins for the app tests: dialogs that answer without a modal loop, and a worker whose run
// lasts until the test lets it end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "platform/Error.h"
#include "platform/Thread.h"

namespace velarix::testing {

// Records every box; answers questions with answer_yes and picks with pick (cancel by default).
class FakeDialogs : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  bool AskYesNo(const std::string& question) override {
    questions.push_back(question);
    return answer_yes;
  }
  bool PickFolder(std::string& path, const std::string& title) override {
    pick_starts.push_back(path);
    pick_titles.push_back(title);
    return pick ? pick(path) : false;
  }

  std::vector<std::string> messages, errors, questions, pick_starts, pick_titles;
  bool answer_yes = true;
  std::function<bool(std::string&)> pick;
};

// Shared by the test and the workers it lets the window create (they free themselves).
struct RunControl {
  // Lets one run end (the current one, or the next one to start).
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    ++releases;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  int releases = 0;
  bool honour_stop = true;             // a run ends early when asked to stop, as between two files
  std::string fail_with;               // a run's body ends with this error
  std::string refuse_with;             // the factory refuses to make a worker, with this error
  std::vector<std::string> base_urls;  // one per worker made, in order
};

class LatchWorker : public Thread {
 public:
  LatchWorker(MainThreadQueue* queue, std::shared_ptr<RunControl> control)
      : Thread(queue), control_(std::move(control)) {}

 protected:
  void Execute() override {
    std::unique_lock<std::mutex> lock(control_->mutex);
    while (control_->releases == 0 && !(control_->honour_stop && StopRequested())) {
      // A stop request does not notify; look again now and then.
      control_->changed.wait_for(lock, std::chrono::milliseconds(2));
    }
    if (control_->releases > 0) --control_->releases;
    if (!control_->fail_with.empty()) throw Error(control_->fail_with);
  }

 private:
  std::shared_ptr<RunControl> control_;
};

inline std::function<std::unique_ptr<Thread>(MainThreadQueue*, const std::string&)>
LatchWorkerFactory(std::shared_ptr<RunControl> control) {
  return [control](MainThreadQueue* queue, const std::string& base_url) -> std::unique_ptr<Thread> {
    std::lock_guard<std::mutex> lock(control->mutex);
    if (!control->refuse_with.empty()) throw Error(control->refuse_with);
    control->base_urls.push_back(base_url);
    return std::make_unique<LatchWorker>(queue, control);
  };
}

}  // namespace velarix::testing

#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/Error.h"
#include "testing/MainThreadQueueForTest.h"

namespace velarix {
namespace {

using testing::MainThreadQueueForTest;

class Probe : public Thread {
 public:
  Probe(MainThreadQueue* queue, bool fail, std::atomic<int>* alive)
      : Thread(queue), fail_(fail), alive_(alive) {
    ++*alive_;
  }
  ~Probe() override { --*alive_; }
  std::thread::id body_thread;

 protected:
  void Execute() override {
    body_thread = std::this_thread::get_id();
    if (fail_) throw Error("boom");
  }

 private:
  bool fail_;
  std::atomic<int>* alive_;
};

TEST(ThreadTest, CompletionRunsOnTheMainThreadOnEveryEndingThenTheObjectFreesItself) {
  for (bool fail : {false, true}) {
    MainThreadQueueForTest queue;
    std::atomic<int> alive{0};
    auto* probe = new Probe(&queue, fail, &alive);
    probe->SetFreeOnTerminate(true);
    std::thread::id handler_thread;
    std::string error;
    bool body_was_other_thread = false;
    probe->SetOnTerminate([&](Thread* t) {
      handler_thread = std::this_thread::get_id();
      error = t->FatalError();
      body_was_other_thread = static_cast<Probe*>(t)->body_thread != handler_thread;
    });
    probe->Start();
    ASSERT_EQ(queue.Pump(), 1);
    EXPECT_EQ(handler_thread, std::this_thread::get_id());
    EXPECT_TRUE(body_was_other_thread);
    EXPECT_EQ(error, fail ? "boom" : "");
    // The object frees itself right after the handler has returned.
    for (int i = 0; i < 5000 && alive.load() != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(alive.load(), 0);
  }
}

TEST(ThreadTest, NothingRunsBeforeStart) {
  std::atomic<int> alive{0};
  {
    Probe probe(nullptr, false, &alive);
    bool ran = false;
    probe.SetOnTerminate([&](Thread*) { ran = true; });
    EXPECT_FALSE(ran);
  }
  EXPECT_EQ(alive.load(), 0);
}

TEST(ThreadTest, WithoutAQueueTheHandlerRunsOnTheWorker) {
  std::atomic<int> alive{0};
  Probe probe(nullptr, false, &alive);
  std::thread::id handler_thread;
  probe.SetOnTerminate([&](Thread*) { handler_thread = std::this_thread::get_id(); });
  probe.Start();
  probe.WaitFor();
  EXPECT_EQ(handler_thread, probe.body_thread);
  EXPECT_FALSE(probe.StopRequested());
  probe.RequestStop();
  EXPECT_TRUE(probe.StopRequested());
}

}  // namespace
}  // namespace velarix

#include "app/GuiThreadQueue.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <thread>

#include "app/AppTestSupport.h"

namespace velarix {
namespace {

TEST(GuiThreadQueue, CallFromAWorkerRunsOnTheWindowThreadEvenInsideAModalBox) {
  GuiThreadQueue queue;
  QMessageBox box(QMessageBox::NoIcon, "Velarix", "Já está executando.", QMessageBox::Ok);
  std::thread worker;
  QThread* ran_on = nullptr;
  bool returned = false;
  QTimer::singleShot(0, &box, [&] {
    worker = std::thread([&] {
      queue.RunAndWait([&] {
        ran_on = QThread::currentThread();
        box.done(QMessageBox::Ok);
      });
      returned = true;  // only after the call has run
    });
  });
  QTimer::singleShot(20000, &box, [&box] { box.done(-1); });  // a lost call fails, not hangs
  EXPECT_EQ(box.exec(), QMessageBox::Ok);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ran_on, QApplication::instance()->thread());
}

TEST(GuiThreadQueue, CallFromTheWindowThreadRunsAtOnceAndErrorsAreShown) {
  testing::FakeDialogs dialogs;
  ScopedDialogs scoped(&dialogs);
  GuiThreadQueue queue;
  bool ran = false;
  queue.RunAndWait([&ran] { ran = true; });
  EXPECT_TRUE(ran);
  queue.RunAndWait([] { throw Error("falhou"); });
  EXPECT_EQ(dialogs.errors, std::vector<std::string>{"falhou"});
}

}  // namespace
}  // namespace velarix

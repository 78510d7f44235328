#include "app/QuitSignals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QSignalSpy>

namespace velarix {
namespace {

TEST(QuitSignals, TermAndIntArriveOnTheWindowThreadAndThePreviousHandlersComeBack) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    struct sigaction before = {};
    sigaction(signal_number, nullptr, &before);
    {
      QuitSignals signals_watch;
      QSignalSpy received(&signals_watch, &QuitSignals::Received);
      ASSERT_EQ(raise(signal_number), 0);
      ASSERT_TRUE(received.wait(10000)) << signal_number;
      ASSERT_EQ(received.count(), 1);
      EXPECT_EQ(received.at(0).at(0).toInt(), signal_number);
    }
    struct sigaction after = {};
    sigaction(signal_number, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
  }
}

}  // namespace
}  // namespace velarix

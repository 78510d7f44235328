// The app tests need one QApplication for the whole process, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

namespace {

QtMessageHandler default_handler = nullptr;

// The offscreen platform says this about every dialog; it tells nothing.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("propagateSizeHints"))) return;
  default_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  default_handler = qInstallMessageHandler(QuietHandler);
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}

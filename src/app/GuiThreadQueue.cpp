#include "app/GuiThreadQueue.h"

#include <QThread>

#include "app/Dialogs.h"

namespace velarix {

void GuiThreadQueue::RunAndWait(const std::function<void()>& fn) {
  // A blocking queued call into one's own thread would wait for itself forever.
  if (QThread::currentThread() == thread()) {
    RunHandler(fn);
    return;
  }
  QMetaObject::invokeMethod(
      this, [&fn] { RunHandler(fn); }, Qt::BlockingQueuedConnection);
}

}  // namespace velarix

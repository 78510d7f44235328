// The window thread's side of the thread facility: a worker's call is queued into the Qt event
// loop of the thread that owns this object and the worker waits until it has run. Any loop that
// thread runs delivers it, including a modal message box or the folder picker.
#pragma once

#include <QObject>
#include <functional>

#include "platform/Thread.h"

namespace velarix {

class GuiThreadQueue : public QObject, public MainThreadQueue {
  Q_OBJECT

 public:
  explicit GuiThreadQueue(QObject* parent = nullptr) : QObject(parent) {}

  // From another thread: blocks until fn has run on this object's thread. From that thread
  // itself: runs fn at once. An exception from fn is shown in the standard error box.
  void RunAndWait(const std::function<void()>& fn) override;
};

}  // namespace velarix

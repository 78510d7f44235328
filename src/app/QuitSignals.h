// SIGTERM and SIGINT end the program the same way as "Sair": the handler only writes the signal
// number into a pipe, and the window thread reads it from its event loop.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace velarix {

class QuitSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; at most one instance at a time. The previous handlers come back
  // when it is destroyed.
  explicit QuitSignals(QObject* parent = nullptr);
  ~QuitSignals() override;

 signals:
  // On the window thread, once per signal delivered.
  void Received(int signal_number);

 private:
  void Drain();

  int pipe_[2] = {-1, -1};
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velarix

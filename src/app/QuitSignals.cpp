#include "app/QuitSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "platform/Error.h"

namespace velarix {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};
int write_end = -1;
struct sigaction previous[2];

void OnSignal(int signal_number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // A full pipe already holds a pending request; losing this one changes nothing.
  [[maybe_unused]] ssize_t written = ::write(write_end, &byte, 1);
  errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw Error("Unable to watch for signals: " + SystemErrorText(errno));
  }
  write_end = pipe_[1];
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(kSignals[i], &action, &previous[i]);
  }
}

QuitSignals::~QuitSignals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &previous[i], nullptr);
  }
  write_end = -1;
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void QuitSignals::Drain() {
  unsigned char bytes[16];
  ssize_t count;
  while ((count = ::read(pipe_[0], bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < count; ++i) emit Received(bytes[i]);
  }
}

}  // namespace velarix

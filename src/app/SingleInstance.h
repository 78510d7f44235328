// One agent per settings file: a second copy started for the same file hands over to the
// running one, which brings its window to the front, and exits. Two agents would upload every
// document twice.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <string>

namespace velarix {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // key is the settings file's path; the lock and the socket are named after a hash of it.
  explicit SingleInstance(const std::string& key, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when another copy holds key: it has been asked to show its window (waiting up to
  // wait for it to listen) and this copy should exit. Otherwise this copy now holds key and
  // answers later copies; a lock or socket left by a crashed copy is taken over.
  bool HandOver(std::chrono::milliseconds wait = std::chrono::seconds(3));

  // The local socket's name for key; the lock file is the same name with ".lock" in the
  // temporary folder.
  static QString ServerName(const std::string& key);

 signals:
  // A later copy asked for the window.
  void ActivationRequested();

 private:
  void ReadRequest();

  QString name_;
  QLockFile lock_;
  QLocalServer server_;
};

}  // namespace velarix

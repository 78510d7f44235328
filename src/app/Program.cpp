#include "app/Program.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdlib>

#include "app/Dialogs.h"
#include "app/FolderPicker.h"
#include "app/QuitSignals.h"
#include "app/SettingsDialog.h"
#include "app/SingleInstance.h"
#include "config/Settings.h"

namespace velarix {

int RunProgram(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  // The window only hides; the agent lives on in the background.
  QApplication::setQuitOnLastWindowClosed(false);
  StartupPickerFacts();

  SingleInstance instance(SettingsFilePath());
  if (instance.HandOver()) return EXIT_SUCCESS;

  QuitSignals quit_signals;
  TFSettingsDialog window;
  QObject::connect(&instance, &SingleInstance::ActivationRequested, &window,
                   [&window] { RunHandler([&window] { window.RestoreWindow(); }); });
  QObject::connect(&quit_signals, &QuitSignals::Received, &window,
                   [&window] { RunHandler([&window] { window.Sair1Click(); }); });
  // The session ending is not vetoed: it ends the program like "Sair".
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   [&window](QSessionManager&) { RunHandler([&window] { window.Sair1Click(); }); });
  window.ShowTrayIcon();
  window.show();

  const int status = QApplication::exec();
  // A quit that did not come through Sair1Click still gives the run its chance to stop.
  if (!window.StopRun(window.Quitting() ? std::chrono::milliseconds(0) : kExitWait)) {
    // The worker outlived the wait: tearing the window and the services down beneath it
    // would crash it mid-file. Every file and database write it makes is complete on its own.
    std::_Exit(status);
  }
  return status;
}

}  // namespace velarix

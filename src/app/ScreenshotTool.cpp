// Renders the settings window, built from the real widgets, to a PNG for the documentation:
// velarix_screenshot <output.png>. Runs on any Qt platform, the offscreen one included.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "app/SettingsDialog.h"
#include "config/Settings.h"
#include "log/Diretory.h"
#include "log/Log.h"

namespace {

// A run that does nothing: the picture needs the window, not a transmission.
class IdleRun : public velarix::Thread {
 public:
  using Thread::Thread;

 protected:
  void Execute() override {}
};

constexpr char kSampleSettings[] =
    "[DATA]\n"
    "nfenfce_upload_xml_1=/srv/fiscal/nfe/autorizadas\n"
    "events_upload_nfenfce_xml_1=/srv/fiscal/nfe/eventos\n"
    "inutilization_upload_nfenfce_xml_1=/srv/fiscal/nfe/inutilizadas\n"
    "[WEBSERVICE]\n"
    "Url=http://127.0.0.1:8080/\n";

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: velarix_screenshot <output.png>\n");
    return 2;
  }
  // Nothing beside the real executable is touched: settings and log go to a scratch folder.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return 1;
  const std::string folder = scratch.path().toStdString();
  const std::string settings = folder + "/velarix.ini";
  if (FILE* file = std::fopen(settings.c_str(), "wb")) {
    std::fputs(kSampleSettings, file);
    std::fclose(file);
  }
  velarix::SetSettingsFilePath(settings);
  velarix::TLog::ResetForTesting(new velarix::TDiretory(folder + "/"));

  velarix::TFSettingsDialog window(
      [](velarix::MainThreadQueue* queue, const std::string&) -> std::unique_ptr<velarix::Thread> {
        return std::make_unique<IdleRun>(queue);
      });
  window.show();
  QApplication::processEvents();
  const QPixmap picture = window.grab();
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "velarix_screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  // Let the idle run's completion arrive before the window goes.
  window.StopRun(std::chrono::seconds(5));
  return 0;
}

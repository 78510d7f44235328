#include "app/Dialogs.h"

#include <QMessageBox>
#include <QString>
#include <exception>

#include "app/FolderPicker.h"

namespace velarix {
namespace {

class QtDialogs : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
  }
  void ShowError(const std::string& text) override {
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
  }
  bool AskYesNo(const std::string& question) override { return velarix::AskYesNo(question); }
  bool PickFolder(std::string& path, const std::string& title) override {
    return velarix::PickFolder(path, title);
  }
};

Dialogs* current = nullptr;

}  // namespace

Dialogs* Dialogs::Default() {
  static QtDialogs dialogs;
  return &dialogs;
}

Dialogs* Dialogs::Current() { return current != nullptr ? current : Default(); }

ScopedDialogs::ScopedDialogs(Dialogs* dialogs) : previous_(current) { current = dialogs; }
ScopedDialogs::~ScopedDialogs() { current = previous_; }

void RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    Dialogs::Current()->ShowError(e.what());
  } catch (...) {
    Dialogs::Current()->ShowError("Unknown error");
  }
}

}  // namespace velarix

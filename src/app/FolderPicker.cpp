#include "app/FolderPicker.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "app/Dialogs.h"
#include "app/FolderBrowseDialog.h"
#include "platform/Env.h"

namespace velarix {
namespace {

// Disables the visible, enabled top-level windows for its lifetime, then enables again those
// of them that still exist, on every way out.
class DisabledTopLevelWindows {
 public:
  DisabledTopLevelWindows() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->isVisible() && window->isEnabled()) {
        window->setEnabled(false);
        disabled_.emplace_back(window);
      }
    }
  }
  ~DisabledTopLevelWindows() {
    for (const QPointer<QWidget>& window : disabled_) {
      if (window) window->setEnabled(true);
    }
  }
  DisabledTopLevelWindows(const DisabledTopLevelWindows&) = delete;
  DisabledTopLevelWindows& operator=(const DisabledTopLevelWindows&) = delete;

 private:
  std::vector<QPointer<QWidget>> disabled_;
};

std::string FolderMissingQuestion(const std::string& name) {
  static constexpr std::string_view kBefore = "Pasta \"";
  static constexpr std::string_view kAfter = "\" não existe. Deseja prosseguir ?";
  std::string question(kBefore);
  question += name;
  question += kAfter;
  return question;
}

}  // namespace

const PickerFacts& StartupPickerFacts() {
  static const PickerFacts facts;
  return facts;
}

unsigned BrowseFlags(const PickerFacts& facts) {
  unsigned flags = kBifReturnOnlyFsDirs;
  if (facts.common_controls_472) flags |= kBifEditBox | kBifValidate;
  if (facts.common_controls_580) flags |= kBifNewDialogStyle;
  return flags;
}

bool EqualsOwnDirectory(const std::string& path) {
  const std::size_t last = path.rfind('/');
  std::string directory = last == std::string::npos ? std::string() : path.substr(0, last + 1);
  // A last "/" is dropped unless it is the root or follows another "/".
  if (!directory.empty()) {
    const std::size_t end = directory.size() - 1;
    if (end != 0 && directory[end - 1] != '/') directory.erase(end);
  }
  return directory == path;
}

int PickFolderCallback(BrowseDialogRequests& dialog, unsigned notification,
                       const std::optional<std::string>& argument, const std::string& data) {
  switch (notification) {
    case kBffmInitialized:
      // The old platform family's notification carries no text to select.
      if (!StartupPickerFacts().windows95_family) dialog.SetSelection(data);
      return 0;
    case kBffmSelChanged:
      dialog.EnableOk(argument.has_value() && Env::Current()->DirectoryExists(*argument));
      return 0;
    case kBffmValidateFailedA:
    case kBffmValidateFailedW:
      if (Dialogs::Current()->AskYesNo(FolderMissingQuestion(argument.value_or("")))) {
        dialog.EnableOk(false);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

bool PickFolder(std::string& path, const std::string& title) {
  const unsigned flags = BrowseFlags(StartupPickerFacts());
  if (EqualsOwnDirectory(path)) path += '/';
  const std::string start = path;

  DisabledTopLevelWindows disabled;
  // No parent: a disabled parent would disable the dialog with it.
  FolderBrowseDialog dialog(title, flags,
                            [&start](BrowseDialogRequests& requests, unsigned notification,
                                     const std::optional<std::string>& argument) {
                              return PickFolderCallback(requests, notification, argument, start);
                            });
  const bool chosen = dialog.exec() == QDialog::Accepted && dialog.ChosenPath().has_value();
  if (chosen) path = *dialog.ChosenPath();
  return chosen;
}

bool AskYesNo(const std::string& question) {
  QApplication::beep();
  QMessageBox box(QMessageBox::Question, kApplicationTitle, QString::fromStdString(question),
                  QMessageBox::Yes | QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace velarix

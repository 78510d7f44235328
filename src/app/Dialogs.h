// The program's message boxes and the folder picker, reached through one seam so that tests can
// answer them without entering a modal loop.
#pragma once

#include <functional>
#include <string>

namespace velarix {

// The application title: the caption of every message box of the program.
inline constexpr char kApplicationTitle[] = "Velarix";

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The Qt implementation; lives for the whole process.
  static Dialogs* Default();
  // Default() unless a ScopedDialogs is in force.
  static Dialogs* Current();

  // A modal box captioned with the application title, a single OK button and no icon.
  virtual void ShowMessage(const std::string& text) = 0;
  // The standard error box: application title, stop icon, OK.
  virtual void ShowError(const std::string& text) = 0;
  // Beeps, then a modal Yes/No box with the question icon. True for Yes.
  virtual bool AskYesNo(const std::string& question) = 0;
  // The folder picker (FolderPicker.h).
  virtual bool PickFolder(std::string& path, const std::string& title) = 0;
};

// Makes dialogs the Current() ones for its lifetime (tests).
class ScopedDialogs {
 public:
  explicit ScopedDialogs(Dialogs* dialogs);
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

 private:
  Dialogs* previous_;
};

// Runs a window handler. Qt lets no exception cross its event loop, so one that escapes the
// handler is shown in the standard error box here and the program goes on.
void RunHandler(const std::function<void()>& handler);

}  // namespace velarix

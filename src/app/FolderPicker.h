// The folder picker: a modal folder-browse dialog with the program's own checks on top, OK only
// for an existing folder and a question for a typed name that does not exist.
#pragma once

#include <optional>
#include <string>

namespace velarix {

// The browse dialog's flag word.
inline constexpr unsigned kBifReturnOnlyFsDirs = 0x0001;
inline constexpr unsigned kBifEditBox = 0x0010;   // an edit box for typing a folder name
inline constexpr unsigned kBifValidate = 0x0020;  // a typed name that is no folder is reported
inline constexpr unsigned kBifNewDialogStyle = 0x0040;

// The dialog's notifications to the callback.
inline constexpr unsigned kBffmInitialized = 1;      // the dialog has opened
inline constexpr unsigned kBffmSelChanged = 2;       // argument: the selected item's path
inline constexpr unsigned kBffmValidateFailedA = 3;  // argument: the typed name
inline constexpr unsigned kBffmValidateFailedW = 4;

// What the dialog offers, fixed once at start-up. Our dialog has the edit box, validation and
// the new style, so a process always gets all four flags; the old-platform branch never applies.
struct PickerFacts {
  bool windows95_family = false;
  bool common_controls_472 = true;
  bool common_controls_580 = true;
};

// Computed on the first call (the program makes it before the window exists), then fixed.
const PickerFacts& StartupPickerFacts();
// The flag word for those facts.
unsigned BrowseFlags(const PickerFacts& facts);

// The requests the callback may make of an open dialog.
class BrowseDialogRequests {
 public:
  virtual ~BrowseDialogRequests() = default;
  // Selects the folder at path; a path the dialog cannot show selects nothing.
  virtual void SetSelection(const std::string& path) = 0;
  virtual void EnableOk(bool enable) = 0;
};

// True when path's directory part is the whole path: the empty path, "/", or a path whose last
// "/" follows another "/". False for "/tmp", "/tmp/" and a bare name.
bool EqualsOwnDirectory(const std::string& path);

// Answers one notification of the dialog. argument is the selected item's file-system path
// (nullopt for an item without one) or the typed name; data is the starting path. The answer
// matters for the validation failures only: 1 keeps the dialog open.
int PickFolderCallback(BrowseDialogRequests& dialog, unsigned notification,
                       const std::optional<std::string>& argument, const std::string& data);

// Shows the dialog with title, starting at path, while the program's other windows are
// disabled. True when a folder was chosen; path then holds it. A path for which
// EqualsOwnDirectory holds gets a "/" appended, which stays even when the user cancels.
bool PickFolder(std::string& path, const std::string& title);

// Beeps, then asks question in a Yes/No box with the question icon. True for Yes.
bool AskYesNo(const std::string& question);

}  // namespace velarix

// The folder-browse dialog behind PickFolder: a tree of the file system's folders from "/" down,
// an edit box for typing a folder when the flags ask for it, OK and Cancel. It tells a callback
// what happens and takes the callback's requests, so the program's checks live outside it.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "app/FolderPicker.h"

class QDialogButtonBox;
class QFileSystemModel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace velarix {

class FolderBrowseDialog : public QDialog, public BrowseDialogRequests {
  Q_OBJECT

 public:
  // Receives the notification code and its argument (see PickFolderCallback).
  using Callback =
      std::function<int(BrowseDialogRequests&, unsigned, const std::optional<std::string>&)>;

  FolderBrowseDialog(const std::string& title, unsigned flags, Callback callback,
                     QWidget* parent = nullptr);
  ~FolderBrowseDialog() override;

  void SetSelection(const std::string& path) override;
  void EnableOk(bool enable) override;

  // The folder chosen with OK; nullopt until then.
  const std::optional<std::string>& ChosenPath() const { return chosen_; }
  // The selected folder's path, or nullopt.
  std::optional<std::string> SelectedPath() const;

  QTreeView* Tree() const { return tree_; }
  QLineEdit* NameEdit() const { return name_edit_; }  // null without kBifEditBox
  QPushButton* OkButton() const;

  // OK: takes the typed name when it differs from the selection; a typed name that is not a
  // folder is reported to the callback, which keeps the dialog open (1) or lets it close (0).
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SelectionChanged(const QModelIndex& current);

  unsigned flags_;
  Callback callback_;
  QFileSystemModel* model_;
  QTreeView* tree_;
  QLineEdit* name_edit_ = nullptr;
  QDialogButtonBox* buttons_;
  bool initialized_ = false;
  std::optional<std::string> chosen_;
};

}  // namespace velarix

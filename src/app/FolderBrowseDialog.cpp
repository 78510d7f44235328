#include "app/FolderBrowseDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/Env.h"

namespace velarix {

FolderBrowseDialog::FolderBrowseDialog(const std::string& title, unsigned flags, Callback callback,
                                       QWidget* parent)
    : QDialog(parent), flags_(flags), callback_(std::move(callback)) {
  setWindowTitle(QString::fromStdString(title));
  resize(380, 440);

  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setReadOnly(true);
  model_->setRootPath(QStringLiteral("/"));

  tree_ = new QTreeView(this);
  tree_->setModel(model_);
  tree_->setHeaderHidden(true);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { SelectionChanged(current); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_);
  if ((flags_ & kBifEditBox) != 0) {
    name_edit_ = new QLineEdit(this);
    layout->addWidget(name_edit_);
  }
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons_, &QDialogButtonBox::accepted, this, &FolderBrowseDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &FolderBrowseDialog::reject);
  layout->addWidget(buttons_);
  // Nothing is selected yet, so nothing may be confirmed.
  OkButton()->setEnabled(false);
}

FolderBrowseDialog::~FolderBrowseDialog() = default;

QPushButton* FolderBrowseDialog::OkButton() const { return buttons_->button(QDialogButtonBox::Ok); }

void FolderBrowseDialog::SetSelection(const std::string& path) {
  const QModelIndex index = model_->index(QString::fromStdString(path));
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
}

void FolderBrowseDialog::EnableOk(bool enable) { OkButton()->setEnabled(enable); }

std::optional<std::string> FolderBrowseDialog::SelectedPath() const {
  const QModelIndex index = tree_->currentIndex();
  if (!index.isValid()) return std::nullopt;
  return model_->filePath(index).toStdString();
}

void FolderBrowseDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialized_) return;
  initialized_ = true;
  callback_(*this, kBffmInitialized, std::nullopt);
}

void FolderBrowseDialog::SelectionChanged(const QModelIndex& current) {
  std::optional<std::string> path;
  if (current.isValid()) path = model_->filePath(current).toStdString();
  if (name_edit_ != nullptr) name_edit_->setText(QString::fromStdString(path.value_or("")));
  callback_(*this, kBffmSelChanged, path);
}

void FolderBrowseDialog::accept() {
  const std::optional<std::string> selected = SelectedPath();
  if (name_edit_ != nullptr) {
    const std::string typed = name_edit_->text().toStdString();
    if (!typed.empty() && typed != selected) {
      // A relative name is taken inside the selected folder, as the edit box shows that
      // folder's path.
      QString resolved = QString::fromStdString(typed);
      if (!resolved.startsWith('/') && selected) {
        resolved = QString::fromStdString(*selected) + '/' + resolved;
      }
      resolved = QDir::cleanPath(resolved);
      if (resolved.startsWith('/') && Env::Current()->DirectoryExists(resolved.toStdString())) {
        chosen_ = resolved.toStdString();
        QDialog::accept();
        return;
      }
      if ((flags_ & kBifValidate) == 0) return;
      if (callback_(*this, kBffmValidateFailedA, typed) != 0) return;
      // Closing after a refused name chooses nothing: the name names no folder.
      QDialog::reject();
      return;
    }
  }
  if (!selected || !OkButton()->isEnabled()) return;
  chosen_ = selected;
  QDialog::accept();
}

}  // namespace velarix

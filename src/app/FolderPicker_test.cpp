#include "app/FolderPicker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/AppTestSupport.h"
#include "app/FolderBrowseDialog.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::FakeDialogs;
using testing::TempDir;

class RecordingRequests : public BrowseDialogRequests {
 public:
  void SetSelection(const std::string& path) override { selections.push_back(path); }
  void EnableOk(bool enable) override { enables.push_back(enable); }
  std::vector<std::string> selections;
  std::vector<bool> enables;
};

TEST(EqualsOwnDirectory, TrueExactlyWhenThePathIsItsOwnFolderPart) {
  const struct {
    const char* path;
    bool expected;
  } cases[] = {
      {"", true},
      {"/", true},
      {"//", true},
      {"/tmp//", true},
      {"/tmp", false},
      {"/tmp/", false},
      {"name", false},
      {"a/", false},
      {"/a/b", false},
      {"./", false},
      {"pasta com espaço/", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EqualsOwnDirectory(c.path), c.expected) << '"' << c.path << '"';
  }
}

TEST(BrowseFlags, FollowTheStartUpFacts) {
  const struct {
    bool controls_472, controls_580;
    unsigned expected;
  } cases[] = {
      {false, false, kBifReturnOnlyFsDirs},
      {true, false, kBifReturnOnlyFsDirs | kBifEditBox | kBifValidate},
      {true, true, 0x0071},
  };
  for (const auto& c : cases) {
    PickerFacts facts;
    facts.common_controls_472 = c.controls_472;
    facts.common_controls_580 = c.controls_580;
    EXPECT_EQ(BrowseFlags(facts), c.expected) << c.controls_472 << c.controls_580;
  }
  // Our own dialog has everything, so the program always asks for all four.
  EXPECT_EQ(BrowseFlags(StartupPickerFacts()), 0x0071u);
}

TEST(PickFolderCallback, InitializedSelectsTheStartingPath) {
  RecordingRequests dialog;
  EXPECT_EQ(PickFolderCallback(dialog, kBffmInitialized, std::nullopt, "/"), 0);
  EXPECT_EQ(dialog.selections, std::vector<std::string>{"/"});
  EXPECT_TRUE(dialog.enables.empty());
}

TEST(PickFolderCallback, SelectionChangeEnablesOkOnlyForAnExistingFolder) {
  TempDir dir;
  testing::WriteFile(dir / "file.xml", "<a/>");
  testing::MakeDirs(dir / "pasta com espaço");
  const struct {
    std::optional<std::string> item;
    bool ok;
  } cases[] = {
      {dir.path(), true},
      {dir / "pasta com espaço", true},
      {dir / "missing", false},
      {dir / "file.xml", false},
      {dir / "file.xml/below", false},
      {std::nullopt, false},  // an item with no file-system path
  };
  for (const auto& c : cases) {
    RecordingRequests dialog;
    EXPECT_EQ(PickFolderCallback(dialog, kBffmSelChanged, c.item, "/"), 0);
    EXPECT_EQ(dialog.enables, std::vector<bool>{c.ok}) << c.item.value_or("(none)");
    EXPECT_TRUE(dialog.selections.empty());
  }
}

TEST(PickFolderCallback, TypedNameThatIsNoFolderAsksAndYesKeepsTheDialogOpen) {
  for (unsigned notification : {kBffmValidateFailedA, kBffmValidateFailedW}) {
    for (bool yes : {true, false}) {
      FakeDialogs dialogs;
      dialogs.answer_yes = yes;
      ScopedDialogs scoped(&dialogs);
      RecordingRequests dialog;
      const int answer =
          PickFolderCallback(dialog, notification, std::string("notas \"2024\" 100%s"), "/");
      ASSERT_EQ(dialogs.questions.size(), 1u);
      EXPECT_EQ(dialogs.questions[0],
                "Pasta \"notas \"2024\" 100%s\" não existe. Deseja prosseguir ?");
      EXPECT_EQ(answer, yes ? 1 : 0);
      EXPECT_EQ(dialog.enables, yes ? std::vector<bool>{false} : std::vector<bool>{});
    }
  }
}

TEST(PickFolderCallback, OtherNotificationsDoNothing) {
  FakeDialogs dialogs;
  ScopedDialogs scoped(&dialogs);
  RecordingRequests dialog;
  for (unsigned notification : {0u, 5u, 0x465u}) {
    EXPECT_EQ(PickFolderCallback(dialog, notification, std::string("/tmp"), "/"), 0);
  }
  EXPECT_TRUE(dialog.selections.empty());
  EXPECT_TRUE(dialog.enables.empty());
  EXPECT_TRUE(dialogs.questions.empty());
}

// The dialog with the program's callback, as PickFolder builds it, shown without a modal loop.
class BrowseDialogTest : public ::testing::Test {
 protected:
  void Open(const std::string& start) {
    dialog_ = std::make_unique<FolderBrowseDialog>(
        "Selecione uma Pasta", BrowseFlags(StartupPickerFacts()),
        [start](BrowseDialogRequests& requests, unsigned notification,
                const std::optional<std::string>& argument) {
          return PickFolderCallback(requests, notification, argument, start);
        });
    dialog_->show();
  }

  TempDir dir_;
  FakeDialogs dialogs_;
  ScopedDialogs scoped_{&dialogs_};
  std::unique_ptr<FolderBrowseDialog> dialog_;
};

TEST_F(BrowseDialogTest, OpensOnTheStartingFolderWithOkEnabled) {
  Open(dir_.path());
  EXPECT_EQ(dialog_->windowTitle(), "Selecione uma Pasta");
  EXPECT_EQ(dialog_->SelectedPath(), dir_.path());
  EXPECT_EQ(dialog_->NameEdit()->text().toStdString(), dir_.path());
  EXPECT_TRUE(dialog_->OkButton()->isEnabled());
}

TEST_F(BrowseDialogTest, RootStartSelectsTheRoot) {
  Open("/");
  EXPECT_EQ(dialog_->SelectedPath(), "/");
}

TEST_F(BrowseDialogTest, StartThatCannotBeShownSelectsNothingAndLeavesOkDisabled) {
  Open(dir_ / "missing");
  EXPECT_EQ(dialog_->SelectedPath(), std::nullopt);
  EXPECT_FALSE(dialog_->OkButton()->isEnabled());
  dialog_->accept();
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->ChosenPath(), std::nullopt);
}

TEST_F(BrowseDialogTest, OkChoosesTheSelectedFolder) {
  testing::MakeDirs(dir_ / "notas fiscais");
  Open(dir_.path());
  dialog_->SetSelection(dir_ / "notas fiscais");
  dialog_->OkButton()->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(dialog_->ChosenPath(), dir_ / "notas fiscais");
}

TEST_F(BrowseDialogTest, TypedFolderIsTakenAbsoluteOrInsideTheSelection) {
  testing::MakeDirs(dir_ / "a/b");
  const struct {
    std::string typed, chosen;
  } cases[] = {{dir_ / "a/b", dir_ / "a/b"}, {"a/b", dir_ / "a/b"}, {dir_ / "a/b/", dir_ / "a/b"}};
  for (const auto& c : cases) {
    Open(dir_.path());
    dialog_->NameEdit()->setText(QString::fromStdString(c.typed));
    dialog_->OkButton()->click();
    EXPECT_EQ(dialog_->ChosenPath(), c.chosen) << c.typed;
    EXPECT_TRUE(dialogs_.questions.empty());
  }
}

TEST_F(BrowseDialogTest, TypedNameThatIsNoFolderAsksYesKeepsItOpenNoClosesWithoutAChoice) {
  for (bool yes : {true, false}) {
    dialogs_.questions.clear();
    dialogs_.answer_yes = yes;
    Open(dir_.path());
    dialog_->NameEdit()->setText("não existe");
    dialog_->OkButton()->click();
    ASSERT_EQ(dialogs_.questions.size(), 1u);
    EXPECT_EQ(dialogs_.questions[0], "Pasta \"não existe\" não existe. Deseja prosseguir ?");
    EXPECT_EQ(dialog_->ChosenPath(), std::nullopt);
    if (yes) {
      EXPECT_TRUE(dialog_->isVisible());
      EXPECT_FALSE(dialog_->OkButton()->isEnabled());
      // A new selection enables OK again.
      dialog_->SetSelection("/");
      EXPECT_TRUE(dialog_->OkButton()->isEnabled());
    } else {
      EXPECT_FALSE(dialog_->isVisible());
      EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    }
  }
}

// PickFolder itself, with the modal dialog driven from inside its own loop.
class PickFolderTest : public ::testing::Test {
 protected:
  // Runs act on the open dialog once its loop runs.
  void WhenOpen(std::function<void(FolderBrowseDialog*)> act) {
    QTimer::singleShot(0, [act] {
      auto* dialog = qobject_cast<FolderBrowseDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      act(dialog);
      if (dialog->isVisible()) dialog->reject();
    });
  }

  TempDir dir_;
  FakeDialogs dialogs_;
  ScopedDialogs scoped_{&dialogs_};
};

TEST_F(PickFolderTest, CancelFromTheEmptyPathLeavesASlash) {
  std::optional<std::string> opened_on;
  WhenOpen([&](FolderBrowseDialog* dialog) {
    opened_on = dialog->SelectedPath();
    dialog->reject();
  });
  std::string path;
  EXPECT_FALSE(PickFolder(path, "Selecione uma Pasta"));
  EXPECT_EQ(path, "/");
  EXPECT_EQ(opened_on, "/");
}

TEST_F(PickFolderTest, StartingPathGetsASlashOnlyWhenItIsItsOwnFolder) {
  const struct {
    std::string start, after_cancel;
  } cases[] = {{"/", "//"}, {dir_.path(), dir_.path()}, {dir_.path() + "/", dir_.path() + "/"}};
  for (const auto& c : cases) {
    WhenOpen([](FolderBrowseDialog* dialog) { dialog->reject(); });
    std::string path = c.start;
    EXPECT_FALSE(PickFolder(path, "Selecione uma Pasta"));
    EXPECT_EQ(path, c.after_cancel);
  }
}

TEST_F(PickFolderTest, ConfirmingReplacesThePathWithTheChosenFolder) {
  testing::MakeDirs(dir_ / "ação");
  WhenOpen([&](FolderBrowseDialog* dialog) {
    dialog->SetSelection(dir_ / "ação");
    dialog->OkButton()->click();
  });
  std::string path = "/";
  EXPECT_TRUE(PickFolder(path, "Selecione uma Pasta"));
  EXPECT_EQ(path, dir_ / "ação");
}

TEST_F(PickFolderTest, OtherWindowsTakeNoInputWhileOpenAndExactlyTheEnabledOnesComeBack) {
  QWidget enabled, disabled, hidden;
  auto* closed = new QWidget;
  closed->setAttribute(Qt::WA_DeleteOnClose);
  enabled.show();
  disabled.show();
  disabled.setEnabled(false);
  closed->show();
  QPointer<QWidget> closed_watch(closed);
  bool enabled_during = true, hidden_during = false;
  WhenOpen([&](FolderBrowseDialog* dialog) {
    enabled_during = enabled.isEnabled();
    hidden_during = hidden.isEnabled();
    EXPECT_TRUE(dialog->isEnabled());
    closed->close();
    dialog->reject();
  });
  std::string path;
  PickFolder(path, "Selecione uma Pasta");
  EXPECT_FALSE(enabled_during);
  EXPECT_TRUE(hidden_during);  // only visible windows are disabled
  EXPECT_TRUE(enabled.isEnabled());
  EXPECT_FALSE(disabled.isEnabled());
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(closed_watch.isNull());
}

}  // namespace
}  // namespace velarix

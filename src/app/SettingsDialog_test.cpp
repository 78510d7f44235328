#include "app/SettingsDialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>

#include "app/AppTestSupport.h"
#include "config/Settings.h"
#include "log/Diretory.h"
#include "log/Log.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::FakeDialogs;
using testing::RunControl;
using testing::TempDir;

constexpr char kSettings[] =
    "[DATA]\n"
    "nfenfce_upload_xml_1=/srv/notas/nfe\n"
    "cte_upload_xml=/srv/notas/cte com espaço\n"
    "nfe_upload_xml_1=/srv/notas/compras\n"
    "[WEBSERVICE]\n"
    "Url=http://127.0.0.1:8080/portal/\n";

class SettingsDialogTest : public ::testing::Test {
 protected:
  SettingsDialogTest() {
    testing::WriteFile(settings_path_, kSettings);
    SetSettingsFilePath(settings_path_);
    TLog::ResetForTesting(folders_.get());
  }
  ~SettingsDialogTest() override {
    if (window_) {
      // A worker must not outlive the window whose queue it reports to.
      control_->honour_stop = true;
      window_->StopRun(std::chrono::seconds(30));
      window_.reset();
    }
    TLog::ResetForTesting(nullptr);
    SetSettingsFilePath("");
  }

  TFSettingsDialog& Create() {
    window_ = std::make_unique<TFSettingsDialog>(testing::LatchWorkerFactory(control_));
    window_->SetTrayAvailable([this] { return tray_available_; });
    return *window_;
  }

  // Lets the run in progress end and waits for its completion handler.
  void FinishRun() {
    QSignalSpy ended(window_.get(), &TFSettingsDialog::RunEnded);
    control_->Release();
    ASSERT_TRUE(ended.wait(30000));
  }

  std::size_t WorkersMade() {
    std::lock_guard<std::mutex> lock(control_->mutex);
    return control_->base_urls.size();
  }

  std::string LogText() {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "/LOG")) {
      text += testing::ReadFile(entry.path().string());
    }
    return text;
  }

  TempDir dir_;
  std::string settings_path_ = dir_ / "velarix.ini";
  std::unique_ptr<TDiretory> folders_ = std::make_unique<TDiretory>(dir_.path() + "/");
  FakeDialogs dialogs_;
  ScopedDialogs scoped_dialogs_{&dialogs_};
  std::shared_ptr<RunControl> control_ = std::make_shared<RunControl>();
  bool tray_available_ = true;
  std::unique_ptr<TFSettingsDialog> window_;
};

TEST_F(SettingsDialogTest, LayoutFollowsTheDesign) {
  TFSettingsDialog& window = Create();
  EXPECT_EQ(window.windowTitle(), "Velarix para o Tessaly");
  EXPECT_EQ(window.size(), QSize(487, 427));
  EXPECT_EQ(window.geometry().center(),
            QGuiApplication::primaryScreen()->availableGeometry().center());

  const struct {
    QWidget* control;
    const char* name;
    QRect geometry;
    const char* caption;
  } top[] = {
      {window.Button1, "Button1", {39, 357, 98, 43}, "Executar"},
      {window.BTGravar, "BTGravar", {335, 357, 98, 43}, "Gravar"},
      {window.PageControl1, "PageControl1", {16, 15, 449, 322}, nullptr},
  };
  for (const auto& c : top) {
    EXPECT_EQ(c.control->objectName(), c.name);
    EXPECT_EQ(c.control->geometry(), c.geometry) << c.name;
    if (c.caption != nullptr) {
      EXPECT_EQ(qobject_cast<QPushButton*>(c.control)->text(), QString::fromUtf8(c.caption));
    }
  }
  // Tab order: the two buttons, then the pages with each row's edit box before its button.
  std::vector<std::string> tab_order;
  QWidget* w = window.Button1;
  do {
    if (qobject_cast<QPushButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTabBar*>(w)) {
      tab_order.push_back(w->objectName().toStdString());
    }
    w = w->nextInFocusChain();
  } while (w != window.Button1);
  std::vector<std::string> expected_order = {"Button1", "BTGravar", "qt_tabwidget_tabbar"};

  // Page, position on it, label, edit box and browse button of every watched folder.
  const struct {
    int page, position;
    const char *label, *edit, *button;
  } rows[] = {
      {0, 0, "L1", "EBCaminhoXMLsNFe", "BTCaminhoXMLsNFe"},
      {0, 1, "L2", "EBCaminhoXMLsEventoNFe", "BTCaminhoXMLsEventoNFe"},
      {0, 2, "L3", "EBCaminhoXMLsInutNFe", "BTCaminhoXMLsInutNFe"},
      {1, 0, "L4", "EBCaminhoXMLsNFCe", "BTCaminhoXMLsNFCe"},
      {1, 1, "L5", "EBCaminhoXMLsCancNFCe", "BTCaminhoXMLsCancNFCe"},
      {1, 2, "L6", "EBCaminhoXMLsInutNFCe", "BTCaminhoXMLsInutNFCe"},
      {2, 0, "L7", "EBCaminhoXMLsCTe", "BTCaminhoXMLsCTe"},
      {2, 1, "L8", "EBCaminhoXMLsCancCTe", "BTCaminhoXMLsCancCTe"},
      {2, 2, "L9", "EBCaminhoXMLsCCeCTe", "BTCaminhoXMLsCCeCTe"},
      {2, 3, "L10", "EBCaminhoXMLsEventoCTe", "BTCaminhoXMLsEventoCTe"},
      {2, 4, "L11", "EBCaminhoXMLInutCTe", "BTCaminhoXMLInutCTe"},
      {3, 0, "L12", "EBCaminhoXMLsMDFe", "BTCaminhoXMLsMDFe"},
      {4, 0, "L13", "EBCaminhoXMLsNFeCompra", "BTCaminhoXMLsNFeCompra"},
  };
  const char* pages[][2] = {{"TS1", "NF-e"},
                            {"TS2", "NFC-e"},
                            {"TS3", "CT-e"},
                            {"TS4", "MDF-e"},
                            {"TS5", "NF-e Entrada"}};
  ASSERT_EQ(window.PageControl1->count(), 5);
  for (int p = 0; p < 5; ++p) {
    EXPECT_EQ(window.PageControl1->widget(p)->objectName(), pages[p][0]);
    EXPECT_EQ(window.PageControl1->tabText(p), QString::fromUtf8(pages[p][1]));
  }
  EXPECT_EQ(window.PageControl1->currentIndex(), 0);

  std::size_t seen = 0;
  for (std::size_t row = 0; row < WatchedFolders.size(); ++row) {
    const WatchedFolder& folder = WatchedFolders[row];
    QLineEdit* edit = window.FolderEdit(row);
    QPushButton* button = window.BrowseButton(row);
    QLabel* label = window.FolderLabel(row);
    for (const auto& r : rows) {
      if (edit->objectName() != r.edit) continue;
      ++seen;
      SCOPED_TRACE(r.edit);
      QWidget* page = window.PageControl1->widget(r.page);
      EXPECT_EQ(folder.tab, window.PageControl1->tabText(r.page).toStdString());
      for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(button),
                         static_cast<QWidget*>(label)}) {
        EXPECT_EQ(w->parentWidget(), page);
      }
      EXPECT_EQ(label->objectName(), r.label);
      EXPECT_EQ(label->text(), QString::fromUtf8(folder.label));
      EXPECT_EQ(label->pos(), QPoint(8, 13 + 48 * r.position));
      EXPECT_EQ(edit->geometry(), QRect(8, 32 + 48 * r.position, 337, 21));
      EXPECT_EQ(button->objectName(), r.button);
      EXPECT_EQ(button->text(), "...");
      const int height = std::string(r.button) == "BTCaminhoXMLsCancCTe" ? 22 : 21;
      EXPECT_EQ(button->geometry(), QRect(351, 32 + 48 * r.position, 50, height));
    }
  }
  EXPECT_EQ(seen, WatchedFolders.size());
  for (const auto& r : rows) {
    expected_order.push_back(r.edit);
    expected_order.push_back(r.button);
  }
  EXPECT_EQ(tab_order, expected_order);

  // Controls keep their place when the window is resized.
  const QRect gravar = window.BTGravar->geometry();
  const QRect last_edit = window.FolderEdit(12)->geometry();
  window.resize(900, 700);
  EXPECT_EQ(window.BTGravar->geometry(), gravar);
  EXPECT_EQ(window.FolderEdit(12)->geometry(), last_edit);
}

TEST_F(SettingsDialogTest, CreationLogsTheStartLineFirstLoadsTheFieldsAndStartsARun) {
  TFSettingsDialog& window = Create();
  const std::string log = LogText();
  const std::string first_line = log.substr(0, log.find("\r\n"));
  EXPECT_TRUE(first_line.ends_with("-INFO-Class: TForm1.FormCreate-mensagem: INICIANDO APLICAÇÃO"))
      << log;
  const FolderSettings expected = LoadFolderSettings();
  for (std::size_t row = 0; row < WatchedFolders.size(); ++row) {
    EXPECT_EQ(window.FolderEdit(row)->text().toStdString(), expected[row]) << row;
  }
  EXPECT_EQ(window.FolderEdit(2)->text(), QString::fromUtf8("/srv/notas/cte com espaço"));
  EXPECT_EQ(window.FolderEdit(1)->text(), "");  // a key the file lacks
  EXPECT_EQ(window.BaseUrl, "http://127.0.0.1:8080/portal/");
  // The first run is under way before the window is shown.
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(window.Running);
  EXPECT_FALSE(window.Timer1->isActive());
  EXPECT_EQ(control_->base_urls, std::vector<std::string>{"http://127.0.0.1:8080/portal/"});
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(SettingsDialogTest, ExecutarDuringARunTellsTheUserAndLeavesTheRunAlone) {
  TFSettingsDialog& window = Create();
  window.Button1->click();
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"Já está executando."});
  EXPECT_EQ(WorkersMade(), 1u);
  EXPECT_TRUE(window.Running);
  EXPECT_FALSE(window.Timer1->isActive());
  FinishRun();
  EXPECT_FALSE(window.Running);
  EXPECT_TRUE(window.Timer1->isActive());
}

TEST_F(SettingsDialogTest, CompletionRearmsTheTimerForAFreshPeriodAndTicksStartRuns) {
  TFSettingsDialog& window = Create();
  FinishRun();
  EXPECT_FALSE(window.Running);
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_EQ(window.Timer1->interval(), 30000);
  EXPECT_GT(window.Timer1->remainingTime(), 29000);

  window.Timer1Timer();  // a tick while waiting starts a run
  EXPECT_TRUE(window.Running);
  EXPECT_FALSE(window.Timer1->isActive());
  window.Timer1Timer();  // a tick during a run does nothing and shows nothing
  EXPECT_EQ(WorkersMade(), 2u);
  EXPECT_TRUE(dialogs_.messages.empty());
  FinishRun();

  window.Button1->click();  // "Executar" while waiting starts one at once
  EXPECT_TRUE(window.Running);
  EXPECT_EQ(WorkersMade(), 3u);
  FinishRun();
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_GT(window.Timer1->remainingTime(), 29000);
}

TEST_F(SettingsDialogTest, RunEndingWithAnErrorStillRearmsAndIsLogged) {
  control_->fail_with = "falha no meio da execução";
  TFSettingsDialog& window = Create();
  FinishRun();
  EXPECT_FALSE(window.Running);
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_NE(LogText().find("ERRO: falha no meio da execução"), std::string::npos);
}

TEST_F(SettingsDialogTest, WorkerThatCannotBeMadeIsReportedAndTheNextTickTriesAgain) {
  TFSettingsDialog& window = Create();
  FinishRun();
  control_->refuse_with = "Unable to create a thread";
  window.Button1->click();
  EXPECT_EQ(dialogs_.errors, std::vector<std::string>{"Unable to create a thread"});
  EXPECT_FALSE(window.Running);
  EXPECT_TRUE(window.Timer1->isActive());
  control_->refuse_with.clear();
  window.Timer1Timer();
  EXPECT_TRUE(window.Running);
  FinishRun();
}

TEST_F(SettingsDialogTest, LogThatCannotBeMadeIsShownAndTheWindowComesUpWithItsDesignText) {
  testing::WriteFile(dir_ / "file", "");
  folders_ = std::make_unique<TDiretory>(dir_ / "file/");
  TLog::ResetForTesting(folders_.get());
  TFSettingsDialog& window = Create();
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_NE(dialogs_.errors[0].find("LOG"), std::string::npos) << dialogs_.errors[0];
  for (std::size_t row = 0; row < WatchedFolders.size(); ++row) {
    EXPECT_EQ(window.FolderEdit(row)->text(), "/tmp");
  }
  EXPECT_EQ(window.BaseUrl, "");
  EXPECT_FALSE(window.Running);
  EXPECT_EQ(WorkersMade(), 0u);
  EXPECT_TRUE(window.Timer1->isActive());  // the first run comes with the first tick
}

TEST_F(SettingsDialogTest, CloseAndMinimiseHideTheWindowAndRestoreShowsIt) {
  TFSettingsDialog& window = Create();
  window.show();
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isHidden());
  EXPECT_TRUE(window.isMinimized());
  EXPECT_TRUE(window.Running);  // scheduling goes on

  window.RestoreWindow();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());

  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isHidden());

  window.TrayIcon1Click();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

TEST_F(SettingsDialogTest, WithoutATrayCloseAndMinimiseLeaveTheWindowMinimisedButThere) {
  tray_available_ = false;
  TFSettingsDialog& window = Create();
  window.show();
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());
  window.RestoreWindow();
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  // "Sair" stays within reach on the window itself.
  EXPECT_EQ(window.contextMenuPolicy(), Qt::CustomContextMenu);
  EXPECT_EQ(window.PopupMenu1->actions(), QList<QAction*>{window.Sair1});
  EXPECT_EQ(window.Sair1->text(), "Sair");
}

TEST_F(SettingsDialogTest, GravarWritesTheThirteenFieldsAndShowsNothing) {
  TFSettingsDialog& window = Create();
  FolderSettings values;
  for (std::size_t row = 0; row < values.size(); ++row) {
    values[row] = "/dados/pasta " + std::to_string(row) + " ção";
    window.FolderEdit(row)->setText(QString::fromStdString(values[row]));
  }
  values[5].clear();
  window.FolderEdit(5)->clear();
  window.BTGravar->click();
  EXPECT_EQ(LoadFolderSettings(), values);
  EXPECT_EQ(ReadBaseUrl(), "http://127.0.0.1:8080/portal/");
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
  window.BTGravar->click();  // unchanged fields rewrite the same values
  EXPECT_EQ(LoadFolderSettings(), values);
  EXPECT_EQ(WorkersMade(), 1u);  // saving starts no run
}

TEST_F(SettingsDialogTest, GravarThatCannotWriteShowsTheErrorAndKeepsTheFields) {
  TFSettingsDialog& window = Create();
  testing::WriteFile(dir_ / "plain", "");
  const std::string unwritable = dir_ / "plain/velarix.ini";
  SetSettingsFilePath(unwritable);
  window.FolderEdit(0)->setText("/nova/pasta");
  window.BTGravar->click();
  EXPECT_EQ(dialogs_.errors, std::vector<std::string>{"Unable to write to " + unwritable});
  EXPECT_EQ(window.FolderEdit(0)->text(), "/nova/pasta");
}

TEST_F(SettingsDialogTest, EachBrowseButtonFillsOnlyItsOwnRow) {
  TFSettingsDialog& window = Create();
  for (std::size_t row = 0; row < WatchedFolders.size(); ++row) {
    SCOPED_TRACE(WatchedFolders[row].edit_field);
    std::vector<QString> before;
    for (std::size_t r = 0; r < WatchedFolders.size(); ++r) {
      before.push_back(window.FolderEdit(r)->text());
    }
    const std::string chosen = "/escolhida/" + std::to_string(row);
    dialogs_.pick = [&chosen](std::string& path) {
      path = chosen;
      return true;
    };
    window.FolderEdit(row)->setText("texto digitado");
    before[row] = QString::fromStdString(chosen);
    window.BrowseButton(row)->click();
    for (std::size_t r = 0; r < WatchedFolders.size(); ++r) {
      EXPECT_EQ(window.FolderEdit(r)->text(), before[r]) << r;
    }
    // The field's text is not offered to the picker.
    EXPECT_EQ(dialogs_.pick_starts.back(), "");
    EXPECT_EQ(dialogs_.pick_titles.back(), "Selecione uma Pasta");
  }
  EXPECT_EQ(dialogs_.pick_starts.size(), WatchedFolders.size());
}

TEST_F(SettingsDialogTest, CancelledPickEmptiesTheFieldAndTheFileWaitsForGravar) {
  TFSettingsDialog& window = Create();
  const std::string file_before = testing::ReadFile(settings_path_);
  window.BrowseButton(0)->click();  // the fake picker cancels
  EXPECT_EQ(window.FolderEdit(0)->text(), "");
  EXPECT_EQ(window.FolderEdit(2)->text(), QString::fromUtf8("/srv/notas/cte com espaço"));
  EXPECT_EQ(testing::ReadFile(settings_path_), file_before);
  window.BTGravar->click();
  EXPECT_EQ(ReadFolderSetting("nfenfce_upload_xml_1"), "");
}

TEST_F(SettingsDialogTest, SenderThatIsNoBrowseButtonChangesNothing) {
  TFSettingsDialog& window = Create();
  window.OpenDirectoryDialog(window.Button1);
  window.OpenDirectoryDialog(nullptr);
  EXPECT_TRUE(dialogs_.pick_starts.empty());
  EXPECT_EQ(window.FolderEdit(0)->text(), "/srv/notas/nfe");
}

TEST_F(SettingsDialogTest, ExitAsksTheRunToStopAndWaitsForItsCompletion) {
  TFSettingsDialog& window = Create();
  QSignalSpy ended(&window, &TFSettingsDialog::RunEnded);
  window.Sair1Click();  // the latch worker stops at the request, as between two files
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window.Running);
  EXPECT_FALSE(window.Timer1->isActive());
  EXPECT_TRUE(window.Quitting());
  window.Button1->click();  // nothing new starts once the program is ending
  EXPECT_EQ(WorkersMade(), 1u);
}

TEST_F(SettingsDialogTest, StopWaitIsBoundedForARunThatDoesNotStop) {
  control_->honour_stop = false;
  TFSettingsDialog& window = Create();
  EXPECT_FALSE(window.StopRun(std::chrono::milliseconds(20)));
  EXPECT_TRUE(window.Running);
  FinishRun();
  EXPECT_TRUE(window.StopRun(std::chrono::milliseconds(20)));
}

TEST_F(SettingsDialogTest, SairEndsTheEventLoopEvenThoughCloseRequestsAreRefused) {
  TFSettingsDialog& window = Create();
  window.show();
  QTimer::singleShot(0, &window, [&window] { window.Sair1Click(); });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });  // a hang fails, not blocks
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(window.Running);
}

}  // namespace
}  // namespace velarix

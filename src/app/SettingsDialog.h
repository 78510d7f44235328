// The settings window, the program's main window: the thirteen watched folders on five tabs,
// "Gravar" and "Executar", and the scheduling of runs (at creation, 30 s after each run ends,
// and on "Executar"; never two at a time).
#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "config/WatchedFolders.h"
#include "platform/Thread.h"

class QAction;
class QEventLoop;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;

namespace velarix {

class GuiThreadQueue;

inline constexpr int kRunIntervalMs = 30000;
// How long the exit waits for a run in progress to reach its next file.
inline constexpr std::chrono::milliseconds kExitWait{5000};

class TFSettingsDialog : public QWidget {
  Q_OBJECT

 public:
  // Makes one run's worker, suspended, with base_url copied into it.
  using WorkerFactory =
      std::function<std::unique_ptr<Thread>(MainThreadQueue* queue, const std::string& base_url)>;

  // Builds the window, starts Timer1 and runs FormCreate. make_worker defaults to
  // TThreadTransmissao.
  explicit TFSettingsDialog(WorkerFactory make_worker = {}, QWidget* parent = nullptr);
  ~TFSettingsDialog() override;

  // Handlers; each is also wired to its control, menu item or timer.
  void FormCreate();
  void Button1Click();
  void BTGravarClick();
  // sender is the browse button clicked; anything else changes nothing.
  void OpenDirectoryDialog(QObject* sender);
  void Timer1Timer();
  // Ends the program: the run in progress is asked to stop after its current file and waited
  // for at most kExitWait, then the event loop quits. Also the path of signals and session end.
  void Sair1Click();
  void TrayIcon1Click();
  // Shows the window in its normal state and brings it to the front.
  void RestoreWindow();

  // Asks the run in progress to stop at its next file and handles events until its completion
  // has run or bound has passed. True when no run remains.
  bool StopRun(std::chrono::milliseconds bound);
  // True once Sair1Click has begun.
  bool Quitting() const { return quitting_; }

  // Shows the notification-area icon (the program calls this; tests do not).
  void ShowTrayIcon();
  // Whether hiding to the notification area is possible right now; by default asks the
  // desktop. Without a tray, the window is minimised instead of hidden so it can be found.
  void SetTrayAvailable(std::function<bool()> available) { tray_available_ = std::move(available); }

  // The controls of row i of WatchedFolders.
  QLineEdit* FolderEdit(std::size_t row) const { return folder_edits_[row]; }
  QPushButton* BrowseButton(std::size_t row) const { return browse_buttons_[row]; }
  QLabel* FolderLabel(std::size_t row) const { return labels_[row]; }

  QTimer* Timer1;
  QPushButton* Button1;
  QPushButton* BTGravar;
  QTabWidget* PageControl1;
  QMenu* PopupMenu1;
  QAction* Sair1;
  QSystemTrayIcon* TrayIcon1;
  std::string BaseUrl;
  bool Running = false;

 signals:
  // After each run's completion handler (tests and the exit wait on it).
  void RunEnded();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateButtons();
  void CreatePages();
  void CreateMenuAndTray();
  void RequestRun();
  void StartRun();
  void RunTerminated(Thread* worker);
  void HideToBackground();
  void SelectFolder(QLineEdit* edit);
  bool TrayAvailable() const;

  WorkerFactory make_worker_;
  GuiThreadQueue* queue_;
  std::array<QLineEdit*, WatchedFolders.size()> folder_edits_{};
  std::array<QPushButton*, WatchedFolders.size()> browse_buttons_{};
  std::array<QLabel*, WatchedFolders.size()> labels_{};
  std::function<bool()> tray_available_;
  // The worker of the run in progress, from its start until its completion handler: only the
  // exit touches it, to ask it to stop.
  Thread* current_worker_ = nullptr;
  QEventLoop* stop_wait_ = nullptr;
  bool quitting_ = false;
};

}  // namespace velarix

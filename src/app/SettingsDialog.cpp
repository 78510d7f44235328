#include "app/SettingsDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <cstring>
#include <exception>

#include "app/Dialogs.h"
#include "app/GuiThreadQueue.h"
#include "config/Settings.h"
#include "log/Log.h"
#include "run/ThreadTransmissao.h"

// Resources of a static library must be registered by hand, and from the global namespace.
static void InitAppResources() { Q_INIT_RESOURCE(velarix); }

namespace velarix {
namespace {

// The client area that a 503 x 466 window has inside a standard resizable frame at 96 dpi.
constexpr int kClientWidth = 487;
constexpr int kClientHeight = 427;
constexpr char kDesignText[] = "/tmp";

struct Page {
  const char* name;
  const char* caption;
  std::array<const char*, 5> edits;  // edit boxes from top to bottom; the rest are null
};

constexpr std::array<Page, 5> kPages = {{
    {"TS1", "NF-e", {"EBCaminhoXMLsNFe", "EBCaminhoXMLsEventoNFe", "EBCaminhoXMLsInutNFe"}},
    {"TS2", "NFC-e", {"EBCaminhoXMLsNFCe", "EBCaminhoXMLsCancNFCe", "EBCaminhoXMLsInutNFCe"}},
    {"TS3",
     "CT-e",
     {"EBCaminhoXMLsCTe", "EBCaminhoXMLsCancCTe", "EBCaminhoXMLsCCeCTe", "EBCaminhoXMLsEventoCTe",
      "EBCaminhoXMLInutCTe"}},
    {"TS4", "MDF-e", {"EBCaminhoXMLsMDFe"}},
    {"TS5", "NF-e Entrada", {"EBCaminhoXMLsNFeCompra"}},
}};

std::size_t RowOfEdit(const char* edit) {
  for (std::size_t row = 0; row < WatchedFolders.size(); ++row) {
    if (std::strcmp(WatchedFolders[row].edit_field, edit) == 0) return row;
  }
  std::terminate();  // the page table names an edit box the folder table lacks
}

std::unique_ptr<Thread> MakeTransmission(MainThreadQueue* queue, const std::string& base_url) {
  auto worker = std::make_unique<TThreadTransmissao>(queue);
  worker->BaseUrl = base_url;
  return worker;
}

}  // namespace

TFSettingsDialog::TFSettingsDialog(WorkerFactory make_worker, QWidget* parent)
    : QWidget(parent),
      make_worker_(make_worker ? std::move(make_worker) : WorkerFactory(MakeTransmission)),
      queue_(new GuiThreadQueue(this)) {
  InitAppResources();
  setObjectName(QStringLiteral("FSettingsDialog"));
  setWindowTitle(QStringLiteral("Velarix para o Tessaly"));
  setWindowIcon(QIcon(QStringLiteral(":/velarix.png")));
  resize(kClientWidth, kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  CreatePages();
  CreateButtons();
  CreateMenuAndTray();
  setTabOrder(Button1, BTGravar);
  setTabOrder(BTGravar, PageControl1);

  // Enabled by design: the timer runs from creation, before FormCreate.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kRunIntervalMs);
  connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(); }); });
  Timer1->start();

  RunHandler([this] { FormCreate(); });
}

TFSettingsDialog::~TFSettingsDialog() = default;

void TFSettingsDialog::CreatePages() {
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(16, 15, 449, 322);
  int label_number = 0;
  for (const Page& page : kPages) {
    auto* sheet = new QWidget;
    sheet->setObjectName(QString::fromLatin1(page.name));
    QWidget* previous = nullptr;
    for (int r = 0; r < static_cast<int>(page.edits.size()) && page.edits[r] != nullptr; ++r) {
      const std::size_t row = RowOfEdit(page.edits[r]);
      const QString edit_name = QString::fromLatin1(page.edits[r]);

      auto* label = new QLabel(QString::fromUtf8(WatchedFolders[row].label), sheet);
      label->setObjectName(QStringLiteral("L%1").arg(++label_number));
      label->move(8, 13 + 48 * r);
      label->adjustSize();

      auto* edit = new QLineEdit(QString::fromLatin1(kDesignText), sheet);
      edit->setObjectName(edit_name);
      edit->setGeometry(8, 32 + 48 * r, 337, 21);

      auto* button = new QPushButton(QStringLiteral("..."), sheet);
      button->setObjectName(QStringLiteral("BT") + edit_name.mid(2));
      const int height = edit_name == QLatin1String("EBCaminhoXMLsCancCTe") ? 22 : 21;
      button->setGeometry(351, 32 + 48 * r, 50, height);
      connect(button, &QPushButton::clicked, this,
              [this, button] { RunHandler([this, button] { OpenDirectoryDialog(button); }); });

      if (previous != nullptr) setTabOrder(previous, edit);
      setTabOrder(edit, button);
      previous = button;
      labels_[row] = label;
      folder_edits_[row] = edit;
      browse_buttons_[row] = button;
    }
    PageControl1->addTab(sheet, QString::fromUtf8(page.caption));
  }
  PageControl1->setCurrentIndex(0);
}

void TFSettingsDialog::CreateButtons() {
  Button1 = new QPushButton(QStringLiteral("Executar"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(39, 357, 98, 43);
  connect(Button1, &QPushButton::clicked, this, [this] { RunHandler([this] { Button1Click(); }); });

  BTGravar = new QPushButton(QStringLiteral("Gravar"), this);
  BTGravar->setObjectName(QStringLiteral("BTGravar"));
  BTGravar->setGeometry(335, 357, 98, 43);
  connect(BTGravar, &QPushButton::clicked, this,
          [this] { RunHandler([this] { BTGravarClick(); }); });
}

void TFSettingsDialog::CreateMenuAndTray() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  Sair1 = PopupMenu1->addAction(QStringLiteral("Sair"));
  Sair1->setObjectName(QStringLiteral("Sair1"));
  connect(Sair1, &QAction::triggered, this, [this] { RunHandler([this] { Sair1Click(); }); });

  // The window's background offers "Sair" too, so the program can be ended where the desktop
  // has no notification area.
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { PopupMenu1->popup(mapToGlobal(position)); });

  TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
  TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
  TrayIcon1->setToolTip(QString::fromLatin1(kApplicationTitle));
  TrayIcon1->setContextMenu(PopupMenu1);
  connect(TrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
              RunHandler([this] { TrayIcon1Click(); });
            }
          });
}

void TFSettingsDialog::ShowTrayIcon() { TrayIcon1->show(); }

void TFSettingsDialog::FormCreate() {
  TLog::GetInstance().Info("TForm1.FormCreate", "INICIANDO APLICAÇÃO");
  const FolderSettings folders = LoadFolderSettings();
  for (std::size_t row = 0; row < folders.size(); ++row) {
    folder_edits_[row]->setText(QString::fromStdString(folders[row]));
  }
  BaseUrl = ReadBaseUrl();
  RequestRun();
}

void TFSettingsDialog::Button1Click() { RequestRun(); }

void TFSettingsDialog::RequestRun() {
  if (Running) {
    Dialogs::Current()->ShowMessage("Já está executando.");
    return;
  }
  StartRun();
}

void TFSettingsDialog::StartRun() {
  if (quitting_) return;
  Timer1->stop();
  try {
    std::unique_ptr<Thread> worker = make_worker_(queue_, BaseUrl);
    worker->SetOnTerminate([this](Thread* ended) { RunTerminated(ended); });
    worker->SetFreeOnTerminate(true);
    worker->Start();
    // From here the worker frees itself once RunTerminated has returned.
    current_worker_ = worker.release();
  } catch (...) {
    // A run that could not start must not end the schedule: the next tick tries again.
    Timer1->start();
    throw;
  }
  Running = true;
}

void TFSettingsDialog::RunTerminated(Thread* worker) {
  Running = false;
  current_worker_ = nullptr;
  if (!worker->FatalError().empty()) {
    // The run's own handling missed this one; the log is the only place it can be seen.
    try {
      TLog::GetInstance().Erro("TFSettingsDialog.RunTerminated", "ERRO: " + worker->FatalError());
    } catch (const std::exception&) {
    }
  }
  if (!quitting_) Timer1->start();  // a fresh period: the next run starts 30 s from now
  if (stop_wait_ != nullptr) stop_wait_->quit();
  emit RunEnded();
}

void TFSettingsDialog::Timer1Timer() {
  if (!Running) StartRun();
}

void TFSettingsDialog::BTGravarClick() {
  FolderSettings values;
  for (std::size_t row = 0; row < values.size(); ++row) {
    values[row] = folder_edits_[row]->text().toStdString();
  }
  SaveFolderSettings(values);
}

void TFSettingsDialog::OpenDirectoryDialog(QObject* sender) {
  for (std::size_t row = 0; row < browse_buttons_.size(); ++row) {
    if (sender == browse_buttons_[row]) {
      SelectFolder(folder_edits_[row]);
      return;
    }
  }
}

void TFSettingsDialog::SelectFolder(QLineEdit* edit) {
  std::string path;
  if (Dialogs::Current()->PickFolder(path, "Selecione uma Pasta")) {
    edit->setText(QString::fromStdString(path));
  } else {
    edit->clear();
  }
}

bool TFSettingsDialog::StopRun(std::chrono::milliseconds bound) {
  if (!Running) return true;
  if (stop_wait_ != nullptr) return false;  // already waiting further up the stack
  if (current_worker_ != nullptr) current_worker_->RequestStop();
  QEventLoop wait;
  QTimer deadline;
  deadline.setSingleShot(true);
  connect(&deadline, &QTimer::timeout, &wait, &QEventLoop::quit);
  deadline.start(bound);
  stop_wait_ = &wait;
  // The completion handler arrives as a queued call; user input must not start anything now.
  wait.exec(QEventLoop::ExcludeUserInputEvents);
  stop_wait_ = nullptr;
  return !Running;
}

void TFSettingsDialog::Sair1Click() {
  if (quitting_) return;
  quitting_ = true;
  Timer1->stop();
  StopRun(kExitWait);
  QCoreApplication::quit();
}

void TFSettingsDialog::TrayIcon1Click() { RestoreWindow(); }

void TFSettingsDialog::RestoreWindow() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

bool TFSettingsDialog::TrayAvailable() const {
  return tray_available_ ? tray_available_() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TFSettingsDialog::HideToBackground() {
  if (!TrayAvailable()) {
    // Hidden with no tray icon, the window could not be found again.
    showMinimized();
    return;
  }
  hide();
  setWindowState(windowState() | Qt::WindowMinimized);
}

void TFSettingsDialog::closeEvent(QCloseEvent* event) {
  if (quitting_) {
    event->accept();
    return;
  }
  event->ignore();
  HideToBackground();
}

void TFSettingsDialog::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || quitting_) return;
  if (!isMinimized() || !isVisible() || !TrayAvailable()) return;
  // Hiding inside the state change confuses some window managers; a restore may come first.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (isMinimized()) hide();
      },
      Qt::QueuedConnection);
}

}  // namespace velarix

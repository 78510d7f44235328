#include "run/ThreadTransmissao.h"

#include <algorithm>
#include <memory>

#include "config/Settings.h"
#include "log/Log.h"
#include "run/FileExam.h"
#include "upload/EnviaArquivo.h"

namespace velarix {

namespace {

constexpr char kOriginFolder[] = "TThreadTransmissao.ProcessaPasta";
constexpr char kOriginWalk[] = "TThreadTransmissao.TransmiteXMLs";
constexpr char kAccessKey[] = "QMTRAZ";

// The extension from the last full stop on, compared byte for byte.
bool HasXmlExtension(const std::string& name) {
  std::string::size_type dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".xml") == 0;
}

}  // namespace

TThreadTransmissao::TThreadTransmissao(MainThreadQueue* main_thread) : Thread(main_thread) {}

void TThreadTransmissao::Execute() {
  for (const WatchedFolder& row : WatchedFolders) {
    if (StopRequested()) return;
    ProcessaPasta(ReadFolderSetting(row.key), row.kind);
  }
}

void TThreadTransmissao::ProcessaPasta(const std::string& path, DocumentKind kind) {
  TLog& log = TLog::GetInstance();
  log.Info(kOriginFolder, "PROCESSANDO :" + path);
  if (!Env::Current()->DirectoryExists(path)) {
    log.Erro(kOriginFolder, "PASTA: " + path + " - NÃO EXISTE.");
    return;
  }
  log.Info(kOriginFolder, "PASTA: " + path);
  walking_.clear();
  // However the walk ends, the history is not left locked while the next folder is listed.
  struct EndReadOnExit {
    THistorico& historico;
    ~EndReadOnExit() { historico.EndRead(); }
  } end_read{historico_};
  try {
    TransmiteXMLs(path, kind);
  } catch (const std::exception& e) {
    log.Erro(kOriginFolder, std::string("ERRO: ") + e.what());
  } catch (...) {
    log.Erro(kOriginFolder, "ERRO: unknown error");
  }
}

void TThreadTransmissao::TransmiteXMLs(const std::string& dir, DocumentKind kind) {
  Env* env = Env::Current();
  FileStatus status;
  if (!env->Stat(dir, &status)) return;  // vanished: nothing to list
  if (std::find(walking_.begin(), walking_.end(), status.id) != walking_.end()) return;
  std::string reason;
  std::unique_ptr<DirectoryListing> listing = env->OpenDirectory(dir, &reason);
  if (listing == nullptr) return;

  walking_.push_back(status.id);
  struct PopOnExit {
    std::vector<FileId>& ids;
    ~PopOnExit() { ids.pop_back(); }
  } pop{walking_};

  DirEntry entry;
  while (!StopRequested() && listing->Next(&entry)) {
    if (entry.name.empty() || entry.name[0] == '.') continue;
    if (entry.kind == EntryKind::kDirectory) {
      TransmiteXMLs(dir + "/" + entry.name, kind);
      continue;
    }
    if (!HasXmlExtension(entry.name)) continue;
    TransmiteArquivo(dir + "/" + entry.name, entry.kind, kind);
  }
}

void TThreadTransmissao::TransmiteArquivo(const std::string& path, EntryKind entry_kind,
                                          DocumentKind kind) {
  // The check and the fingerprint come from one read. A FIFO, socket or device node is never
  // opened: opening a FIFO would block the run.
  FileExam exam = entry_kind == EntryKind::kFile ? ExaminaArquivo(path) : FileExam{};
  if (!exam.valid) {
    historico_.EndRead();  // no look-up follows soon: do not keep the history locked meanwhile
    TLog::GetInstance().Erro(kOriginWalk, "ARQUIVO: " + path + " XML INVÁLIDO.");
    return;
  }
  if (historico_.Consulta(exam.hash, kind)) return;
  if (!EnviaArquivo(BaseUrl + UploadEndpoints[kind], kAccessKey, path)) return;
  historico_.Grava(exam.hash, kind);
  TLog::GetInstance().Info(kOriginWalk, "ARQUIVO: " + path + " ENVIADO.");
}

}  // namespace velarix

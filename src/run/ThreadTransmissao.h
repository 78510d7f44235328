// The worker: one transmission run over the thirteen watched folders.
#pragma once

#include <string>
#include <vector>

#include "config/WatchedFolders.h"
#include "history/Historico.h"
#include "platform/Env.h"
#include "platform/Thread.h"

namespace velarix {

class TThreadTransmissao : public Thread {
 public:
  // Created suspended (see Thread); the completion handler runs through main_thread.
  explicit TThreadTransmissao(MainThreadQueue* main_thread);

  // The portal's base URL, ending in "/"; set before Start(), only read during the run.
  std::string BaseUrl;

  // One watched folder, with logging; contains every error raised while walking it. Throws only
  // when the log writer cannot be set up.
  void ProcessaPasta(const std::string& path, DocumentKind kind);
  // Walks one directory tree, each subdirectory where the listing reaches it, and handles each
  // ".xml" file; catches nothing. A directory already being walked higher up the same path (a
  // link to an ancestor) is not walked again. Ends early, after the file in progress, once a
  // stop was requested.
  void TransmiteXMLs(const std::string& dir, DocumentKind kind);

 protected:
  // One run: every row of WatchedFolders in table order, each folder key read just before
  // its folder is processed.
  void Execute() override;

 private:
  // The steps for one ".xml" entry of the walk.
  void TransmiteArquivo(const std::string& path, EntryKind entry_kind, DocumentKind kind);

  THistorico historico_;         // one connection for the whole run
  std::vector<FileId> walking_;  // the directories on the path of the walk in progress
};

}  // namespace velarix

// The worker: one transmission run over the thirteen watched folders.
#pragma once

#include <string>

#include "config/WatchedFolders.h"
#include "platform/Thread.h"

namespace velarix {

class TThreadTransmissao : public Thread {
 public:
  // Created suspended (see Thread); the completion handler runs through main_thread.
  explicit TThreadTransmissao(MainThreadQueue* main_thread);

  // The portal's base URL, ending in "/"; set before Start(), only read during the run.
  std::string BaseUrl;

  // One watched folder, with logging; contains every error raised while walking it.
  void ProcessaPasta(const std::string& path, DocumentKind kind);
  // Walks one directory tree and handles each ".xml" file; catches nothing.
  void TransmiteXMLs(const std::string& dir, DocumentKind kind);

 protected:
  // One run: every row of WatchedFolders in table order.
  void Execute() override;
};

}  // namespace velarix

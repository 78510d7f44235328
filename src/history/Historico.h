// The transmission history: which content (fingerprint) was delivered to which endpoint path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/WatchedFolders.h"
#include "history/Sqlite.h"
#include "platform/Error.h"

namespace velarix {

// Every failure of the history; the message carries SQLite's error text.
class DatabaseError : public Error {
 public:
  using Error::Error;
};

inline constexpr char kHistoryFileName[] = "historico_transmissao.db";

// Opens the history database file_name, resolved against the current directory. Creates the
// table when the file did not exist or was empty, and converts a table keyed on the fingerprint
// alone to the key (hash, pasta), keeping every row. Throws DatabaseError.
SqliteConnection AbreHistorico(const std::string& file_name);

// True when hash was recorded under the endpoint path of kind. Opens and closes
// kHistoryFileName in the current directory. Throws DatabaseError.
bool ConsultaHistorico(const std::string& hash, DocumentKind kind);
// Records hash under the endpoint path of kind, committed before it returns. Throws
// DatabaseError.
void GravaHistorico(const std::string& hash, DocumentKind kind);

// The history kept open for one run: Consulta and Grava behave as ConsultaHistorico and
// GravaHistorico, but reuse one connection and its statements for as long as kHistoryFileName in
// the current directory is the same file. Opens nothing until the first operation; a file that
// was removed or replaced, or another current directory, is noticed at the next operation, and
// after a failure the next operation opens afresh. One thread at a time.
//
// Look-ups that follow each other closely share one read transaction, which spares each of them
// taking and dropping the file's lock. It ends at a look-up that finds nothing (an upload is
// likely to follow), before every Grava, at EndRead, and at the first look-up after
// kReadWindowMs; so, as before, another process waits for our lock at most that long plus one
// file's examination, and a lock held by another process still makes a look-up fail at once.
class THistorico {
 public:
  THistorico();
  ~THistorico();
  THistorico(const THistorico&) = delete;
  THistorico& operator=(const THistorico&) = delete;

  bool Consulta(const std::string& hash, DocumentKind kind);
  void Grava(const std::string& hash, DocumentKind kind);
  // Ends the read transaction of the last look-ups, if one is open. Should that fail, the
  // connection is closed instead, which ends it too; the next operation opens afresh.
  void EndRead() noexcept;

  static constexpr int64_t kReadWindowMs = 50;

 private:
  struct Session;
  Session& Current();

  std::unique_ptr<Session> session_;
};

}  // namespace velarix

#include "history/Historico.h"

#include <utility>

#include "platform/Env.h"

namespace velarix {

namespace {

// The key covers both columns, which is what the look-up asks and the record writes: the same
// content delivered to two endpoints is two rows.
constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS Arquivos(  hash TEXT NOT NULL,  pasta TEXT NOT NULL,  "
    "CONSTRAINT Arquivos_PK PRIMARY KEY (hash, pasta));";
constexpr char kLookup[] = "SELECT 1 from arquivos WHERE pasta = :pasta AND hash = :hash";
constexpr char kRecord[] = "INSERT INTO arquivos (hash, pasta) VALUES (:hash, :pasta)";

// Earlier files keyed the table on hash alone, so a content recorded under one endpoint could
// never be recorded under another. Rebuilt in one transaction: on any failure nothing changes.
void ConvertOldKeyIfNeeded(SqliteConnection& db) {
  bool hash_in_key = false;
  bool pasta_in_key = false;
  if (!db.FindColumn("Arquivos", "hash", &hash_in_key) ||
      !db.FindColumn("Arquivos", "pasta", &pasta_in_key) || !hash_in_key || pasta_in_key) {
    return;
  }
  try {
    // Should another process convert it meanwhile, converting again gives the same table.
    db.Execute(std::string("BEGIN IMMEDIATE;"
                           "ALTER TABLE Arquivos RENAME TO Arquivos_chave_antiga;") +
               kCreateTable +
               "INSERT INTO Arquivos (hash, pasta) SELECT hash, pasta FROM Arquivos_chave_antiga;"
               "DROP TABLE Arquivos_chave_antiga;"
               "COMMIT;");
  } catch (...) {
    db.Rollback();
    throw;
  }
}

struct ResetOnExit {
  SqliteStatement& statement;
  ~ResetOnExit() { statement.Reset(); }
};

bool Lookup(SqliteStatement& lookup, const std::string& hash, DocumentKind kind) {
  ResetOnExit reset{lookup};  // a statement left open would keep the file locked
  lookup.BindText(":pasta", UploadEndpoints.at(kind));
  lookup.BindText(":hash", hash);
  int rows = 0;
  while (lookup.Step()) ++rows;
  return rows > 0;
}

void Record(SqliteStatement& record, const std::string& hash, DocumentKind kind) {
  ResetOnExit reset{record};
  record.BindText(":hash", hash);
  record.BindText(":pasta", UploadEndpoints.at(kind));
  record.Step();  // auto-commit: durable when this returns
}

}  // namespace

SqliteConnection AbreHistorico(const std::string& file_name) {
  FileStatus status;
  // A file of no bytes is what a creation that failed leaves: no database yet, so no table.
  bool is_new = !Env::Current()->Stat(file_name, &status) ||
                (status.kind == EntryKind::kFile && status.size == 0);
  SqliteConnection db(file_name);
  if (is_new) {
    db.Execute(kCreateTable);
  } else {
    ConvertOldKeyIfNeeded(db);
  }
  return db;
}

bool ConsultaHistorico(const std::string& hash, DocumentKind kind) {
  SqliteConnection db = AbreHistorico(kHistoryFileName);
  SqliteStatement lookup(db, kLookup);
  return Lookup(lookup, hash, kind);
}

void GravaHistorico(const std::string& hash, DocumentKind kind) {
  SqliteConnection db = AbreHistorico(kHistoryFileName);
  SqliteStatement record(db, kRecord);
  Record(record, hash, kind);
}

struct THistorico::Session {
  explicit Session(SqliteConnection connection) : db(std::move(connection)) {}

  SqliteConnection db;  // declared first: outlives its statements
  FileId file;          // the file the name reaches, in the current directory of the time
  std::unique_ptr<SqliteStatement> lookup;
  std::unique_ptr<SqliteStatement> record;
  bool reading = false;       // a read transaction is open
  int64_t read_began_ms = 0;  // when it began, on Env's monotonic clock
};

THistorico::THistorico() = default;
THistorico::~THistorico() = default;

THistorico::Session& THistorico::Current() {
  // The name is resolved against the current directory, so another current directory shows as
  // another file (or none) here too.
  Env* env = Env::Current();
  FileStatus file;
  if (session_ != nullptr && env->Stat(kHistoryFileName, &file) && file.id == session_->file) {
    return *session_;
  }
  session_.reset();
  auto session = std::make_unique<Session>(AbreHistorico(kHistoryFileName));
  // Ids that no file has make the next operation open afresh should these fail.
  if (env->Stat(kHistoryFileName, &file)) session->file = file.id;
  session_ = std::move(session);
  return *session_;
}

bool THistorico::Consulta(const std::string& hash, DocumentKind kind) {
  try {
    Session& session = Current();
    if (session.lookup == nullptr) {
      session.lookup = std::make_unique<SqliteStatement>(session.db, kLookup);
    }
    Env* env = Env::Current();
    if (!session.reading) {
      session.db.Execute("BEGIN");  // deferred: the lock is taken by the look-up itself
      session.reading = true;
      session.read_began_ms = env->MonotonicMs();
    }
    bool found = Lookup(*session.lookup, hash, kind);
    if (!found || env->MonotonicMs() - session.read_began_ms >= kReadWindowMs) EndRead();
    return found;
  } catch (...) {
    session_.reset();
    throw;
  }
}

void THistorico::Grava(const std::string& hash, DocumentKind kind) {
  EndRead();
  try {
    Session& session = Current();
    if (session.record == nullptr) {
      session.record = std::make_unique<SqliteStatement>(session.db, kRecord);
    }
    Record(*session.record, hash, kind);
  } catch (...) {
    session_.reset();
    throw;
  }
}

void THistorico::EndRead() noexcept {
  if (session_ == nullptr || !session_->reading) return;
  session_->reading = false;
  try {
    session_->db.Execute("COMMIT");
  } catch (...) {
    session_.reset();
  }
}

}  // namespace velarix

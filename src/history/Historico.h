// The transmission history: which content (fingerprint) was delivered to which endpoint path.
#pragma once

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

}  // namespace velarix

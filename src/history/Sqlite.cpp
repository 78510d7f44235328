#include "history/Sqlite.h"

#include <sqlite3.h>

#include <utility>

#include "history/Historico.h"

namespace velarix {

namespace {

std::string ErrorText(sqlite3* db, int code) {
  const char* text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  int extended = db != nullptr ? sqlite3_extended_errcode(db) : code;
  return std::string("SQL Error: ") + text + " (code " + std::to_string(extended) + ")";
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path) {
  int code =
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (code != SQLITE_OK) {
    std::string message = ErrorText(db_, code) + " opening \"" + path + "\"";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DatabaseError(message);
  }
  sqlite3_extended_result_codes(db_, 1);
}

SqliteConnection::~SqliteConnection() {
  // Statements are finalised before their connection goes, so this closes the file.
  if (db_ != nullptr) sqlite3_close(db_);
}

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)) {}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
  if (this != &other) {
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

void SqliteConnection::Execute(const std::string& sql) {
  char* error = nullptr;
  int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (code != SQLITE_OK) {
    std::string message = ErrorText(db_, code) + ". Statement: " + sql;
    sqlite3_free(error);
    throw DatabaseError(message);
  }
}

void SqliteConnection::Rollback() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteConnection::FindColumn(const char* table, const char* column, bool* in_primary_key) {
  int primary_key = 0;
  int code = sqlite3_table_column_metadata(db_, "main", table, column, nullptr, nullptr, nullptr,
                                           &primary_key, nullptr);
  // No such table or column; a schema that cannot be read comes with another code.
  if (code == SQLITE_ERROR) return false;
  if (code != SQLITE_OK) throw DatabaseError(ErrorText(db_, code));
  *in_primary_key = primary_key != 0;
  return true;
}

SqliteStatement::SqliteStatement(const SqliteConnection& connection, std::string sql)
    : db_(connection.handle()), sql_(std::move(sql)) {
  int code =
      sqlite3_prepare_v2(db_, sql_.c_str(), static_cast<int>(sql_.size()), &statement_, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
    Fail(code);
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

void SqliteStatement::BindText(const char* name, const std::string& value) {
  int index = sqlite3_bind_parameter_index(statement_, name);
  if (index == 0) {
    throw DatabaseError(std::string("SQL Error: no parameter ") + name + ". Statement: " + sql_);
  }
  int code = sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                               SQLITE_TRANSIENT);
  if (code != SQLITE_OK) Fail(code);
}

bool SqliteStatement::Step() {
  int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  // The statement stays usable: Reset and run it again.
  Fail(code);
}

void SqliteStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

void SqliteStatement::Fail(int code) const {
  throw DatabaseError(ErrorText(db_, code) + ". Statement: " + sql_);
}

}  // namespace velarix

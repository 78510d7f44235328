// A small RAII layer over the SQLite C API: a connection and prepared statements with named text
// parameters. Every failure throws DatabaseError (history/Historico.h) carrying SQLite's error
// text and code, and the statement for statement errors.
#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace velarix {

class SqliteConnection {
 public:
  // Opens (creating when missing) the database file at path, read-write, with SQLite's defaults:
  // rollback journal, full synchronisation, auto-commit and no busy time-out.
  explicit SqliteConnection(const std::string& path);
  ~SqliteConnection();
  SqliteConnection(SqliteConnection&&) noexcept;
  SqliteConnection& operator=(SqliteConnection&&) noexcept;

  // Runs one or more statements that return no rows.
  void Execute(const std::string& sql);
  // Rolls back the transaction in progress, if any; never fails.
  void Rollback() noexcept;
  // False when table has no such column; otherwise *in_primary_key tells whether the column is
  // part of the table's primary key. Throws DatabaseError when the schema cannot be read.
  bool FindColumn(const char* table, const char* column, bool* in_primary_key);

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class SqliteStatement {
 public:
  SqliteStatement(const SqliteConnection& connection, std::string sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Binds the parameter written ":name" in the statement to a text value.
  void BindText(const char* name, const std::string& value);
  // Steps once: true when a row is ready, false when the statement has run to its end.
  bool Step();
  // Ends the current run (releasing its locks) and clears the bindings.
  void Reset();

 private:
  [[noreturn]] void Fail(int code) const;

  sqlite3* db_;
  std::string sql_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace velarix

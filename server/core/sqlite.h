// A small RAII layer over SQLite's C API: a connection and its prepared
// statements. Every failing call throws SqliteError with SQLite's message.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace zuvsrv {

class SqliteError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Statement;

class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs statements that return no rows.
  void Exec(const std::string& sql);
  // Prepares once per connection: a statement comes back to the cache when
  // its Statement ends, and is taken out while in use, so a nested use of the
  // same text gets a statement of its own.
  Statement Prepare(const std::string& sql);
  // One statement returning no rows, prepared once.
  void Run(const std::string& sql);
  int Changes() const;
  int64_t LastInsertId() const;
  sqlite3* Handle() const { return db_; }

 private:
  friend class Statement;
  sqlite3_stmt* Take(const std::string& sql);
  void GiveBack(std::string sql, sqlite3_stmt* stmt);

  sqlite3* db_ = nullptr;
  std::mutex cacheMutex_;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class Statement {
 public:
  Statement(Database& db, const std::string& sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Parameters count from 1, as in SQLite.
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& BindNull(int index);
  Statement& Bind(int index, const std::optional<std::string>& value);
  // True while a row is ready; false when done.
  bool Step();
  void Run() { Step(); }
  // Ready to run again with new parameters.
  void Reset();
  int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  Database* db_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE … COMMIT, rolled back when left by an exception.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

}  // namespace zuvsrv

#include "sqlite.h"

#include <sqlite3.h>

namespace zuvsrv {

namespace {

// The one place a SQLite result code is checked.
void Check(sqlite3* db, int rc, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  throw SqliteError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// How long a writer waits for another connection's lock (another process
// on the same journal) before giving up. Short: the printer workers retry a
// failed commit themselves, and a stop must not wait long for one attempt.
constexpr int kBusyTimeoutMs = 2000;

// The journal uses a few dozen texts; one built from input must not grow
// the cache without bound.
constexpr size_t kCachedStatements = 64;

}  // namespace

Database::Database(const std::string& path) {
  const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Database::~Database() {
  for (const auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

void Database::Exec(const std::string& sql) {
  Check(db_, sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), "sql");
}

Statement Database::Prepare(const std::string& sql) { return Statement(*this, sql); }

void Database::Run(const std::string& sql) { Prepare(sql).Run(); }

sqlite3_stmt* Database::Take(const std::string& sql) {
  {
    std::lock_guard lock(cacheMutex_);
    if (const auto cached = cache_.find(sql); cached != cache_.end()) {
      sqlite3_stmt* stmt = cached->second;
      cache_.erase(cached);
      return stmt;
    }
  }
  sqlite3_stmt* stmt = nullptr;
  Check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), "prepare");
  return stmt;
}

// Reset at once, not at the next use: a statement left mid-way would keep
// its read transaction, and with it an old snapshot, open.
void Database::GiveBack(std::string sql, sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);  // repeats the last step's error, already reported
  sqlite3_clear_bindings(stmt);
  {
    std::lock_guard lock(cacheMutex_);
    if (cache_.size() < kCachedStatements && cache_.emplace(std::move(sql), stmt).second) return;
  }
  sqlite3_finalize(stmt);
}

int Database::Changes() const { return sqlite3_changes(db_); }

int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

Statement::Statement(Database& db, const std::string& sql)
    : db_(&db), sql_(sql), stmt_(db.Take(sql)) {}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), sql_(std::move(other.sql_)), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

Statement::~Statement() {
  if (stmt_) db_->GiveBack(std::move(sql_), stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
  Check(db_->Handle(), sqlite3_bind_int64(stmt_, index, value), "bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  Check(db_->Handle(),
        sqlite3_bind_text(stmt_, index, value.data(), int(value.size()), SQLITE_TRANSIENT), "bind");
  return *this;
}

Statement& Statement::BindNull(int index) {
  Check(db_->Handle(), sqlite3_bind_null(stmt_, index), "bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<std::string>& value) {
  return value ? Bind(index, *value) : BindNull(index);
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  Check(db_->Handle(), rc, "step");
  return rc == SQLITE_ROW;
}

void Statement::Reset() {
  Check(db_->Handle(), sqlite3_reset(stmt_), "reset");
  Check(db_->Handle(), sqlite3_clear_bindings(stmt_), "reset");
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            size_t(sqlite3_column_bytes(stmt_, column)))
              : std::string();
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db) { db_.Run("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!open_) return;
  try {
    db_.Run("ROLLBACK");
  } catch (const SqliteError&) {
    // Nothing more to undo: SQLite already rolled back.
  }
}

void Transaction::Commit() {
  db_.Run("COMMIT");
  open_ = false;
}

}  // namespace zuvsrv

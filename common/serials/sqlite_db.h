// A thin hold on SQLite for the ledger: a connection and its prepared statements as owning
// objects, every failure as an SqliteError with SQLite's own words.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace octo::serials::sqlite {

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    // The primary result code (SQLITE_BUSY, SQLITE_NOTADB, ...).
    int code() const { return code_ & 0xFF; }
    // The extended result code (SQLITE_READONLY_ROLLBACK, ...).
    int extendedCode() const { return code_; }

private:
    int code_;
};

// How long one step of a statement may run before it is stopped (SQLITE_INTERRUPT): a
// damaged or crafted file must not hold a program for ever.
inline constexpr std::chrono::milliseconds kStatementLimit{10000};
// The longest text or blob a row may hold: a ledger's are short, a crafted one's are not read.
inline constexpr int kMaxValueBytes = 64 * 1024;

class Database {
public:
    // Opens the file path names with sqlite3_open_v2's flags (a name is never taken as a URI
    // nor as an in-memory database), guarded against what a crafted file could make SQLite
    // do: defensive mode, no trusted schema, no triggers, no views, bounded values and
    // statements. Throws SqliteError.
    Database(const std::string& path, int flags);
    // A private database in memory, guarded the same way.
    struct InMemory {};
    explicit Database(InMemory);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* handle() const { return db_; }
    // Runs statements that return no rows the caller needs.
    void exec(const char* sql);
    // The one value the statement yields, as text ("" for none).
    std::string textOf(const char* sql);
    int64_t integerOf(const char* sql);
    int changes() const { return sqlite3_changes(db_); }
    bool readOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
    [[noreturn]] void fail(int code) const;
    // Each step from now on may run limit long (kStatementLimit unless set).
    void setStatementLimit(std::chrono::milliseconds limit) { limit_ = limit; }
    // The next step's time starts now.
    void startStep() { deadline_ = std::chrono::steady_clock::now() + limit_; }

private:
    void guard();
    static int pastDeadline(void* database);

    sqlite3* db_ = nullptr;
    std::chrono::milliseconds limit_ = kStatementLimit;
    std::chrono::steady_clock::time_point deadline_{};
};

class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& value);
    Statement& bindNull(int index);
    // The value, or NULL when there is none.
    Statement& bind(int index, const std::optional<int64_t>& value);
    // The next row: true while there is one; false when done (and reset for another run).
    bool step();
    // Runs a statement that yields no rows, then resets it.
    void run();
    // Ready to run again, after a step() that yielded a row.
    void reset() { sqlite3_reset(stmt_); }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const;
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs a write transaction (BEGIN IMMEDIATE): committed when commit() is called, rolled back
// when the object goes without it.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& db_;
    bool done_ = false;
};

} // namespace octo::serials::sqlite

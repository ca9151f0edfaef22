#include "serials/sqlite_db.h"

#include "serials/file_name.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace octo::serials::sqlite {

namespace {

// Opens name with flags (never SQLITE_OPEN_URI); throws SqliteError.
sqlite3* openDatabase(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags & ~SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        throw SqliteError(rc, sqlite3_errstr(rc));
    }
    return db;
}

// The name for SQLite of a file the program names: one SQLite would take as something else
// (an empty name: a temporary database; ":memory:"; "file:...", a URI when the library
// takes them by default) is made the same file's name in the current folder.
std::string plainFileName(const std::string& path) {
    if (path.empty()) {
        throw SqliteError(SQLITE_CANTOPEN, "no file name");
    }
    constexpr std::string_view kUriScheme = "file:";
    const bool uri =
        path.size() >= kUriScheme.size() &&
        std::equal(kUriScheme.begin(), kUriScheme.end(), path.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    return uri || path == ":memory:" ? "./" + path : path;
}

// Steps between two looks at the clock: a few microseconds of work.
constexpr int kProgressSteps = 1000;

} // namespace

Database::Database(const std::string& path, int flags)
    : db_(openDatabase(sqliteFileName(plainFileName(path)), flags)) {
    guard();
}

Database::Database(InMemory) : db_(openDatabase(":memory:", SQLITE_OPEN_READWRITE)) {
    guard();
}

void Database::guard() {
    sqlite3_extended_result_codes(db_, 1);
    // What the schema may do: write nothing a statement does not name, run no function the
    // schema names, no trigger and no view (the ledger has none; a crafted file's would run).
    const std::pair<int, int> settings[] = {
        {SQLITE_DBCONFIG_DEFENSIVE, 1},
        {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
        {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
        {SQLITE_DBCONFIG_ENABLE_VIEW, 0},
    };
    for (const auto& [option, value] : settings) {
        if (sqlite3_db_config(db_, option, value, nullptr) != SQLITE_OK) {
            const SqliteError error(SQLITE_MISUSE, "SQLite refused a safety setting");
            sqlite3_close(db_);
            throw error;
        }
    }
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    sqlite3_progress_handler(db_, kProgressSteps, &Database::pastDeadline, this);
    startStep();
}

int Database::pastDeadline(void* database) {
    return static_cast<int>(std::chrono::steady_clock::now() >
                            static_cast<Database*>(database)->deadline_);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::fail(int code) const {
    throw SqliteError(code, sqlite3_errmsg(db_));
}

void Database::exec(const char* sql) {
    startStep();
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        fail(rc);
    }
}

std::string Database::textOf(const char* sql) {
    Statement statement(*this, sql);
    std::string value;
    if (statement.step()) {
        value = statement.text(0);
        while (statement.step()) {
        }
    }
    return value;
}

int64_t Database::integerOf(const char* sql) {
    Statement statement(*this, sql);
    int64_t value = 0;
    if (statement.step()) {
        value = statement.integer(0);
        while (statement.step()) {
        }
    }
    return value;
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        db.fail(rc);
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, int64_t value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) {
        db_.fail(rc);
    }
    return *this;
}

Statement& Statement::bind(int index, const std::string& value) {
    const int rc = sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                     SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
        db_.fail(rc);
    }
    return *this;
}

Statement& Statement::bindNull(int index) {
    const int rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK) {
        db_.fail(rc);
    }
    return *this;
}

Statement& Statement::bind(int index, const std::optional<int64_t>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step() {
    db_.startStep();
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE) {
        db_.fail(rc);
    }
    return false;
}

void Statement::run() {
    while (step()) {
    }
}

std::string Statement::text(int column) const {
    const auto* bytes = sqlite3_column_text(stmt_, column);
    return bytes != nullptr ? std::string(reinterpret_cast<const char*>(bytes),
                                          static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                            : std::string();
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        // A fresh step time: the step that failed may have spent its own, and an
        // interrupted rollback would leave the transaction open.
        db_.startStep();
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

} // namespace octo::serials::sqlite

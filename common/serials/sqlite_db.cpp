#include "serials/sqlite_db.h"

#include "serials/file_name.h"

namespace octo::serials::sqlite {

Database::Database(const std::string& path, int flags) {
    const int rc = sqlite3_open_v2(sqliteFileName(path).c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(rc, message);
    }
    sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::fail(int code) const {
    throw SqliteError(code, sqlite3_errmsg(db_));
}

void Database::exec(const char* sql) {
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
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

} // namespace octo::serials::sqlite

#include "serials/serial_ledger.h"

#include "objfile/text_scan.h"
#include "serials/sqlite_db.h"
#include "trace/trace_log.h"
#include "wire/messages.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace octo::serials {

namespace {

using sqlite::Database;
using sqlite::SqliteError;
using sqlite::Statement;
using sqlite::Transaction;

// "OCSL" in the database header tells a ledger from another program's SQLite file.
constexpr int64_t kApplicationId = 0x4F43534C;
constexpr int64_t kLedgerVersion = 1;
// How long an open waits for another holder to let go before calling the ledger in use.
constexpr int kBusyWaitMs = 2000;
constexpr size_t kResultMaskBytes = wire::kOverAllByte + 1;

constexpr std::array<std::string_view, kStates> kStateNames = {"reserved", "programmed", "void",
                                                               "released"};

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS scheme (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    kind TEXT NOT NULL,
    identity TEXT NOT NULL,
    description TEXT NOT NULL,
    format TEXT,
    width INTEGER,
    step INTEGER,
    next_index INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS runs (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time TEXT NOT NULL,
    unit TEXT NOT NULL,
    image_crc INTEGER,
    settled TEXT
);
CREATE TABLE IF NOT EXISTS serials (
    value TEXT PRIMARY KEY,
    state TEXT NOT NULL CHECK (state IN ('reserved', 'programmed', 'void', 'released')),
    run INTEGER NOT NULL REFERENCES runs (id),
    socket INTEGER NOT NULL,
    unit TEXT NOT NULL,
    time TEXT NOT NULL,
    image_crc INTEGER,
    reason TEXT
);
CREATE INDEX IF NOT EXISTS serials_by_state ON serials (state);
)";

const std::string kInterrupted = "interrupted";
const std::string kFailed = "failed";
const std::string kNoResult = "no result";

LedgerError ledgerError(const std::string& path, const SqliteError& e) {
    switch (e.code()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {LedgerFault::InUse, "the ledger " + path + " is in use by another program"};
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return {LedgerFault::NotALedger,
                "the ledger " + path + " is no serial ledger or is damaged (" + e.what() + ")"};
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_PERM:
        return {LedgerFault::CannotWrite,
                "the ledger " + path + " cannot be written (" + e.what() + ")"};
    default:
        return {LedgerFault::CannotOpen,
                "the ledger " + path + " cannot be opened (" + e.what() + ")"};
    }
}

void refuseFolder(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw LedgerError(LedgerFault::CannotOpen,
                          "the ledger " + path + " cannot be opened (it is a folder)");
    }
}

// A database this program did not make is left alone.
void refuseForeign(Database& db, const std::string& path) {
    const int64_t application = db.integerOf("PRAGMA application_id");
    const int64_t objects = db.integerOf("SELECT count(*) FROM sqlite_master");
    if (objects != 0 && application != kApplicationId) {
        throw LedgerError(LedgerFault::NotALedger,
                          path + " is another program's database, not a serial ledger");
    }
    if (db.integerOf("PRAGMA user_version") > kLedgerVersion) {
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path + " was made by a newer version of this program");
    }
}

std::optional<Record> recordOf(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    Record record;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = objfile::detail::hexValue(hex[i]);
        const int low = objfile::detail::hexValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        record.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return record;
}

std::optional<RecordState> stateOf(const std::string& name) {
    const auto found = std::find(kStateNames.begin(), kStateNames.end(), name);
    if (found == kStateNames.end()) {
        return std::nullopt;
    }
    return static_cast<RecordState>(found - kStateNames.begin());
}

// The scheme the ledger keeps, taking scheme's range or list when it is of the same kind.
void takeScheme(Database& db, const SerialScheme& scheme, const std::string& path) {
    Statement kept(db, "SELECT kind, identity FROM scheme WHERE id = 1");
    std::string identity;
    if (kept.step()) {
        const std::string kind = kept.text(0);
        identity = kept.text(1);
        kept.reset();
        if (kind != scheme.kind()) {
            throw LedgerError(LedgerFault::OtherKind, "the ledger " + path + " keeps " + kind +
                                                          " records, the scheme makes " +
                                                          scheme.kind() + " records");
        }
    }
    if (identity == scheme.identity()) {
        return;
    }
    Statement put(db, "INSERT OR REPLACE INTO scheme (id, kind, identity, description, format, "
                      "width, step, next_index) VALUES (1, ?, ?, ?, ?, ?, ?, 0)");
    put.bind(1, scheme.kind()).bind(2, scheme.identity()).bind(3, scheme.description());
    if (const auto& range = scheme.range()) {
        put.bind(4, std::string(formatName(range->format)))
            .bind(5, int64_t{range->width})
            .bind(6, static_cast<int64_t>(range->step));
    } else {
        put.bindNull(4).bindNull(5).bindNull(6);
    }
    put.run();
}

// Lowest first: by number where the ledger keeps numbers, else by value.
struct Kept {
    std::string value;
    std::optional<uint64_t> number;
    bool operator<(const Kept& other) const {
        return number != other.number ? number < other.number : value < other.value;
    }
};

// The numbers ascending, each once.
std::vector<NumberRun> runsOf(const std::vector<uint64_t>& sorted, uint64_t step) {
    std::vector<NumberRun> runs;
    for (const uint64_t n : sorted) {
        if (!runs.empty() && n - runs.back().last == step) {
            runs.back().last = n;
        } else {
            runs.push_back({n, n});
        }
    }
    return runs;
}

LedgerSummary summarize(Database& db) {
    LedgerSummary summary;
    for (size_t i = 0; i < kStates; ++i) {
        summary.states[i].state = static_cast<RecordState>(i);
    }
    std::optional<NumberFormat> format;
    int width = 0;
    uint64_t step = 1;
    Statement scheme(db, "SELECT description, format, width, step FROM scheme WHERE id = 1");
    if (scheme.step()) {
        summary.scheme = scheme.text(0);
        format = numberFormat(scheme.text(1));
        width = static_cast<int>(scheme.integer(2));
        step = std::max<uint64_t>(1, static_cast<uint64_t>(scheme.integer(3)));
        scheme.reset();
    }
    summary.runs = db.integerOf("SELECT count(*) FROM runs");

    std::array<std::vector<uint64_t>, kStates> numbers;
    Statement rows(db, "SELECT value, state, run, socket, time, reason FROM serials");
    while (rows.step()) {
        const std::optional<RecordState> state = stateOf(rows.text(1));
        if (!state) {
            continue;
        }
        const auto at = static_cast<size_t>(*state);
        ++summary.states[at].count;
        const std::string value = rows.text(0);
        std::optional<uint64_t> number;
        if (const std::optional<Record> record = recordOf(value); record && format) {
            number = decodeNumber(*format, width, *record);
        }
        if (number) {
            numbers[at].push_back(*number);
        }
        if (*state == RecordState::Void) {
            summary.voids.push_back({value, number, rows.text(5), rows.integer(2),
                                     static_cast<int>(rows.integer(3)), rows.text(4)});
        }
    }
    for (size_t i = 0; i < kStates; ++i) {
        std::sort(numbers[i].begin(), numbers[i].end());
        summary.states[i].ranges = runsOf(numbers[i], step);
    }
    std::sort(summary.voids.begin(), summary.voids.end(),
              [](const VoidRecord& a, const VoidRecord& b) {
                  return Kept{a.value, a.number} < Kept{b.value, b.number};
              });
    return summary;
}

std::string exhaustedText(const SerialScheme& scheme, size_t left, size_t needed) {
    return "the serial scheme has run out: " + scheme.description() + " has " +
           std::to_string(left) + (left == 1 ? " record" : " records") + " left, " +
           std::to_string(needed) + (needed == 1 ? " socket needs" : " sockets need") + " one each";
}

void checkSockets(std::span<const int> sockets) {
    std::set<int> seen;
    for (const int socket : sockets) {
        if (socket < 1 || socket > kSockets || !seen.insert(socket).second) {
            throw std::invalid_argument("socket " + std::to_string(socket) +
                                        " is not one of 1..8 or is asked for twice");
        }
    }
}

} // namespace

std::string_view stateName(RecordState state) {
    return kStateNames[static_cast<size_t>(state)];
}

Outcomes outcomesOf(std::span<const uint8_t> resultBlock) {
    Outcomes outcomes{};
    // A block too short to say which target passed: every record may have been written.
    if (resultBlock.size() < kResultMaskBytes) {
        outcomes.fill(Outcome::Failed);
        return outcomes;
    }
    for (const trace::TargetOutcome& t : trace::targetOutcomes(resultBlock)) {
        outcomes[t.target - 1] =
            !t.connected ? Outcome::NotConnected : (t.passed ? Outcome::Passed : Outcome::Failed);
    }
    return outcomes;
}

const SocketRecord* Reservation::forSocket(int socket) const {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [socket](const SocketRecord& r) { return r.socket == socket; });
    return found != records.end() ? &*found : nullptr;
}

struct SerialLedger::Impl {
    Impl(const std::string& path, const SerialScheme& scheme)
        : path(path), scheme(scheme), db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {}

    std::string path;
    SerialScheme scheme;
    Database db;
    uint64_t interrupted = 0;

    struct Pick {
        Record record;
        bool released = false;
    };
    std::vector<Pick> pick(size_t needed, uint64_t& next);
    void settleRecords(const Reservation& reservation, const std::vector<RecordState>& states,
                       const std::vector<std::string>& reasons);
};

SerialLedger::SerialLedger(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialLedger::SerialLedger(SerialLedger&&) noexcept = default;
SerialLedger& SerialLedger::operator=(SerialLedger&&) noexcept = default;
SerialLedger::~SerialLedger() = default;

SerialLedger SerialLedger::open(const std::string& path, const SerialScheme& scheme) {
    refuseFolder(path);
    try {
        auto impl = std::make_unique<Impl>(path, scheme);
        Database& db = impl->db;
        if (db.readOnly()) {
            throw LedgerError(LedgerFault::CannotWrite,
                              "the ledger " + path + " cannot be written (read-only)");
        }
        sqlite3_busy_timeout(db.handle(), kBusyWaitMs);
        // Held from the first write until closed; no shared-memory file beside the ledger.
        db.exec("PRAGMA locking_mode = EXCLUSIVE");
        refuseForeign(db, path);
        if (db.textOf("PRAGMA journal_mode = WAL") != "wal") {
            throw LedgerError(LedgerFault::CannotWrite,
                              "the ledger " + path + " cannot keep a write-ahead log");
        }
        db.exec("PRAGMA synchronous = FULL");
        Transaction transaction(db);
        db.exec(kSchema);
        db.exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        db.exec(("PRAGMA user_version = " + std::to_string(kLedgerVersion)).c_str());
        takeScheme(db, scheme, path);
        Statement recover(db, "UPDATE serials SET state = 'void', reason = ?, time = ? "
                              "WHERE state = 'reserved'");
        recover.bind(1, kInterrupted).bind(2, trace::utcTimestamp()).run();
        impl->interrupted = static_cast<uint64_t>(db.changes());
        transaction.commit();
        return SerialLedger(std::move(impl));
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

LedgerSummary SerialLedger::inspect(const std::string& path) {
    refuseFolder(path);
    try {
        Database db(path, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(db.handle(), kBusyWaitMs);
        refuseForeign(db, path);
        if (db.integerOf("PRAGMA application_id") != kApplicationId) {
            throw LedgerError(LedgerFault::NotALedger, path + " is not a serial ledger");
        }
        return summarize(db);
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

std::vector<SerialLedger::Impl::Pick> SerialLedger::Impl::pick(size_t needed, uint64_t& next) {
    std::vector<std::pair<uint64_t, Record>> released;
    Statement free(db, "SELECT value FROM serials WHERE state = 'released'");
    while (free.step()) {
        if (const std::optional<Record> record = recordOf(free.text(0))) {
            if (const std::optional<uint64_t> index = scheme.indexOf(*record)) {
                released.emplace_back(*index, *record);
            }
        }
    }
    std::sort(released.begin(), released.end());
    std::vector<Pick> picks;
    for (size_t i = 0; i < released.size() && picks.size() < needed; ++i) {
        picks.push_back({released[i].second, true});
    }
    next = static_cast<uint64_t>(db.integerOf("SELECT next_index FROM scheme WHERE id = 1"));
    Statement known(db, "SELECT 1 FROM serials WHERE value = ?");
    for (; picks.size() < needed && next < scheme.size(); ++next) {
        Record record = scheme.record(next);
        known.bind(1, hexText(record));
        if (known.step()) {
            known.reset();
            continue;
        }
        picks.push_back({std::move(record), false});
    }
    if (picks.size() < needed) {
        // What is left: every released record and every one after the cursor not yet known.
        throw LedgerError(LedgerFault::Exhausted, exhaustedText(scheme, picks.size(), needed));
    }
    return picks;
}

Reservation SerialLedger::reserve(const RunFacts& run, std::span<const int> sockets) {
    checkSockets(sockets);
    try {
        Impl& impl = *impl_;
        Transaction transaction(impl.db);
        uint64_t next = 0;
        std::vector<Impl::Pick> picks = impl.pick(sockets.size(), next);
        const std::string time = trace::utcTimestamp();
        const std::optional<int64_t> imageCrc =
            run.imageCrc32 ? std::optional<int64_t>(*run.imageCrc32) : std::nullopt;
        Statement addRun(impl.db, "INSERT INTO runs (time, unit, image_crc) VALUES (?, ?, ?)");
        addRun.bind(1, time).bind(2, run.unit).bind(3, imageCrc).run();
        Reservation reservation;
        reservation.run = sqlite3_last_insert_rowid(impl.db.handle());

        Statement fresh(impl.db, "INSERT INTO serials (state, run, socket, unit, time, "
                                 "image_crc, value) VALUES ('reserved', ?, ?, ?, ?, ?, ?)");
        Statement again(impl.db, "UPDATE serials SET state = 'reserved', run = ?, socket = ?, "
                                 "unit = ?, time = ?, image_crc = ?, reason = NULL "
                                 "WHERE value = ? AND state = 'released'");
        for (size_t i = 0; i < picks.size(); ++i) {
            SocketRecord record{sockets[i], picks[i].record, hexText(picks[i].record)};
            Statement& write = picks[i].released ? again : fresh;
            write.bind(1, reservation.run).bind(2, int64_t{record.socket}).bind(3, run.unit);
            write.bind(4, time).bind(5, imageCrc).bind(6, record.value).run();
            reservation.records.push_back(std::move(record));
        }
        Statement cursor(impl.db, "UPDATE scheme SET next_index = ? WHERE id = 1");
        cursor.bind(1, static_cast<int64_t>(next)).run();
        transaction.commit();
        return reservation;
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path, e);
    }
}

void SerialLedger::requireRecords(size_t needed) {
    try {
        uint64_t next = 0;
        impl_->pick(needed, next);
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path, e);
    }
}

void SerialLedger::Impl::settleRecords(const Reservation& reservation,
                                       const std::vector<RecordState>& states,
                                       const std::vector<std::string>& reasons) {
    try {
        Transaction transaction(db);
        const std::string time = trace::utcTimestamp();
        Statement update(db, "UPDATE serials SET state = ?, reason = ?, time = ? "
                             "WHERE value = ? AND run = ? AND state = 'reserved'");
        for (size_t i = 0; i < reservation.records.size(); ++i) {
            update.bind(1, std::string(stateName(states[i])));
            if (reasons[i].empty()) {
                update.bindNull(2);
            } else {
                update.bind(2, reasons[i]);
            }
            update.bind(3, time).bind(4, reservation.records[i].value).bind(5, reservation.run);
            update.run();
        }
        Statement settled(db, "UPDATE runs SET settled = ? WHERE id = ?");
        settled.bind(1, time).bind(2, reservation.run).run();
        transaction.commit();
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

void SerialLedger::settle(const Reservation& reservation, const Outcomes& outcomes) {
    std::vector<RecordState> states;
    std::vector<std::string> reasons;
    for (const SocketRecord& record : reservation.records) {
        switch (outcomes.at(static_cast<size_t>(record.socket - 1))) {
        case Outcome::Passed:
            states.push_back(RecordState::Programmed);
            reasons.emplace_back();
            break;
        case Outcome::Failed:
            states.push_back(RecordState::Void);
            reasons.push_back(kFailed);
            break;
        case Outcome::NotConnected:
            states.push_back(RecordState::Released);
            reasons.emplace_back();
            break;
        }
    }
    impl_->settleRecords(reservation, states, reasons);
}

void SerialLedger::settleWithoutResult(const Reservation& reservation, const std::string& reason) {
    impl_->settleRecords(
        reservation, std::vector<RecordState>(reservation.records.size(), RecordState::Void),
        std::vector<std::string>(reservation.records.size(), reason.empty() ? kNoResult : reason));
}

LedgerSummary SerialLedger::summary() const {
    try {
        return summarize(impl_->db);
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path, e);
    }
}

uint64_t SerialLedger::interruptedAtOpen() const {
    return impl_->interrupted;
}

const std::string& SerialLedger::path() const {
    return impl_->path;
}

} // namespace octo::serials

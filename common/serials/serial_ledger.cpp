#include "serials/serial_ledger.h"

#include "objfile/text_scan.h"
#include "serials/ledger_claim.h"
#include "serials/ledger_files.h"
#include "serials/sqlite_db.h"
#include "trace/trace_log.h"
#include "trace/trace_log_reader.h"
#include "wire/messages.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace octo::serials {

namespace {

namespace fs = std::filesystem;
using sqlite::Database;
using sqlite::SqliteError;
using sqlite::Statement;
using sqlite::Transaction;

// 1: the first ledger; 2: it remembers how far it checked each log (table log_checks).
constexpr int64_t kFirstVersion = 1;
constexpr int64_t kLedgerVersion = 2;
// How long an open waits for another holder to let go before calling the ledger in use, and
// how long a reader or a writer waits for the other's commit.
constexpr std::chrono::milliseconds kBusyWait{2000};
constexpr size_t kResultMaskBytes = wire::kOverAllByte + 1;
// The bytes of a log before where its last check ended, kept to tell the same log again.
constexpr size_t kLogTailBytes = 64;
// At most this much of a log line's unit and time goes into a reconciled record.
constexpr size_t kMaxLogText = 200;

constexpr std::array<std::string_view, kStates> kStateNames = {"reserved", "programmed", "void",
                                                               "released"};

constexpr const char* kTables = R"(
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

// Version 2: where the last check of each log ended (a byte offset at a line's end, its line
// number, and the bytes before it in hexadecimal).
constexpr const char* kLogChecks = R"(
CREATE TABLE IF NOT EXISTS log_checks (
    log TEXT PRIMARY KEY,
    offset INTEGER NOT NULL,
    line INTEGER NOT NULL,
    tail TEXT NOT NULL
);
)";

const std::string kInterrupted = "interrupted";
const std::string kFailed = "failed";
const std::string kNoResult = "no result";

LedgerError ledgerError(const std::string& path, const SqliteError& e) {
    if (e.extendedCode() == SQLITE_READONLY_ROLLBACK) {
        return {LedgerFault::InUse, "the ledger " + path +
                                        " was left in the middle of a change by a program that "
                                        "stopped: the next program that writes it puts it right"};
    }
    switch (e.code()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {LedgerFault::InUse, "the ledger " + path +
                                        " is busy: a station is writing it; "
                                        "try again in a moment"};
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_TOOBIG:
    case SQLITE_INTERRUPT:
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

// Only a regular file (or, for a writer, nothing yet) is opened: a folder is refused by name,
// and a device or a pipe is never opened, so that nothing waits on it.
void requireRegularFile(const std::string& path, bool mayBeMissing) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::directory) {
        throw LedgerError(LedgerFault::CannotOpen,
                          "the ledger " + path + " cannot be opened: it is a folder");
    }
    if (status.type() == fs::file_type::not_found) {
        if (!mayBeMissing) {
            throw LedgerError(LedgerFault::CannotOpen,
                              "the ledger " + path + " cannot be opened: there is no such file");
        }
        return;
    }
    if (ec || status.type() != fs::file_type::regular) {
        throw LedgerError(LedgerFault::CannotOpen,
                          "the ledger " + path + " cannot be opened: it is not a regular file");
    }
}

// A reader cannot read a ledger in the older form without making files beside it.
[[noreturn]] void refuseOlderForm(const std::string& path) {
    throw LedgerError(LedgerFault::CannotOpen,
                      "the ledger " + path +
                          " was last written by an older version, with a "
                          "write-ahead log: the next program that writes it converts it, and then "
                          "it can be read");
}

// What SQLite would take in beside the ledger: refused when it is not the ledger's own.
void refuseForeignFiles(const std::string& path, bool reader) {
    switch (besideLedger(path)) {
    case Beside::Nothing:
    case Beside::OwnJournal:
        return;
    case Beside::OlderLog:
        if (!reader) {
            return;
        }
        refuseOlderForm(path);
    case Beside::ForeignJournal:
        // A station's commit under way has its journal beside the ledger, changing and then
        // gone as it is read; a reader never plays a journal back, so it leaves a held
        // ledger's journal, or one that is gone on a second look, to SQLite's locks.
        if (reader &&
            (LedgerClaim::heldElsewhere(path) || besideLedger(path) != Beside::ForeignJournal)) {
            return;
        }
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path + " has a file " + path +
                              "-journal beside it that is not its own: nothing was changed; "
                              "move that file away");
    case Beside::ForeignLog:
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path + " has a file " + path +
                              "-wal beside it that is not its own: nothing was changed; move "
                              "that file away");
    }
}

// The objects (type, name, table, SQL) an SQLite file holds, sqlite_sequence left out.
using Objects = std::set<std::tuple<std::string, std::string, std::string, std::string>>;

const std::string kSequenceName = "sqlite_sequence";

// The objects, and whether sqlite_sequence is none or as SQLite makes it.
Objects objectsOf(Database& db, bool& sequenceAsMade) {
    Objects objects;
    sequenceAsMade = true;
    Statement rows(db, "SELECT type, name, tbl_name, sql FROM sqlite_master");
    while (rows.step()) {
        if (rows.text(1) == kSequenceName) {
            sequenceAsMade = rows.text(0) == "table" && rows.text(2) == kSequenceName &&
                             rows.text(3) == "CREATE TABLE " + kSequenceName + "(name,seq)";
        } else {
            objects.emplace(rows.text(0), rows.text(1), rows.text(2), rows.text(3));
        }
    }
    return objects;
}

// The objects a ledger of version has, as SQLite keeps their definitions.
const Objects& expectedObjects(int64_t version) {
    static const std::array<Objects, 2> kExpected = [] {
        std::array<Objects, 2> expected;
        for (size_t v = 0; v < expected.size(); ++v) {
            Database db{Database::InMemory{}};
            db.exec(kTables);
            if (v > 0) {
                db.exec(kLogChecks);
            }
            bool sequence = true;
            expected[v] = objectsOf(db, sequence);
        }
        return expected;
    }();
    return kExpected[static_cast<size_t>(version - kFirstVersion)];
}

// A ledger is exactly its tables, their columns and the one index: no trigger, no view, no
// other table. A database with nothing in it is a new ledger.
void checkLedger(Database& db, const std::string& path) {
    const int64_t application = db.integerOf("PRAGMA application_id");
    const int64_t version = db.integerOf("PRAGMA user_version");
    bool sequenceAsMade = true;
    const Objects objects = objectsOf(db, sequenceAsMade);
    if (objects.empty() && sequenceAsMade && version == 0) {
        return;
    }
    if (application != kLedgerApplicationId) {
        throw LedgerError(LedgerFault::NotALedger,
                          path + " is another program's database, not a serial ledger");
    }
    if (version > kLedgerVersion) {
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path + " was made by a newer version of this program");
    }
    if (version < kFirstVersion || !sequenceAsMade || objects != expectedObjects(version)) {
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path +
                              " is no serial ledger or is damaged (its tables "
                              "are not a ledger's: another table, a trigger, a view or a column "
                              "differs)");
    }
}

void checkIntact(Database& db, const std::string& path) {
    const std::string verdict = db.textOf("PRAGMA quick_check");
    if (verdict != "ok") {
        throw LedgerError(LedgerFault::NotALedger,
                          "the ledger " + path + " is damaged (" + verdict + ")");
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

std::string hexOf(std::string_view bytes) {
    return hexText(Record(bytes.begin(), bytes.end()));
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

// Released records the scheme does not hold are set apart for good: a later scheme that holds
// them again does not give them out.
void setApartOutside(Database& db, const SerialScheme& scheme) {
    std::vector<std::string> outside;
    Statement released(db, "SELECT value FROM serials WHERE state = 'released' AND reason IS NULL");
    while (released.step()) {
        const std::optional<Record> record = recordOf(released.text(0));
        if (!record || !scheme.indexOf(*record)) {
            outside.push_back(released.text(0));
        }
    }
    Statement apart(db, "UPDATE serials SET reason = ? WHERE value = ? AND state = 'released'");
    for (const std::string& value : outside) {
        apart.bind(1, std::string(kOutsideSchemeReason)).bind(2, value).run();
    }
}

// What the ledger knows of its scheme, for reading its records.
struct KeptScheme {
    std::string kind;
    std::string description;
    std::optional<NumberFormat> format;
    int width = 0;
    uint64_t step = 1;

    std::optional<uint64_t> numberOf(const std::string& value) const {
        const std::optional<Record> record = recordOf(value);
        return record && format ? decodeNumber(*format, width, *record) : std::nullopt;
    }
    // The length of the ledger's records; none for a kind this version does not make.
    std::optional<size_t> recordLength() const {
        if (format) {
            try {
                return SerialScheme::numbers({0, 0, 1, *format, width}).recordLength();
            } catch (const SchemeError&) {
                return std::nullopt;
            }
        }
        size_t bytes = 0;
        const int read = std::sscanf(kind.c_str(), "list of %zu-byte records", &bytes);
        const bool matches =
            read == 1 && kind == "list of " + std::to_string(bytes) + "-byte records";
        return matches && bytes >= kMinRecordBytes && bytes <= kMaxRecordBytes
                   ? std::optional<size_t>(bytes)
                   : std::nullopt;
    }
};

std::optional<KeptScheme> keptScheme(Database& db) {
    Statement scheme(db, "SELECT kind, description, format, width, step FROM scheme WHERE id = 1");
    if (!scheme.step()) {
        return std::nullopt;
    }
    KeptScheme kept{scheme.text(0), scheme.text(1), numberFormat(scheme.text(2)),
                    static_cast<int>(scheme.integer(3)),
                    std::max<uint64_t>(1, static_cast<uint64_t>(scheme.integer(4)))};
    return kept;
}

std::string fileKey(const std::string& log) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(log, ec);
    return (ec ? fs::path(log) : absolute).lexically_normal().string();
}

std::string fileNameOf(const std::string& log) {
    return fs::path(log).filename().string();
}

// Opens a log for reading; throws LedgerError when there is one that cannot be read.
std::unique_ptr<trace::LogReader> openLog(const std::string& log, const std::string& path,
                                          bool mayBeMissing) {
    auto reader = std::make_unique<trace::LogReader>(log);
    switch (reader->problem()) {
    case trace::LogReader::Problem::None:
        return reader;
    case trace::LogReader::Problem::Missing:
        if (mayBeMissing) {
            return nullptr;
        }
        break;
    case trace::LogReader::Problem::NotALog:
        throw LedgerError(LedgerFault::CannotOpen,
                          "the log " + log +
                              " is not a traceability log (its first line is not "
                              "the log's header): the ledger " +
                              path + " cannot be checked against it");
    case trace::LogReader::Problem::NotRegular:
    case trace::LogReader::Problem::CannotOpen:
        break;
    }
    throw LedgerError(LedgerFault::CannotOpen, "the log " + log + " cannot be read: the ledger " +
                                                   path + " cannot be checked against it");
}

// Goes on from where the ledger's last check of the log ended, when it is still the same
// log up to there; else reads it from its start.
void resumeLog(Database& db, trace::LogReader& reader, const std::string& key) {
    Statement last(db, "SELECT offset, line, tail FROM log_checks WHERE log = ?");
    last.bind(1, key);
    if (!last.step()) {
        return;
    }
    // A crafted note only costs a read of the log from its start.
    const auto offset = static_cast<uint64_t>(last.integer(0));
    const auto line = static_cast<uint64_t>(last.integer(1));
    const std::string tail = last.text(2);
    if (hexOf(reader.bytesBefore(offset, kLogTailBytes)) == tail) {
        reader.seek(offset, line);
    }
}

void noteLogChecked(Database& db, trace::LogReader& reader, const std::string& key) {
    // Written only when it moved: an open that finds nothing new in the log writes nothing.
    Statement note(db, "INSERT INTO log_checks (log, offset, line, tail) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (log) DO UPDATE SET offset = excluded.offset, "
                       "line = excluded.line, tail = excluded.tail "
                       "WHERE offset != excluded.offset OR tail != excluded.tail");
    note.bind(1, key)
        .bind(2, static_cast<int64_t>(reader.offset()))
        .bind(3, static_cast<int64_t>(reader.line()))
        .bind(4, hexOf(reader.bytesBefore(reader.offset(), kLogTailBytes)))
        .run();
}

std::optional<RecordState> knownState(Statement& known, const std::string& value) {
    known.bind(1, value);
    std::optional<RecordState> state;
    if (known.step()) {
        state = stateOf(known.text(0));
        known.reset();
    }
    return state;
}

// Every record of the ledger's length that a log line gives to a chip must be one the ledger
// gave out and did not release.
void checkLogs(Database& db, const std::string& path, size_t recordBytes,
               std::span<const std::string> logs) {
    Statement known(db, "SELECT state FROM serials WHERE value = ?");
    for (const std::string& log : logs) {
        const std::unique_ptr<trace::LogReader> reader = openLog(log, path, true);
        if (!reader) {
            continue;
        }
        const std::string key = fileKey(log);
        resumeLog(db, *reader, key);
        trace::LogEntry entry;
        while (reader->next(entry)) {
            if (!entry.connected || entry.serial.size() != 2 * recordBytes) {
                continue;
            }
            const std::optional<RecordState> state = knownState(known, entry.serial);
            if (!state || *state == RecordState::Released) {
                throw LedgerError(
                    LedgerFault::BehindLog,
                    "the ledger " + path + " is older than the log " + log + ": line " +
                        std::to_string(entry.line) + " gives record " + entry.serial +
                        " to the chip of target " + std::to_string(entry.socket) + ", and the " +
                        (state ? "ledger has it as released" : "ledger does not know it") +
                        "; bring the ledger up to date with: octo816 serials --ledger " + path +
                        " --reconcile " + log);
            }
        }
        noteLogChecked(db, *reader, key);
    }
}

// A ledger made or last written by an earlier version becomes one of this version.
void upgrade(Database& db) {
    // A ledger of this version is left as it is: a commit that writes nothing costs no sync.
    if (db.integerOf("PRAGMA user_version") == kLedgerVersion) {
        return;
    }
    db.exec(kTables);
    db.exec(kLogChecks);
    db.exec(("PRAGMA application_id = " + std::to_string(kLedgerApplicationId)).c_str());
    db.exec(("PRAGMA user_version = " + std::to_string(kLedgerVersion)).c_str());
}

uint64_t voidInterrupted(Database& db) {
    Statement recover(db, "UPDATE serials SET state = 'void', reason = ?, time = ? "
                          "WHERE state = 'reserved'");
    recover.bind(1, kInterrupted).bind(2, trace::utcTimestamp()).run();
    return static_cast<uint64_t>(db.changes());
}

// A reader's connection: changes no file, and sees the ledger as of its last commit.
struct Reader {
    explicit Reader(const std::string& path) : path(path) {
        requireRegularFile(path, false);
        refuseForeignFiles(path, true);
        const std::optional<DatabaseHeader> header = readDatabaseHeader(path);
        if (header && header->writeAheadLog) {
            refuseOlderForm(path);
        }
        db.emplace(path, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(db->handle(), static_cast<int>(kBusyWait.count()));
        checkLedger(*db, path);
        if (db->integerOf("PRAGMA user_version") == 0) {
            throw LedgerError(LedgerFault::NotALedger, path + " is not a serial ledger");
        }
        checkIntact(*db, path);
    }
    std::string path;
    std::optional<Database> db;
};

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
    summary.releasedOutside.state = RecordState::Released;
    const KeptScheme kept = keptScheme(db).value_or(KeptScheme{});
    summary.scheme = kept.description;
    summary.runs = db.integerOf("SELECT count(*) FROM runs");

    // [kStates] holds the released records outside the scheme.
    std::array<std::vector<uint64_t>, kStates + 1> numbers;
    std::array<uint64_t, kStates + 1> counts{};
    Statement rows(db, "SELECT value, state, run, socket, time, reason FROM serials");
    while (rows.step()) {
        const std::optional<RecordState> state = stateOf(rows.text(1));
        if (!state) {
            continue;
        }
        const std::string reason = rows.text(5);
        const bool outside = *state == RecordState::Released && reason == kOutsideSchemeReason;
        const size_t at = outside ? kStates : static_cast<size_t>(*state);
        ++counts[at];
        const std::string value = rows.text(0);
        const std::optional<uint64_t> number = kept.numberOf(value);
        if (number) {
            numbers[at].push_back(*number);
        }
        if (*state == RecordState::Void) {
            summary.voids.push_back({value, number, reason, rows.integer(2),
                                     static_cast<int>(rows.integer(3)), rows.text(4)});
        }
    }
    for (size_t i = 0; i <= kStates; ++i) {
        StateSummary& into = i < kStates ? summary.states[i] : summary.releasedOutside;
        std::sort(numbers[i].begin(), numbers[i].end());
        into.count = counts[i];
        into.ranges = runsOf(numbers[i], kept.step);
    }
    std::sort(summary.voids.begin(), summary.voids.end(),
              [](const VoidRecord& a, const VoidRecord& b) {
                  return Kept{a.value, a.number} < Kept{b.value, b.number};
              });
    return summary;
}

constexpr const char* kEntryColumns =
    "SELECT value, state, run, socket, unit, time, image_crc, reason FROM serials";

RecordEntry entryOf(const Statement& row, const KeptScheme& kept) {
    RecordEntry entry;
    entry.value = row.text(0);
    entry.number = kept.numberOf(entry.value);
    entry.state = stateOf(row.text(1)).value_or(RecordState::Void);
    entry.run = row.integer(2);
    entry.socket = static_cast<int>(row.integer(3));
    entry.unit = row.text(4);
    entry.time = row.text(5);
    if (!row.isNull(6)) {
        entry.imageCrc32 = static_cast<uint32_t>(row.integer(6));
    }
    entry.reason = row.text(7);
    return entry;
}

// What value names in a ledger of the kept scheme: a record of its length in hexadecimal,
// or a number of its format; both when it reads as either.
std::vector<std::string> valuesNamed(const std::string& value, const KeptScheme& kept) {
    std::vector<std::string> values;
    const std::optional<size_t> length = kept.recordLength();
    try {
        const SerialScheme one = SerialScheme::list(value, "the value");
        if (one.size() == 1 && length == one.recordLength()) {
            values.push_back(hexText(one.record(0)));
        }
    } catch (const SchemeError&) {
        // Not a record in hexadecimal.
    }
    uint64_t number{};
    const bool hex = value.starts_with("0x") || value.starts_with("0X");
    const char* first = value.data() + (hex ? 2 : 0);
    const char* last = value.data() + value.size();
    const auto [end, error] = std::from_chars(first, last, number, hex ? 16 : 10);
    if (kept.format && first != last && error == std::errc() && end == last) {
        try {
            values.push_back(hexText(
                SerialScheme::numbers({number, number, 1, *kept.format, kept.width}).record(0)));
        } catch (const SchemeError&) {
            // A number the format cannot hold.
        }
    }
    if (values.empty()) {
        throw std::invalid_argument(
            value + " is no record of this ledger: give " +
            (length ? std::to_string(*length) + " bytes in hexadecimal" : std::string("a record")) +
            (kept.format ? " or a number" : ""));
    }
    if (values.size() == 2 && values[0] == values[1]) {
        values.pop_back();
    }
    return values;
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

// A writer's hold on the ledger: the claim first, then the connection, which goes before
// the claim does. A file the open made is removed again unless the open went through.
// How a ledger file looked when a writer of this process let go of it: the same again at the
// next open means no other program wrote it since, and the file, checked whole at the earlier
// open, has had only this process's commits.
struct FileMark {
    uint32_t changeCounter = 0;
    uintmax_t size = 0;
    fs::file_time_type written{};
    bool operator==(const FileMark&) const = default;
};

std::optional<FileMark> markOf(const std::string& path) {
    const std::optional<DatabaseHeader> header = readDatabaseHeader(path);
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    const fs::file_time_type written = ec ? fs::file_time_type{} : fs::last_write_time(path, ec);
    if (!header || ec) {
        return std::nullopt;
    }
    return FileMark{header->changeCounter, size, written};
}

std::mutex gMarksLock;
std::map<std::string, FileMark> gMarks; // by fileKey() of the path

bool asLeft(const std::string& path) {
    const std::optional<FileMark> now = markOf(path);
    const std::lock_guard<std::mutex> lock(gMarksLock);
    const auto left = gMarks.find(fileKey(path));
    return now && left != gMarks.end() && left->second == *now;
}

struct Writer {
    ~Writer() {
        db.reset();
        if (!discard) {
            // Still held: nobody else wrote it since the last commit.
            const std::optional<FileMark> mark = markOf(path);
            const std::lock_guard<std::mutex> lock(gMarksLock);
            // A file with no mark is never as left: the next open checks it whole.
            if (mark) {
                gMarks[fileKey(path)] = *mark;
            }
        }
        claim.release(discard);
    }

    std::string path;
    LedgerClaim claim;
    std::optional<Database> db;
    bool discard = true;
};

std::unique_ptr<Writer> openWriter(const std::string& path, bool mayBeMissing) {
    requireRegularFile(path, mayBeMissing);
    auto writer = std::make_unique<Writer>();
    writer->path = path;
    const std::string ledger = "the ledger " + path;
    switch (writer->claim.take(path, mayBeMissing, kBusyWait)) {
    case LedgerClaim::Result::Taken:
        break;
    case LedgerClaim::Result::Held:
        throw LedgerError(LedgerFault::InUse, ledger + " is in use by another program");
    case LedgerClaim::Result::ReadOnly:
        throw LedgerError(LedgerFault::CannotWrite, ledger + " cannot be written (read-only)");
    case LedgerClaim::Result::NotRegular:
        throw LedgerError(LedgerFault::CannotOpen,
                          ledger + " cannot be opened: it is not a regular file");
    case LedgerClaim::Result::Missing:
        throw LedgerError(LedgerFault::CannotOpen, ledger + " cannot be opened: " +
                                                       (mayBeMissing ? "its folder does not exist"
                                                                     : "there is no such file"));
    case LedgerClaim::Result::CannotOpen:
        throw LedgerError(LedgerFault::CannotOpen, ledger + " cannot be opened");
    }
    refuseForeignFiles(path, false);
    const bool unchanged = asLeft(path);
    try {
        Database& db = writer->db.emplace(path, SQLITE_OPEN_READWRITE);
        if (db.readOnly()) {
            throw LedgerError(LedgerFault::CannotWrite, ledger + " cannot be written (read-only)");
        }
        sqlite3_busy_timeout(db.handle(), static_cast<int>(kBusyWait.count()));
        checkLedger(db, path);
        // The whole file is read once a process, and again whenever another program wrote it.
        if (!unchanged) {
            checkIntact(db, path);
        }
        // Every commit goes whole into the main file; the journal is removed and the folder
        // synced after it, so that a power loss cannot bring back a committed journal.
        if (db.textOf("PRAGMA journal_mode = DELETE") != "delete") {
            throw LedgerError(LedgerFault::CannotWrite, ledger + " cannot keep a rollback journal");
        }
        db.exec("PRAGMA synchronous = EXTRA");
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
    return writer;
}

std::optional<int64_t> crcOf(const std::string& hex) {
    uint32_t crc = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), crc, 16);
    return hex.size() == 8 && error == std::errc() && end == hex.data() + hex.size()
               ? std::optional<int64_t>(crc)
               : std::nullopt;
}

// Takes in one log's records: see SerialLedger::reconcile.
ReconcileCount reconcileLog(Database& db, trace::LogReader& reader, const std::string& log,
                            size_t recordBytes, int64_t run) {
    ReconcileCount count{.log = log};
    const std::string reason = reconciledReason(log);
    Statement known(db, "SELECT state, reason FROM serials WHERE value = ?");
    Statement note(db, "INSERT OR REPLACE INTO serials (value, state, run, socket, unit, time, "
                       "image_crc, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    trace::LogEntry entry;
    while (reader.next(entry)) {
        if (entry.serial.empty()) {
            continue;
        }
        if (entry.serial.size() != 2 * recordBytes) {
            ++count.otherKind;
            continue;
        }
        if (!entry.connected) {
            continue; // the unit never wrote it
        }
        known.bind(1, entry.serial);
        std::optional<RecordState> state;
        std::string noted;
        if (known.step()) {
            state = stateOf(known.text(0));
            noted = known.text(1);
            known.reset();
        }
        // A later line of this log that says a chip with the record passed outweighs one
        // that says a chip with it failed.
        const bool again = state == RecordState::Void && noted == reason && entry.passed;
        if (state && *state != RecordState::Released && !again) {
            ++count.known;
            continue;
        }
        const RecordState now = entry.passed ? RecordState::Programmed : RecordState::Void;
        note.bind(1, entry.serial)
            .bind(2, std::string(stateName(now)))
            .bind(3, run)
            .bind(4, int64_t{entry.socket})
            .bind(5, entry.unit.substr(0, kMaxLogText))
            .bind(6, entry.time.substr(0, kMaxLogText))
            .bind(7, crcOf(entry.imageCrc32))
            .bind(8, reason)
            .run();
        if (again) {
            --count.voided;
        }
        ++(now == RecordState::Programmed ? count.programmed : count.voided);
    }
    count.malformed = reader.malformed();
    return count;
}

} // namespace

std::string_view stateName(RecordState state) {
    return kStateNames[static_cast<size_t>(state)];
}

std::string reconciledReason(const std::string& log) {
    return "reconciled from " + fileNameOf(log);
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
    explicit Impl(const SerialScheme& scheme) : scheme(scheme) {}

    SerialScheme scheme;
    std::unique_ptr<Writer> writer;
    uint64_t interrupted = 0;

    Database& db() { return *writer->db; }
    const std::string& path() const { return writer->path; }

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

SerialLedger SerialLedger::open(const std::string& path, const SerialScheme& scheme,
                                std::span<const std::string> logs) {
    auto impl = std::make_unique<Impl>(scheme);
    impl->writer = openWriter(path, true);
    Database& db = impl->db();
    try {
        Transaction transaction(db);
        upgrade(db);
        takeScheme(db, scheme, path);
        setApartOutside(db, scheme);
        impl->interrupted = voidInterrupted(db);
        checkLogs(db, path, scheme.recordLength(), logs);
        transaction.commit();
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
    impl->writer->discard = false;
    return SerialLedger(std::move(impl));
}

std::vector<ReconcileCount> SerialLedger::reconcile(const std::string& path,
                                                    std::span<const std::string> logs) {
    const std::unique_ptr<Writer> writer = openWriter(path, false);
    Database& db = *writer->db;
    std::vector<ReconcileCount> counts;
    try {
        if (db.integerOf("PRAGMA user_version") == 0) {
            throw LedgerError(LedgerFault::NotALedger, path + " is not a serial ledger");
        }
        Transaction transaction(db);
        upgrade(db);
        const std::optional<size_t> recordBytes =
            keptScheme(db).value_or(KeptScheme{}).recordLength();
        if (!recordBytes) {
            throw LedgerError(LedgerFault::NotALedger,
                              "the ledger " + path + " has no scheme of this version's kinds");
        }
        voidInterrupted(db);
        const std::string time = trace::utcTimestamp();
        Statement addRun(db, "INSERT INTO runs (time, unit, settled) VALUES (?, ?, ?)");
        addRun.bind(1, time).bind(2, std::string("reconciled from logs")).bind(3, time).run();
        const int64_t run = sqlite3_last_insert_rowid(db.handle());
        for (const std::string& log : logs) {
            const std::unique_ptr<trace::LogReader> reader = openLog(log, path, false);
            counts.push_back(reconcileLog(db, *reader, log, *recordBytes, run));
            noteLogChecked(db, *reader, fileKey(log));
        }
        transaction.commit();
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
    writer->discard = false;
    return counts;
}

LedgerSummary SerialLedger::inspect(const std::string& path) {
    LedgerSummary summary;
    try {
        Reader reader(path);
        summary = summarize(*reader.db);
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
    // Looked at once the reader's connection is closed: the look opens the file once more.
    summary.inUse = LedgerClaim::heldElsewhere(path);
    return summary;
}

std::vector<RecordEntry> SerialLedger::find(const std::string& path, const std::string& value) {
    try {
        Reader reader(path);
        Database& db = *reader.db;
        const std::optional<KeptScheme> kept = keptScheme(db);
        if (!kept) {
            return {};
        }
        std::vector<RecordEntry> found;
        Statement row(db, (std::string(kEntryColumns) + " WHERE value = ?").c_str());
        for (const std::string& named : valuesNamed(value, *kept)) {
            row.bind(1, named);
            if (row.step()) {
                found.push_back(entryOf(row, *kept));
                row.reset();
            }
        }
        return found;
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

std::vector<RecordEntry> SerialLedger::programmed(const std::string& path) {
    try {
        Reader reader(path);
        Database& db = *reader.db;
        const KeptScheme kept = keptScheme(db).value_or(KeptScheme{});
        std::vector<RecordEntry> records;
        Statement rows(db, (std::string(kEntryColumns) + " WHERE state = 'programmed'").c_str());
        while (rows.step()) {
            records.push_back(entryOf(rows, kept));
        }
        std::sort(records.begin(), records.end(), [](const RecordEntry& a, const RecordEntry& b) {
            return Kept{a.value, a.number} < Kept{b.value, b.number};
        });
        return records;
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

std::string SerialLedger::backup(const std::string& path) {
    try {
        Reader reader(path);
        Database copy{Database::InMemory{}};
        sqlite3_backup* backup =
            sqlite3_backup_init(copy.handle(), "main", reader.db->handle(), "main");
        if (backup == nullptr) {
            copy.fail(sqlite3_errcode(copy.handle()));
        }
        // All pages in one step, under one read lock: the ledger as of one commit. A station's
        // commit under way is waited for by the reader's busy wait.
        const int step = sqlite3_backup_step(backup, -1);
        const int finish = sqlite3_backup_finish(backup);
        if (step != SQLITE_DONE) {
            throw SqliteError(step, sqlite3_errstr(step));
        }
        if (finish != SQLITE_OK) {
            copy.fail(finish);
        }
        sqlite3_int64 size{};
        unsigned char* bytes = sqlite3_serialize(copy.handle(), "main", &size, 0);
        if (bytes == nullptr) {
            throw SqliteError(SQLITE_NOMEM, "the copy cannot be made in memory");
        }
        std::string image(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
        sqlite3_free(bytes);
        return image;
    } catch (const SqliteError& e) {
        throw ledgerError(path, e);
    }
}

std::vector<SerialLedger::Impl::Pick> SerialLedger::Impl::pick(size_t needed, uint64_t& next) {
    std::vector<std::pair<uint64_t, Record>> released;
    Statement free(db(), "SELECT value FROM serials WHERE state = 'released' AND reason IS NULL");
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
    next = static_cast<uint64_t>(db().integerOf("SELECT next_index FROM scheme WHERE id = 1"));
    Statement known(db(), "SELECT 1 FROM serials WHERE value = ?");
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
        Database& db = impl.db();
        Transaction transaction(db);
        uint64_t next = 0;
        std::vector<Impl::Pick> picks = impl.pick(sockets.size(), next);
        const std::string time = trace::utcTimestamp();
        const std::optional<int64_t> imageCrc =
            run.imageCrc32 ? std::optional<int64_t>(*run.imageCrc32) : std::nullopt;
        Statement addRun(db, "INSERT INTO runs (time, unit, image_crc) VALUES (?, ?, ?)");
        addRun.bind(1, time).bind(2, run.unit).bind(3, imageCrc).run();
        Reservation reservation;
        reservation.run = sqlite3_last_insert_rowid(db.handle());

        Statement fresh(db, "INSERT INTO serials (state, run, socket, unit, time, "
                            "image_crc, value) VALUES ('reserved', ?, ?, ?, ?, ?, ?)");
        Statement again(db, "UPDATE serials SET state = 'reserved', run = ?, socket = ?, "
                            "unit = ?, time = ?, image_crc = ?, reason = NULL "
                            "WHERE value = ? AND state = 'released'");
        for (size_t i = 0; i < picks.size(); ++i) {
            SocketRecord record{sockets[i], picks[i].record, hexText(picks[i].record)};
            Statement& write = picks[i].released ? again : fresh;
            write.bind(1, reservation.run).bind(2, int64_t{record.socket}).bind(3, run.unit);
            write.bind(4, time).bind(5, imageCrc).bind(6, record.value).run();
            reservation.records.push_back(std::move(record));
        }
        Statement cursor(db, "UPDATE scheme SET next_index = ? WHERE id = 1");
        cursor.bind(1, static_cast<int64_t>(next)).run();
        transaction.commit();
        return reservation;
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path(), e);
    }
}

void SerialLedger::requireRecords(size_t needed) {
    try {
        uint64_t next = 0;
        impl_->pick(needed, next);
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path(), e);
    }
}

void SerialLedger::Impl::settleRecords(const Reservation& reservation,
                                       const std::vector<RecordState>& states,
                                       const std::vector<std::string>& reasons) {
    try {
        Transaction transaction(db());
        const std::string time = trace::utcTimestamp();
        Statement update(db(), "UPDATE serials SET state = ?, reason = ?, time = ? "
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
        Statement settled(db(), "UPDATE runs SET settled = ? WHERE id = ?");
        settled.bind(1, time).bind(2, reservation.run).run();
        transaction.commit();
    } catch (const SqliteError& e) {
        throw ledgerError(path(), e);
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
        return summarize(impl_->db());
    } catch (const SqliteError& e) {
        throw ledgerError(impl_->path(), e);
    }
}

uint64_t SerialLedger::interruptedAtOpen() const {
    return impl_->interrupted;
}

const std::string& SerialLedger::path() const {
    return impl_->path();
}

} // namespace octo::serials

// The serial ledger on real files: what each outcome makes of a record, what is given out
// again and what never, what an interrupted or killed run leaves, and ledgers refused
// without a change.
#include "serials/serial_ledger.h"
#include "serials/sqlite_db.h"
#include "support/TempFolder.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace octo::serials {
namespace {

constexpr std::array<int, kSockets> kAllSockets = {1, 2, 3, 4, 5, 6, 7, 8};
const RunFacts kRun{"COM1 firmware 1.56", 0x1234ABCDu};

SerialScheme le32(uint64_t start, uint64_t end) {
    return SerialScheme::numbers({start, end, 1, NumberFormat::Le32, 0});
}

// One letter a socket: P passed, F failed, N not connected.
Outcomes outcomes(const std::string& letters) {
    Outcomes result{};
    for (size_t i = 0; i < result.size(); ++i) {
        result[i] = letters[i] == 'P'
                        ? Outcome::Passed
                        : (letters[i] == 'F' ? Outcome::Failed : Outcome::NotConnected);
    }
    return result;
}

std::vector<uint64_t> numbers(const Reservation& reservation) {
    std::vector<uint64_t> result;
    for (const SocketRecord& r : reservation.records) {
        result.push_back(decodeNumber(NumberFormat::Le32, 0, r.record).value());
    }
    return result;
}

const StateSummary& state(const LedgerSummary& summary, RecordState which) {
    return summary.states[static_cast<size_t>(which)];
}

std::string contents(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs sql on the file with a plain SQLite connection, as another program could.
void rawExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// Statements that change a table's page before page 1 (an existing row first), then grow
// the table past the page cache, so that SQLite writes pages into the file before the commit
// ends: page 1 is not the journal's first record.
constexpr char kGrowLedger[] =
    "UPDATE serials SET time = time; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
    "FROM c WHERE i < 400) INSERT INTO serials SELECT printf('%032x', i), 'void', 1, 1, "
    "hex(randomblob(400)), 't', NULL, NULL FROM c";
constexpr char kGrowParts[] =
    "UPDATE parts SET id = id; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c "
    "WHERE i < 400) INSERT INTO parts SELECT randomblob(900) FROM c";

// A commit of another program (grow) stopped after its journal was made hot and before it
// was removed: the database and its journal as they were then, copied to path.
void copyMidCommit(const std::string& from, const std::string& path, const char* grow) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(from.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           (std::string("PRAGMA journal_mode = DELETE; PRAGMA cache_size = 2; "
                                        "BEGIN; ") +
                            grow)
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(from + "-journal", path + "-journal",
                               std::filesystem::copy_options::overwrite_existing);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

class SerialLedgerTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return folder_.file(name); }

    testing::TempFolder folder_{"octo_ledger"};
    std::string path_ = folder_.file("station1.ledger");
};

TEST_F(SerialLedgerTest, EachOutcomeSettlesItsRecordAndReleasedOnesComeBackLowestFirst) {
    SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
    const Reservation first = ledger.reserve(kRun, kAllSockets);
    EXPECT_EQ(numbers(first), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(first.forSocket(3)->value, "03000000");
    EXPECT_EQ(state(ledger.summary(), RecordState::Reserved).count, 8u) << "committed at once";

    ledger.settle(first, outcomes("PFNPPPNP"));
    const LedgerSummary summary = ledger.summary();
    EXPECT_EQ(state(summary, RecordState::Reserved).count, 0u);
    EXPECT_EQ(state(summary, RecordState::Programmed).ranges,
              (std::vector<NumberRun>{{1, 1}, {4, 6}, {8, 8}}));
    EXPECT_EQ(state(summary, RecordState::Released).ranges,
              (std::vector<NumberRun>{{3, 3}, {7, 7}}));
    ASSERT_EQ(summary.voids.size(), 1u);
    EXPECT_EQ(summary.voids[0].number, 2u);
    EXPECT_EQ(summary.voids[0].reason, "failed");
    EXPECT_EQ(summary.voids[0].socket, 2);
    EXPECT_EQ(summary.scheme, "le32 from 1 to 100 step 1");

    const std::array<int, 3> three = {8, 2, 5};
    const Reservation second = ledger.reserve(kRun, three);
    EXPECT_EQ(numbers(second), (std::vector<uint64_t>{3, 7, 9}));
    EXPECT_EQ(second.forSocket(2)->value, "07000000");
    EXPECT_EQ(second.forSocket(1), nullptr);
    ledger.settleWithoutResult(second, "link error 3");
    EXPECT_EQ(state(ledger.summary(), RecordState::Void).count, 4u);
    EXPECT_EQ(ledger.summary().voids.back().reason, "link error 3");
    EXPECT_EQ(numbers(ledger.reserve(kRun, three)), (std::vector<uint64_t>{10, 11, 12}));
}

TEST_F(SerialLedgerTest, AShortSchemeIsRefusedBeforeAnythingIsReserved) {
    SerialLedger ledger = SerialLedger::open(path_, le32(1, 10));
    ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
    try {
        ledger.reserve(kRun, kAllSockets);
        ADD_FAILURE() << "reserved past the end";
    } catch (const LedgerError& e) {
        EXPECT_EQ(e.fault(), LedgerFault::Exhausted);
        EXPECT_STREQ(e.what(), "the serial scheme has run out: le32 from 1 to 10 step 1 has 2 "
                               "records left, 8 sockets need one each");
    }
    EXPECT_EQ(ledger.summary().runs, 1);
    EXPECT_EQ(state(ledger.summary(), RecordState::Reserved).count, 0u);
    const std::array<int, 2> two = {1, 2};
    EXPECT_EQ(numbers(ledger.reserve(kRun, two)), (std::vector<uint64_t>{9, 10}));
}

TEST_F(SerialLedgerTest, RecordsLeftReservedBecomeVoidAtTheNextOpen) {
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
        ledger.reserve(kRun, kAllSockets);
    }
    SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
    EXPECT_EQ(ledger.interruptedAtOpen(), 8u);
    const LedgerSummary summary = ledger.summary();
    EXPECT_EQ(state(summary, RecordState::Void).ranges, (std::vector<NumberRun>{{1, 8}}));
    EXPECT_EQ(summary.voids.front().reason, "interrupted");
    EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)).front(), 9u);
}

TEST_F(SerialLedgerTest, ARunKilledAfterReservingNeverGivesItsRecordsOutAgain) {
    // From 244: the killed run's 252..259 cross from one low byte to the next, so the
    // ledger's text order of them is not their numbers' order.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        try {
            SerialLedger ledger = SerialLedger::open(path_, le32(244, 400));
            ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
            ledger.reserve(kRun, kAllSockets);
        } catch (...) {
            _exit(1);
        }
        const char done = 1;
        (void)!write(ready[1], &done, 1);
        pause();
        _exit(0);
    }
    close(ready[1]); // a child that ends before reserving ends the read
    char done = 0;
    const bool reserved = read(ready[0], &done, 1) == 1;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(reserved) << "the child could not reserve";

    const LedgerSummary seen = SerialLedger::inspect(path_);
    EXPECT_EQ(state(seen, RecordState::Reserved).ranges, (std::vector<NumberRun>{{252, 259}}))
        << "a listing changes nothing";
    SerialLedger ledger = SerialLedger::open(path_, le32(244, 400));
    EXPECT_EQ(ledger.interruptedAtOpen(), 8u);
    EXPECT_EQ(state(ledger.summary(), RecordState::Programmed).ranges,
              (std::vector<NumberRun>{{244, 251}}));
    EXPECT_EQ(state(ledger.summary(), RecordState::Void).ranges,
              (std::vector<NumberRun>{{252, 259}}));
    EXPECT_EQ(ledger.summary().voids.front().number, 252u) << "lowest first";
    EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)).front(), 260u);
}

TEST_F(SerialLedgerTest, AnotherRangeOfTheKindSkipsWhatTheLedgerKnowsAnotherKindIsRefused) {
    SerialLedger::open(path_, le32(1, 100)).reserve(kRun, kAllSockets);
    const std::string before = contents(path_);
    try {
        SerialLedger::open(path_, SerialScheme::numbers({1, 100, 1, NumberFormat::Be32, 0}));
        ADD_FAILURE() << "took be32 on a le32 ledger";
    } catch (const LedgerError& e) {
        EXPECT_EQ(e.fault(), LedgerFault::OtherKind);
        EXPECT_EQ(std::string(e.what()),
                  "the ledger " + path_ + " keeps le32 records, the scheme makes be32 records");
    }
    EXPECT_EQ(contents(path_), before);
    SerialLedger ledger = SerialLedger::open(path_, le32(5, 200));
    EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)),
              (std::vector<uint64_t>{9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST_F(SerialLedgerTest, AListGivesOutItsLinesInOrder) {
    SerialLedger ledger =
        SerialLedger::open(path_, SerialScheme::list("02:00:00:00:00:01\n02:00:00:00:00:02\n"
                                                     "02:00:00:00:00:03\n",
                                                     "macs.txt"));
    const std::array<int, 2> two = {4, 6};
    const Reservation reservation = ledger.reserve({"COM2", std::nullopt}, two);
    EXPECT_EQ(reservation.forSocket(6)->value, "020000000002");
    ledger.settle(reservation, outcomes("PPPNPPPP"));
    EXPECT_EQ(ledger.reserve(kRun, two).forSocket(6)->value, "020000000003");
    EXPECT_EQ(state(ledger.summary(), RecordState::Programmed).count, 1u);
    EXPECT_TRUE(state(ledger.summary(), RecordState::Programmed).ranges.empty());
}

TEST_F(SerialLedgerTest, ASecondHolderIsToldTheLedgerIsInUseAListingReadsItAsCommitted) {
    SerialLedger holder = SerialLedger::open(path_, le32(1, 100));
    const Reservation run = holder.reserve(kRun, kAllSockets);
    try {
        (void)SerialLedger::open(path_, le32(1, 100));
        ADD_FAILURE() << "opened twice";
    } catch (const LedgerError& e) {
        EXPECT_EQ(e.fault(), LedgerFault::InUse);
    }
    const LedgerSummary seen = SerialLedger::inspect(path_);
    EXPECT_TRUE(seen.inUse);
    EXPECT_EQ(state(seen, RecordState::Reserved).ranges, (std::vector<NumberRun>{{1, 8}}))
        << "the holder's records stay reserved: the refused open voided nothing";
    holder.settle(run, outcomes("PPPPPPPP"));
    EXPECT_EQ(state(SerialLedger::inspect(path_), RecordState::Programmed).count, 8u);
}

struct Unusable {
    const char* name;
    std::string bytes; // the file's contents; none: no file
    LedgerFault fault;
    const char* words;
};

TEST_F(SerialLedgerTest, AnUnusableLedgerIsRefusedAndLeftAsItWas) {
    std::filesystem::create_directories(file("folder.ledger"));
    sqlite3* other = nullptr;
    sqlite3_open(file("other.db").c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE parts (id INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    sqlite3_open(file("newer.ledger").c_str(), &other);
    sqlite3_exec(other,
                 "CREATE TABLE serials (value TEXT); PRAGMA application_id = 1329812300; "
                 "PRAGMA user_version = 3",
                 nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const Unusable cases[] = {
        {"folder.ledger", "", LedgerFault::CannotOpen, "it is a folder"},
        {"missing/station.ledger", "", LedgerFault::CannotOpen, "cannot be opened"},
        {"notes.txt", std::string(4096, 'x'), LedgerFault::NotALedger, "no serial ledger"},
        {"other.db", "", LedgerFault::NotALedger, "another program's database"},
        {"newer.ledger", "", LedgerFault::NotALedger, "a newer version of this program"},
    };
    for (const Unusable& c : cases) {
        const std::string path = file(c.name);
        if (!c.bytes.empty()) {
            std::ofstream(path, std::ios::binary) << c.bytes;
        }
        const std::string before = contents(path);
        for (const bool listing : {false, true}) {
            try {
                listing ? (void)SerialLedger::inspect(path)
                        : (void)SerialLedger::open(path, le32(1, 100));
                ADD_FAILURE() << "opened " << c.name;
            } catch (const LedgerError& e) {
                EXPECT_EQ(e.fault(), c.fault) << c.name;
                EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(contents(path), before) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(file("missing")));
}

TEST_F(SerialLedgerTest, AReadOnlyLedgerIsRefused) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes read-only files";
    }
    SerialLedger::open(path_, le32(1, 100));
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read);
    try {
        SerialLedger::open(path_, le32(1, 100));
        ADD_FAILURE() << "opened a read-only ledger";
    } catch (const LedgerError& e) {
        EXPECT_EQ(e.fault(), LedgerFault::CannotWrite);
    }
}

// A ledger changed by another program: what it added must never run, and the ledger is
// refused, by every opener, without a change and without a file left beside it.
TEST_F(SerialLedgerTest, ACraftedLedgerIsRefusedWithoutRunningWhatWasAdded) {
    const struct {
        const char* name;
        const char* sql;
        bool writerRefuses; // the writer reads no row the change made too long
    } cases[] = {
        {"a trigger that releases programmed records",
         "CREATE TRIGGER back AFTER UPDATE ON serials BEGIN UPDATE serials SET state = "
         "'released' WHERE state = 'programmed'; END",
         true},
        {"a view with an endless query",
         "CREATE VIEW forever AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
         "c) SELECT i FROM c",
         true},
        {"a trigger with an endless query",
         "CREATE TRIGGER slow BEFORE INSERT ON runs BEGIN WITH RECURSIVE c(i) AS (SELECT 1 "
         "UNION ALL SELECT i + 1 FROM c) SELECT max(i) FROM c; END",
         true},
        {"another table", "CREATE TABLE notes (text)", true},
        {"another column", "ALTER TABLE serials ADD COLUMN note TEXT", true},
        {"another index", "CREATE INDEX serials_by_run ON serials (run)", true},
        {"a reason longer than any a ledger writes",
         "UPDATE serials SET reason = hex(zeroblob(70000)) WHERE value = '01000000'", false},
    };
    for (const auto& c : cases) {
        const std::string path = file("crafted.ledger");
        std::filesystem::remove(path);
        {
            SerialLedger ledger = SerialLedger::open(path, le32(1, 100));
            ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("FPPPPPPP"));
        }
        rawExec(path, c.sql);
        const std::string before = contents(path);
        const std::vector<std::string> entries = folder_.entries();
        const auto started = std::chrono::steady_clock::now();
        for (const bool listing : {false, true}) {
            if (!listing && !c.writerRefuses) {
                continue;
            }
            try {
                listing ? (void)SerialLedger::inspect(path)
                        : (void)SerialLedger::open(path, le32(1, 100));
                ADD_FAILURE() << "opened a ledger with " << c.name;
            } catch (const LedgerError& e) {
                EXPECT_EQ(e.fault(), LedgerFault::NotALedger) << c.name;
                EXPECT_NE(std::string(e.what()).find("is no serial ledger or is damaged"),
                          std::string::npos)
                    << e.what();
            }
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(contents(path), before) << c.name;
        EXPECT_EQ(folder_.entries().size(), entries.size()) << c.name << ": a file beside it";
    }
}

// What SQLite would take in from beside a ledger is judged before it does: another
// database's journal or write-ahead log, or no regular file there, is refused and nothing is
// written; the ledger's own journal, left by a commit that stopped, is rolled back.
TEST_F(SerialLedgerTest, FilesBesideTheLedgerAreTakenOnlyWhenTheyAreItsOwn) {
    const std::string other = file("other.db");
    rawExec(other, "PRAGMA application_id = 7; CREATE TABLE parts (id INTEGER); "
                   "INSERT INTO parts VALUES (0)");
    // Another database's write-ahead log, copied while it holds commits.
    const std::string foreignWal = file("foreign-wal");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file("wal.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; "
                               "CREATE TABLE parts (id INTEGER); INSERT INTO parts VALUES (1)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        std::filesystem::copy_file(file("wal.db-wal"), foreignWal);
        sqlite3_close(db);
    }
    const std::string otherMidCommit = file("other-mid.db");
    copyMidCommit(other, otherMidCommit, kGrowParts);
    const std::string own = file("own.ledger");
    {
        SerialLedger ledger = SerialLedger::open(own, le32(1, 100));
        ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
    }
    const std::string ownMidCommit = file("own-mid.ledger");
    copyMidCommit(own, ownMidCommit, kGrowLedger);
    // The same with the largest pages, whose size the header writes as 1.
    const std::string largePages = file("large.ledger");
    std::filesystem::copy_file(own, largePages);
    rawExec(largePages, "PRAGMA page_size = 65536; VACUUM");
    const std::string largeMidCommit = file("large-mid.ledger");
    copyMidCommit(largePages, largeMidCommit, kGrowLedger);

    const struct {
        const char* name;
        std::function<void(const std::string& path)> put;
        bool taken;
    } cases[] = {
        {"another database's write-ahead log",
         [&](const std::string& p) { std::filesystem::copy_file(foreignWal, p + "-wal"); }, false},
        {"an empty write-ahead log",
         [&](const std::string& p) { std::ofstream(p + "-wal", std::ios::binary); }, false},
        {"another database's journal of a commit that stopped",
         [&](const std::string& p) {
             std::filesystem::copy_file(otherMidCommit + "-journal", p + "-journal");
         },
         false},
        {"a pipe as the journal",
         [&](const std::string& p) { ASSERT_EQ(mkfifo((p + "-journal").c_str(), 0600), 0); },
         false},
        {"a pipe as the write-ahead log",
         [&](const std::string& p) { ASSERT_EQ(mkfifo((p + "-wal").c_str(), 0600), 0); }, false},
        {"a journal of other bytes",
         [&](const std::string& p) {
             std::ofstream(p + "-journal", std::ios::binary) << std::string(4096, 'j');
         },
         false},
        {"a journal without a page of the ledger",
         [&](const std::string& p) {
             std::ofstream(p + "-journal", std::ios::binary)
                 << contents(ownMidCommit + "-journal").substr(0, 512);
         },
         false},
        {"its own journal of a commit that stopped",
         [&](const std::string& p) {
             std::filesystem::copy_file(ownMidCommit, p,
                                        std::filesystem::copy_options::overwrite_existing);
             std::filesystem::copy_file(ownMidCommit + "-journal", p + "-journal");
         },
         true},
        {"its own journal, page 1 written into the file already",
         [&](const std::string& p) {
             std::string bytes = contents(ownMidCommit);
             ++bytes[27]; // the change counter's last byte: one past the journal's
             std::ofstream(p, std::ios::binary) << bytes;
             std::filesystem::copy_file(ownMidCommit + "-journal", p + "-journal");
         },
         true},
        {"a journal of the ledger two commits back",
         [&](const std::string& p) {
             std::string bytes = contents(ownMidCommit);
             bytes[27] = static_cast<char>(bytes[27] + 2);
             std::ofstream(p, std::ios::binary) << bytes;
             std::filesystem::copy_file(ownMidCommit + "-journal", p + "-journal");
         },
         false},
        {"its own journal of a commit that stopped, with pages of 64 KiB",
         [&](const std::string& p) {
             std::filesystem::copy_file(largeMidCommit, p,
                                        std::filesystem::copy_options::overwrite_existing);
             std::filesystem::copy_file(largeMidCommit + "-journal", p + "-journal");
         },
         true},
    };
    for (const auto& c : cases) {
        const std::string path = file("station.ledger");
        for (const char* side : {"", "-journal", "-wal"}) {
            std::filesystem::remove(path + side);
        }
        std::filesystem::copy_file(own, path);
        c.put(path);
        const std::string before = contents(path);
        if (c.taken) {
            SerialLedger ledger = SerialLedger::open(path, le32(1, 100));
            EXPECT_EQ(state(ledger.summary(), RecordState::Programmed).count, 8u) << c.name;
            EXPECT_FALSE(std::filesystem::exists(path + "-journal")) << c.name;
            continue;
        }
        for (const bool listing : {true, false}) {
            try {
                listing ? (void)SerialLedger::inspect(path)
                        : (void)SerialLedger::open(path, le32(1, 100));
                ADD_FAILURE() << "took " << c.name;
            } catch (const LedgerError& e) {
                EXPECT_EQ(e.fault(), LedgerFault::NotALedger) << c.name;
                EXPECT_NE(std::string(e.what()).find("beside it that is not its own"),
                          std::string::npos)
                    << e.what();
            }
        }
        EXPECT_EQ(contents(path), before) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path + "-shm")) << c.name;
    }
}

// A log line in the current header's columns: target, connected, passed, the record.
std::string logLine(int target, bool connected, bool passed, const std::string& serial) {
    return "2026-12-08T06:42:36Z,ST1,1.56,1.00,ZEL816 A110,1234ABCD," + std::to_string(target) +
           "," + (connected ? "1" : "0") + ",1,1,0," + (passed ? "1" : "0") + ",0,OCTO-7,3," +
           serial + ",ecpv,1\n";
}

std::string logOf(const std::vector<std::string>& lines) {
    std::string text = trace::headerLine() + "\n";
    for (const std::string& line : lines) {
        text += line;
    }
    return text;
}

// A ledger that knows records 1..8 (1 to 6 programmed, 7 void, 8 released): what its open
// makes of a log that names a record.
TEST_F(SerialLedgerTest, AnOpenWithTheLogRefusesALedgerThatDoesNotKnowWhatReachedAChip) {
    const std::string log = file("trace.csv");
    const struct {
        const char* name;
        std::string log;
        const char* refusal; // none: taken
    } cases[] = {
        {"a programmed record", logOf({logLine(1, true, true, "01000000")}), nullptr},
        {"a void record", logOf({logLine(7, true, false, "07000000")}), nullptr},
        {"a record the ledger never gave out",
         logOf({logLine(1, true, true, "01000000"), logLine(2, true, true, "09000000")}),
         "line 3 gives record 09000000 to the chip of target 2, and the ledger does not know it"},
        {"a released record on a failed chip", logOf({logLine(8, true, false, "08000000")}),
         "line 2 gives record 08000000 to the chip of target 8, and the ledger has it as released"},
        {"a released record the unit did not reach (secured only)",
         logOf({logLine(8, false, false, "08000000")}), nullptr},
        {"a record of another length", logOf({logLine(1, true, true, "0900")}), nullptr},
        {"no record", logOf({logLine(1, true, true, "")}), nullptr},
        {"a log of the first version",
         trace::firstHeaderLine() + "\n2026-12-08T06:42:36Z,ST1,1.56,1.00,A110,,1,1,1,1,0,1,0\n",
         nullptr},
        {"line ends of Windows, a quoted unit",
         logOf({"2026-12-08T06:42:36Z,ST1,1.56,1.00,A110,,3,1,1,1,0,1,0,\"OCTO,7\",3,"
                "0A000000,ecpv,1\r\n"}),
         "line 2 gives record 0a000000"},
        {"a last line still being written",
         logOf({logLine(2, true, true, "09000000").substr(0, 80)}), nullptr},
        {"no log yet", "", nullptr},
    };
    for (const auto& c : cases) {
        const std::string path = file("station.ledger");
        std::filesystem::remove(path);
        {
            SerialLedger ledger = SerialLedger::open(path, le32(1, 100));
            ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPFN"));
        }
        std::filesystem::remove(log);
        if (!c.log.empty()) {
            std::ofstream(log, std::ios::binary) << c.log;
        }
        const std::string before = contents(path);
        const std::array<std::string, 1> logs = {log};
        try {
            SerialLedger ledger = SerialLedger::open(path, le32(1, 100), logs);
            EXPECT_EQ(c.refusal, nullptr) << c.name << ": taken";
            EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)).front(), 8u) << c.name;
        } catch (const LedgerError& e) {
            ASSERT_NE(c.refusal, nullptr) << c.name << ": " << e.what();
            EXPECT_EQ(e.fault(), LedgerFault::BehindLog);
            EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("octo816 serials --ledger " + path +
                                                 " --reconcile " + log),
                      std::string::npos)
                << e.what();
            EXPECT_EQ(contents(path), before) << c.name << ": changed";
        }
    }
    // A new ledger refused is not left behind, nor a journal beside it.
    std::filesystem::remove(file("new.ledger"));
    std::ofstream(log, std::ios::binary) << logOf({logLine(1, true, true, "01000000")});
    const std::array<std::string, 1> logs = {log};
    EXPECT_THROW(SerialLedger::open(file("new.ledger"), le32(1, 100), logs), LedgerError);
    EXPECT_FALSE(std::filesystem::exists(file("new.ledger")));
    EXPECT_FALSE(std::filesystem::exists(file("new.ledger-journal")));
}

// A copy of the ledger taken between two runs, restored after more runs that the log holds:
// refused until reconciled, and then none of the later records is given out again.
TEST_F(SerialLedgerTest, AnOlderCopyIsRefusedUntilReconciledAndThenGivesNothingTwice) {
    const std::string log = file("trace.csv");
    const std::array<std::string, 1> logs = {log};
    std::string copy;
    std::vector<std::string> lines;
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(1, 100), logs);
        for (int run = 0; run < 3; ++run) {
            if (run == 1) {
                copy = contents(path_);
            }
            const Reservation r = ledger.reserve(kRun, kAllSockets);
            const Outcomes o = outcomes(run == 2 ? "PPPPPPFN" : "PPPPPPPP");
            ledger.settle(r, o);
            for (const SocketRecord& record : r.records) {
                const Outcome outcome = o[static_cast<size_t>(record.socket - 1)];
                if (outcome != Outcome::NotConnected) {
                    lines.push_back(
                        logLine(record.socket, true, outcome == Outcome::Passed, record.value));
                }
            }
            std::ofstream(log, std::ios::binary) << logOf(lines);
        }
    }
    std::ofstream(path_, std::ios::binary) << copy;
    try {
        SerialLedger::open(path_, le32(1, 100), logs);
        ADD_FAILURE() << "an older copy gave records out";
    } catch (const LedgerError& e) {
        EXPECT_EQ(e.fault(), LedgerFault::BehindLog) << e.what();
        EXPECT_NE(std::string(e.what()).find("record 09000000"), std::string::npos) << e.what();
    }
    const std::vector<ReconcileCount> counts = SerialLedger::reconcile(path_, logs);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].programmed, 14u);
    EXPECT_EQ(counts[0].voided, 1u);
    EXPECT_EQ(counts[0].known, 8u);

    SerialLedger ledger = SerialLedger::open(path_, le32(1, 100), logs);
    EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)),
              (std::vector<uint64_t>{24, 25, 26, 27, 28, 29, 30, 31}))
        << "24 was released by a run the copy did not know: it reached no chip";
    const LedgerSummary summary = ledger.summary();
    EXPECT_EQ(state(summary, RecordState::Programmed).ranges, (std::vector<NumberRun>{{1, 22}}));
    EXPECT_EQ(summary.voids.back().reason, "reconciled from trace.csv");
    EXPECT_EQ(summary.voids.back().number, 23u) << "the failed chip of socket 7";
}

// The ledger goes on from where its last check of a log ended: what the log gets later is
// checked, and a log that is no longer the one it checked is read again from its start.
TEST_F(SerialLedgerTest, EachOpenChecksWhatTheLogGotSinceTheLastAndAnotherLogWhole) {
    const std::string log = file("trace.csv");
    const std::array<std::string, 1> logs = {log};
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
        ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
    }
    std::ofstream(log, std::ios::binary) << logOf({logLine(1, true, true, "01000000")});
    SerialLedger::open(path_, le32(1, 100), logs);
    std::ofstream(log, std::ios::app | std::ios::binary) << logLine(2, true, true, "0b000000");
    try {
        SerialLedger::open(path_, le32(1, 100), logs);
        ADD_FAILURE() << "took a record a later line names";
    } catch (const LedgerError& e) {
        EXPECT_NE(std::string(e.what()).find("line 3 gives record 0b000000"), std::string::npos)
            << e.what();
    }

    // Another log of the same length, whose new line comes before where the check ended.
    std::ofstream(log, std::ios::binary)
        << logOf({logLine(3, true, true, "0c000000"), logLine(1, true, true, "01000000")});
    try {
        SerialLedger::open(path_, le32(1, 100), logs);
        ADD_FAILURE() << "took a record only the start of another log names";
    } catch (const LedgerError& e) {
        EXPECT_NE(std::string(e.what()).find("line 2 gives record 0c000000"), std::string::npos)
            << e.what();
    }
}

// Released records outside the scheme the ledger is opened with are set apart for good, and
// a listing shows them apart from those waiting to be given out again.
TEST_F(SerialLedgerTest, ReleasedRecordsOutsideTheSchemeAreNeverGivenOutAgain) {
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
        ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPNPPPNP"));
    }
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(5, 100));
        const LedgerSummary summary = ledger.summary();
        EXPECT_EQ(state(summary, RecordState::Released).ranges, (std::vector<NumberRun>{{7, 7}}));
        EXPECT_EQ(summary.releasedOutside.ranges, (std::vector<NumberRun>{{3, 3}}));
        EXPECT_EQ(summary.releasedOutside.count, 1u);
    }
    SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
    EXPECT_EQ(numbers(ledger.reserve(kRun, kAllSockets)),
              (std::vector<uint64_t>{7, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(SerialLedger::inspect(path_).releasedOutside.count, 1u);
}

// A record named by its number or by its bytes, and the programmed records in order.
TEST_F(SerialLedgerTest, FindTakesTheNumberOrTheBytesAndTheExportHoldsTheProgrammedOnes) {
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(255, 1000));
        ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PFPPPPPP"));
    }
    const struct {
        std::string value;
        std::vector<std::string> found;
    } cases[] = {
        {"256", {"00010000"}},
        {"0x100", {"00010000"}},
        {"00:01:00:00", {"00010000"}},
        {"FF000000", {"ff000000"}},
        // Eight decimal digits read as bytes too: 10000000 is 0x10 and the number 10000000.
        {"10000000", {}},
        {"1001", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> found;
        for (const RecordEntry& r : SerialLedger::find(path_, c.value)) {
            found.push_back(r.value);
        }
        EXPECT_EQ(found, c.found) << c.value;
    }
    const std::vector<RecordEntry> passed = SerialLedger::find(path_, "255");
    ASSERT_EQ(passed.size(), 1u);
    EXPECT_EQ(passed[0].state, RecordState::Programmed);
    EXPECT_EQ(passed[0].number, 255u);
    EXPECT_EQ(passed[0].reason, "");
    EXPECT_EQ(passed[0].imageCrc32, kRun.imageCrc32);
    EXPECT_EQ(passed[0].time.size(), std::string("2026-12-08T06:42:36Z").size()) << passed[0].time;
    const std::vector<RecordEntry> failed = SerialLedger::find(path_, "256");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].state, RecordState::Void);
    EXPECT_EQ(failed[0].socket, 2);
    EXPECT_EQ(failed[0].unit, kRun.unit);
    EXPECT_EQ(failed[0].imageCrc32, kRun.imageCrc32);
    EXPECT_EQ(failed[0].reason, "failed");
    for (const char* bad : {"0100 0000", "x", "4294967296", "00:01:00", ""}) {
        EXPECT_THROW(SerialLedger::find(path_, bad), std::invalid_argument) << bad;
    }
    // Big-endian digits that read the same both ways name one record, found once.
    const std::string be32 = file("be32.ledger");
    SerialLedger::open(be32, SerialScheme::numbers({1, 9, 1, NumberFormat::Be32, 0}))
        .reserve(kRun, kAllSockets);
    EXPECT_EQ(SerialLedger::find(be32, "00000001").size(), 1u);
    std::vector<uint64_t> programmed;
    for (const RecordEntry& r : SerialLedger::programmed(path_)) {
        programmed.push_back(r.number.value());
    }
    EXPECT_EQ(programmed, (std::vector<uint64_t>{255, 257, 258, 259, 260, 261, 262}));
}

// A copy made while a station holds the ledger is the ledger as of its last commit, and the
// readers leave no file beside it.
TEST_F(SerialLedgerTest, ABackupWhileAStationHoldsTheLedgerIsTheLedgerAsCommitted) {
    SerialLedger holder = SerialLedger::open(path_, le32(1, 100));
    holder.settle(holder.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
    holder.reserve(kRun, kAllSockets);
    const std::vector<std::string> entries = folder_.entries();
    const std::string copyPath = file("copy.ledger");
    const std::string bytes = SerialLedger::backup(path_);
    (void)SerialLedger::inspect(path_);
    (void)SerialLedger::find(path_, "1");
    EXPECT_EQ(folder_.entries(), entries) << "a reader made a file";
    std::ofstream(copyPath, std::ios::binary) << bytes;
    const LedgerSummary copied = SerialLedger::inspect(copyPath);
    EXPECT_EQ(state(copied, RecordState::Programmed).ranges, (std::vector<NumberRun>{{1, 8}}));
    EXPECT_EQ(state(copied, RecordState::Reserved).ranges, (std::vector<NumberRun>{{9, 16}}));
    EXPECT_FALSE(copied.inUse);
    SerialLedger restored = SerialLedger::open(copyPath, le32(1, 100));
    EXPECT_EQ(restored.interruptedAtOpen(), 8u);
}

// Ledger names are file names: one SQLite would take as a URI or a database in memory names
// a file in the current folder, held like any other.
TEST_F(SerialLedgerTest, ANameSqliteCouldTakeAsAUriIsAFileName) {
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    for (const char* name : {"file:u6.ledger?vfs=unix-none", ":memory:", "file:"}) {
        {
            SerialLedger holder = SerialLedger::open(name, le32(1, 100));
            holder.reserve(kRun, kAllSockets);
            EXPECT_THROW(SerialLedger::open(name, le32(1, 100)), LedgerError) << name;
        }
        EXPECT_EQ(state(SerialLedger::inspect(name), RecordState::Reserved).count, 8u) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(folder_.path() / name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "u6.ledger"));
    std::filesystem::current_path(was);
}

// A ledger an earlier version wrote (a write-ahead log holding runs beside it) is taken in
// whole by the next writer, and read by the listing after that.
TEST_F(SerialLedgerTest, ALedgerOfTheEarlierVersionIsTakenInWithItsLog) {
    const std::string older = file("older.ledger");
    {
        SerialLedger ledger = SerialLedger::open(older, le32(1, 100));
        ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
    }
    // The earlier form: a write-ahead log held exclusively; a run committed into the log.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(older.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA locking_mode = EXCLUSIVE; PRAGMA journal_mode = WAL; "
                           "DROP TABLE log_checks; PRAGMA user_version = 1; "
                           "UPDATE serials SET state = 'void', reason = 'failed' "
                           "WHERE value = '01000000'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string killed = contents(older);
    const std::string log = contents(older + "-wal");
    sqlite3_close(db); // its log taken in and removed, as the earlier version left a ledger
    const std::string closed = contents(older);

    const struct {
        const char* name;
        const std::string& main;
        std::optional<std::string> wal;
        bool taken;
    } cases[] = {
        {"killed, its log beside it", killed, log, true},
        {"closed, no log", closed, std::nullopt, true},
        {"closed, an empty log", closed, std::string(), true},
        {"a log of other bytes", killed, std::string(4096, 'w'), false},
    };
    for (const auto& c : cases) {
        const std::string path = file("station.ledger");
        for (const char* side : {"", "-wal", "-shm"}) {
            std::filesystem::remove(path + side);
        }
        std::ofstream(path, std::ios::binary) << c.main;
        if (c.wal) {
            std::ofstream(path + "-wal", std::ios::binary) << *c.wal;
        }
        EXPECT_THROW(SerialLedger::inspect(path), LedgerError) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path + "-shm")) << c.name << ": a reader made it";
        EXPECT_EQ(std::filesystem::exists(path + "-wal"), c.wal.has_value()) << c.name;
        try {
            SerialLedger ledger = SerialLedger::open(path, le32(1, 100));
            EXPECT_TRUE(c.taken) << c.name;
            EXPECT_EQ(ledger.summary().voids.size(), 1u) << c.name << ": the run in the log";
        } catch (const LedgerError& e) {
            EXPECT_FALSE(c.taken) << c.name << ": " << e.what();
            EXPECT_EQ(contents(path), c.main) << c.name;
            continue;
        }
        EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << c.name;
        EXPECT_EQ(SerialLedger::inspect(path).voids.size(), 1u) << c.name;
    }
}

// Damage in a part of the file that an open does not otherwise read is found by the check of
// the whole file, which runs when another program wrote the file since this process did.
TEST_F(SerialLedgerTest, DamageWhereTheOpenDoesNotReadIsFoundAndNothingWritten) {
    {
        SerialLedger ledger = SerialLedger::open(path_, le32(1, 1000));
        for (int run = 0; run < 40; ++run) {
            ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP"));
        }
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* root = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM "
                       "sqlite_master WHERE name = 'runs'",
                       -1, &root, nullptr);
    ASSERT_EQ(sqlite3_step(root), SQLITE_ROW);
    const int64_t at = (sqlite3_column_int64(root, 0) - 1) * sqlite3_column_int64(root, 1);
    sqlite3_finalize(root);
    sqlite3_close(db);
    std::string bytes = contents(path_);
    bytes[static_cast<size_t>(at)] = '\x01'; // no kind of b-tree page
    std::ofstream(path_, std::ios::binary) << bytes;

    for (const bool listing : {false, true}) {
        try {
            listing ? (void)SerialLedger::inspect(path_)
                    : (void)SerialLedger::open(path_, le32(1, 1000));
            ADD_FAILURE() << "took a damaged ledger";
        } catch (const LedgerError& e) {
            EXPECT_EQ(e.fault(), LedgerFault::NotALedger);
            EXPECT_NE(std::string(e.what()).find("is damaged"), std::string::npos) << e.what();
        }
        EXPECT_EQ(contents(path_), bytes);
    }
}

// Reconcile takes a log's records of the ledger's length, whatever kind of scheme it keeps,
// and refuses a ledger whose kind it does not know.
TEST_F(SerialLedgerTest, ReconcileTakesTheRecordsOfTheLedgersLength) {
    const std::string log = file("trace.csv");
    std::ofstream(log, std::ios::binary)
        << logOf({logLine(1, true, true, "0102"), logLine(2, true, true, "010203"),
                  logLine(3, true, false, "0102030405"), logLine(5, true, true, "0102030405"),
                  logLine(4, true, true, "0102030405060708")});
    const std::array<std::string, 1> logs = {log};
    const struct {
        const char* name;
        SerialScheme scheme;
        const char* crafted; // the kind a crafted ledger says it keeps; null: as made
        int length;          // of the records taken; 0: refused
    } cases[] = {
        {"le16", SerialScheme::numbers({1, 9, 1, NumberFormat::Le16, 0}), nullptr, 2},
        {"be64", SerialScheme::numbers({1, 9, 1, NumberFormat::Be64, 0}), nullptr, 8},
        {"ascii width 5", SerialScheme::numbers({1, 9, 1, NumberFormat::Ascii, 5}), nullptr, 5},
        {"a list", SerialScheme::list("aabbcc\n", "list.txt"), nullptr, 3},
        {"a list of 0-byte records", SerialScheme::list("aabbcc\n", "list.txt"),
         "list of 0-byte records", 0},
        {"a list of 33-byte records", SerialScheme::list("aabbcc\n", "list.txt"),
         "list of 33-byte records", 0},
        {"another kind", SerialScheme::list("aabbcc\n", "list.txt"), "list of 3-byte things", 0},
    };
    for (const auto& c : cases) {
        const std::string path = file("kind.ledger");
        std::filesystem::remove(path);
        // A run killed after its reservation: the reconcile's open makes its record void.
        SerialLedger::open(path, c.scheme).reserve(kRun, std::array<int, 1>{8});
        if (c.crafted != nullptr) {
            rawExec(path, std::string("UPDATE scheme SET kind = '") + c.crafted + "'");
        }
        try {
            const std::vector<ReconcileCount> counts = SerialLedger::reconcile(path, logs);
            ASSERT_EQ(counts.size(), 1u);
            EXPECT_NE(c.length, 0) << c.name << ": reconciled";
            EXPECT_EQ(counts[0].programmed, 1u) << c.name;
            EXPECT_EQ(counts[0].voided, 0u) << c.name << ": a later chip with it passed";
            EXPECT_EQ(counts[0].otherKind, c.length == 5 ? 3u : 4u) << c.name;
            const std::vector<RecordEntry> found =
                SerialLedger::find(path, std::string("0102030405060708").substr(0, 2 * c.length));
            ASSERT_EQ(found.size(), 1u) << c.name;
            EXPECT_EQ(found[0].reason, "reconciled from trace.csv") << c.name;
            EXPECT_EQ(found[0].imageCrc32, 0x1234ABCDu) << c.name;
            EXPECT_EQ(found[0].unit, "OCTO-7") << c.name;
            EXPECT_EQ(found[0].time, "2026-12-08T06:42:36Z") << c.name;
            EXPECT_EQ(found[0].state, RecordState::Programmed) << c.name;
            EXPECT_EQ(state(SerialLedger::inspect(path), RecordState::Reserved).count, 0u)
                << c.name;
            EXPECT_EQ(found[0].socket, c.length == 5 ? 5 : (c.length == 8 ? 4 : c.length - 1))
                << c.name;
        } catch (const LedgerError& e) {
            EXPECT_EQ(c.length, 0) << c.name << ": " << e.what();
        }
    }
}

// A reader in the middle of its read (a listing, a copy) makes a station's commit wait for
// it, not fail.
TEST_F(SerialLedgerTest, AStationsCommitWaitsForAReaderInTheMiddleOfItsRead) {
    SerialLedger ledger = SerialLedger::open(path_, le32(1, 100));
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM serials", nullptr, nullptr, nullptr),
        SQLITE_OK);
    std::thread done([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    });
    EXPECT_NO_THROW(ledger.settle(ledger.reserve(kRun, kAllSockets), outcomes("PPPPPPPP")));
    done.join();
    sqlite3_close(reader);
    EXPECT_EQ(state(ledger.summary(), RecordState::Programmed).count, 8u);
}

TEST(SqliteStatements, AStepThatRunsPastItsBoundIsStopped) {
    sqlite::Database db{sqlite::Database::InMemory{}};
    db.setStatementLimit(std::chrono::milliseconds(50));
    const auto started = std::chrono::steady_clock::now();
    try {
        db.exec("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c) "
                "SELECT max(i) FROM c");
        ADD_FAILURE() << "an endless query ended";
    } catch (const sqlite::SqliteError& e) {
        EXPECT_EQ(e.code(), SQLITE_INTERRUPT);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(db.integerOf("SELECT 1 + 1"), 2) << "the next statement has its own time";
}

TEST(SerialOutcomes, TheResultBlockSaysWhatBecameOfEachSocket) {
    // Connected 0b1011, Over All 0b0001: 1 passed, 2 and 4 failed, the others empty.
    const std::array<uint8_t, 8> block = {0x0B, 0x0B, 0x0B, 0x00, 0x01, 0, 0, 0};
    EXPECT_EQ(outcomesOf(block), outcomes("PFNFNNNN"));
    EXPECT_EQ(outcomesOf(std::span(block).first(4)), outcomes("FFFFFFFF")) << "too short to tell";
}

} // namespace
} // namespace octo::serials

// How the ledger's way of committing to the disk costs a run: one reserve (a run and 8 records)
// and one settle (8 records and the run), each its own transaction, as the ledger writes them,
// on a database in the current folder (the disk the station would use), in each journal mode
// that keeps every committed record in the main file after each commit:
//   - rollback journal, deleted (synchronous FULL, and EXTRA, which also syncs the folder after
//     the deletion, so that a power loss cannot bring the journal back),
//   - rollback journal, truncated or kept (FULL),
//   - write-ahead log with a checkpoint (TRUNCATE) after each commit (FULL),
// and, for comparison, the write-ahead log held exclusively without checkpoints, where the
// main file alone lacks what the log holds. Prints one line a mode:
//   BENCH ledger_mode_<mode>_ms <median of the cycles> ms
//   usage: octo_ledger_mode_bench [cycles]
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultCycles = 100;
constexpr int kSockets = 8;

struct Mode {
    const char* name;
    const char* setup;     // run once after opening
    const char* afterEach; // run after each commit; null for none
};

constexpr Mode kModes[] = {
    {"delete_full", "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL", nullptr},
    {"delete_extra", "PRAGMA journal_mode = DELETE; PRAGMA synchronous = EXTRA", nullptr},
    {"truncate_full", "PRAGMA journal_mode = TRUNCATE; PRAGMA synchronous = FULL", nullptr},
    {"persist_full", "PRAGMA journal_mode = PERSIST; PRAGMA synchronous = FULL", nullptr},
    {"wal_checkpoint_full", "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL",
     "PRAGMA wal_checkpoint(TRUNCATE)"},
    {"wal_exclusive_no_checkpoint",
     "PRAGMA locking_mode = EXCLUSIVE; PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL",
     nullptr},
};

bool exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "bench: %s: %s\n", sql.c_str(), error != nullptr ? error : "");
        sqlite3_free(error);
        return false;
    }
    return true;
}

bool commit(sqlite3* db, const Mode& mode) {
    return exec(db, "COMMIT") && (mode.afterEach == nullptr || exec(db, mode.afterEach));
}

// One run's two transactions, on records first .. first + 7.
bool cycle(sqlite3* db, const Mode& mode, int run) {
    std::string reserve = "BEGIN IMMEDIATE; INSERT INTO runs (time, unit, image_crc) VALUES "
                          "('2026-12-08T06:42:36Z', 'COM1', 305441741);";
    std::string settle = "BEGIN IMMEDIATE;";
    for (int s = 1; s <= kSockets; ++s) {
        const std::string value = std::to_string(run * kSockets + s);
        reserve += "INSERT INTO serials VALUES ('" + value + "', 'reserved', " +
                   std::to_string(run) + ", " + std::to_string(s) +
                   ", 'COM1', '2026-12-08T06:42:36Z', 305441741, NULL);";
        settle += "UPDATE serials SET state = 'programmed', time = '2026-12-08T06:42:40Z' "
                  "WHERE value = '" +
                  value + "' AND state = 'reserved';";
    }
    reserve += "UPDATE scheme SET next_index = next_index + 8;";
    settle +=
        "UPDATE runs SET settled = '2026-12-08T06:42:40Z' WHERE id = " + std::to_string(run) + ";";
    return exec(db, reserve) && commit(db, mode) && exec(db, settle) && commit(db, mode);
}

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::stoi(argv[1]) : kDefaultCycles;
    const fs::path folder = fs::current_path() / "ledger_mode_bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    constexpr size_t kModeCount = std::size(kModes);
    std::array<sqlite3*, kModeCount> dbs{};
    bool ready = true;
    for (size_t m = 0; m < kModeCount && ready; ++m) {
        const std::string path = (folder / (std::string(kModes[m].name) + ".ledger")).string();
        ready =
            sqlite3_open_v2(path.c_str(), &dbs[m], SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) == SQLITE_OK &&
            exec(dbs[m], kModes[m].setup) &&
            exec(dbs[m], "CREATE TABLE scheme (id INTEGER PRIMARY KEY, next_index INTEGER);"
                         "INSERT INTO scheme VALUES (1, 0);"
                         "CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT, "
                         "unit TEXT, image_crc INTEGER, settled TEXT);"
                         "CREATE TABLE serials (value TEXT PRIMARY KEY, state TEXT, run INTEGER, "
                         "socket INTEGER, unit TEXT, time TEXT, image_crc INTEGER, reason TEXT);"
                         "CREATE INDEX serials_by_state ON serials (state);");
    }
    // The modes take turns, cycle by cycle, so that the disk's other load falls on each alike.
    std::array<std::vector<double>, kModeCount> ms;
    for (int run = 1; run <= cycles && ready; ++run) {
        for (size_t m = 0; m < kModeCount && ready; ++m) {
            const Clock::time_point start = Clock::now();
            ready = cycle(dbs[m], kModes[m], run);
            ms[m].push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    for (sqlite3* db : dbs) {
        sqlite3_close(db);
    }
    fs::remove_all(folder);
    if (!ready) {
        return 1;
    }
    for (size_t m = 0; m < kModeCount; ++m) {
        std::sort(ms[m].begin(), ms[m].end());
        std::printf("BENCH ledger_mode_%s_ms %.2f ms\n", kModes[m].name, ms[m][ms[m].size() / 2]);
    }
    return 0;
}

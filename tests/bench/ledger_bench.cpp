// What the serial ledger costs a run: open, reserve for 8 sockets (committed to the disk),
// settle by a result and close, on a ledger in the build folder (on the disk the station
// would use, not a RAM-backed temporary folder), which grows by 8 records a cycle; and what
// the open alone costs a ledger of 100000 records: checked whole (the first open in a process,
// or one after another program wrote the file) and not (the file as this process left it).
// Prints
//   BENCH serial_ledger_cycle_ms <median of the cycles> ms
//   BENCH serial_ledger_open_100k_checked_ms <median of the opens> ms
//   BENCH serial_ledger_open_100k_ms <median of the opens> ms
//   usage: octo_ledger_bench [--quick]
#include "serials/serial_ledger.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace octo::serials;

constexpr int kCycles = 200;
constexpr int kQuickCycles = 20;
constexpr int kLargeRecords = 100000;
constexpr int kOpens = 9;
constexpr std::array<int, kSockets> kAll = {1, 2, 3, 4, 5, 6, 7, 8};
constexpr Outcomes kSevenPassed = {Outcome::Passed, Outcome::Passed,       Outcome::Passed,
                                   Outcome::Passed, Outcome::NotConnected, Outcome::Passed,
                                   Outcome::Passed, Outcome::Passed};

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 && std::strcmp(argv[1], "--quick") == 0 ? kQuickCycles : kCycles;
    const fs::path folder = fs::current_path() / "ledger_bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / "station.ledger").string();
    const SerialScheme scheme = SerialScheme::numbers({1, 1000000, 1, NumberFormat::Le32, 0});
    std::vector<double> ms;
    for (int i = 0; i < cycles; ++i) {
        const Clock::time_point start = Clock::now();
        SerialLedger ledger = SerialLedger::open(path, scheme);
        ledger.settle(ledger.reserve({"bench", 0x1234u}, kAll), kSevenPassed);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("BENCH serial_ledger_cycle_ms %.2f ms\n", ms[ms.size() / 2]);

    // The large ledger's rows are written in one transaction, as no station would.
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db,
                     ("WITH RECURSIVE n(i) AS (SELECT 2000000 UNION ALL SELECT i + 1 FROM n "
                      "WHERE i < 2000000 + " +
                      std::to_string(kLargeRecords) +
                      ") INSERT INTO serials SELECT lower(hex(i)), 'programmed', 1, 1 + i % 8, "
                      "'bench', '2026-12-08T06:42:36Z', 4660, NULL FROM n")
                         .c_str(),
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    sqlite3_close(db);
    std::vector<double> checked;
    std::vector<double> opens;
    for (int i = 0; i < kOpens; ++i) {
        // A file time of its own tells the open another program wrote it.
        fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
        for (std::vector<double>* into : {&checked, &opens}) {
            const Clock::time_point start = Clock::now();
            { SerialLedger ledger = SerialLedger::open(path, scheme); }
            into->push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    for (std::vector<double>* sorted : {&checked, &opens}) {
        std::sort(sorted->begin(), sorted->end());
    }
    std::printf("BENCH serial_ledger_open_100k_checked_ms %.2f ms\n", checked[checked.size() / 2]);
    std::printf("BENCH serial_ledger_open_100k_ms %.2f ms\n", opens[opens.size() / 2]);
    fs::remove_all(folder);
    return 0;
}

// What the serial ledger costs a run: open, reserve for 8 sockets (committed to the disk),
// settle by a result and close, on a ledger in the build folder (on the disk the station
// would use, not a RAM-backed temporary folder), which grows by 8 records a cycle.
// Prints
//   BENCH serial_ledger_cycle_ms <median of the cycles> ms
//   usage: octo_ledger_bench [--quick]
#include "serials/serial_ledger.h"

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
    fs::remove_all(folder);
    return 0;
}

// The socket alarm on generated logs, written by the log's own writer and read through the
// report's own reader as they are made, 100 seeds per scenario: reports that alarm on a
// healthy unit (trays not full, sockets not in use, power cycles, sockets that differ a
// little, a bad batch of chips, in new logs and, for the empty sockets, in older ones), and
// reports that name a worn socket alone, with the median error of their "since". Each
// scenario's line, then the worst scenario's. Goals in scripts/bench.
#include "support/YieldLogs.h"
#include "yield/YieldReport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using octo::testing::LineModel;
using octo::testing::Tray;
using octo::testing::Wear;

constexpr int kSeeds = 100;
constexpr double kPercent = 100;
constexpr int kRuns = 5000;       // a healthy log's runs
constexpr int kLongRuns = 125000; // a long log's: a million lines
constexpr int kWornSocket = 3;
constexpr int kWornFrom = 2000;
constexpr int kWithin = 300; // a worn socket's runs before the log ends
constexpr uint8_t kAll = 0xFF;
constexpr uint8_t kSocket8 = 0x80;
constexpr int kPowerCycle = 1500; // runs between power cycles
constexpr int kBadBatch = 500;    // runs of a bad batch, and of a socket unused for a batch
constexpr int kBatchRuns = 13;    // batches of 100 chips: 12 runs of 8, one of 4
constexpr uint8_t kLastFourEmpty = 0xF0;
constexpr int kTraysOfSeven = 4;
constexpr double kUsualDifference = 1.3; // socket 1 at 1.3 times the others
constexpr int kLateClimb = 1000;         // 1 % to 3 % over the last 1000 runs
constexpr double kLateRate = 0.03;
constexpr int kOtherWornSocket = 6;
constexpr int kOtherWornFrom = 2700;
const std::string kUnit = "U-0001";

struct Scenario {
    std::string name;
    LineModel model;
    int wornSocket = 0; // the socket a report must name alone; 0 for a healthy unit
    int wornFrom = 0;   // the run (index in time order) where its climb began
    std::string maintenance;
    uint32_t firstSeed = 0; // its seeds follow the scenario's before, so no log is drawn twice
};

std::string timeOf(const LineModel& m, int run) {
    return octo::yield::timeText(m.start + int64_t{run} * m.secondsPerRun);
}

std::vector<Scenario> scenarios() {
    const LineModel healthy{.runs = kRuns, .unit = kUnit};
    std::vector<Scenario> all;
    const auto add = [&](std::string name, LineModel m, int worn = 0, int from = 0) {
        all.push_back({.name = std::move(name),
                       .model = std::move(m),
                       .wornSocket = worn,
                       .wornFrom = from,
                       .maintenance = {}});
    };
    const auto older = [](LineModel m) {
        m.oldHeader = true;
        return m;
    };
    LineModel full = healthy;
    add("full_trays", full);
    LineModel batches = healthy;
    batches.tray = [](int r) {
        return Tray{.inUse = kAll,
                    .empty = r % kBatchRuns == kBatchRuns - 1 ? kLastFourEmpty : uint8_t{0}};
    };
    add("batches_of_100", batches);
    add("batches_of_100_old", older(batches));
    LineModel unused = healthy;
    unused.tray = [](int r) {
        const bool off = r >= kWornFrom && r < kWornFrom + kBadBatch;
        return Tray{.inUse = static_cast<uint8_t>(off ? kAll & ~kSocket8 : kAll), .empty = 0};
    };
    add("socket_unused_batch", unused);
    add("socket_unused_batch_old", older(unused));
    LineModel seven = healthy;
    seven.tray = [](int r) {
        return Tray{.inUse = kAll, .empty = r >= kRuns - kTraysOfSeven ? kSocket8 : uint8_t{0}};
    };
    add("trays_of_7", seven);
    add("trays_of_7_old", older(seven));
    LineModel cycles = healthy;
    cycles.runs = 3 * kPowerCycle;
    cycles.runsPerPowerCycle = kPowerCycle;
    add("power_cycles", cycles);
    LineModel differ = healthy;
    differ.runs = kLongRuns;
    differ.socketRates[0] = kUsualDifference * differ.baseRate;
    add("fixed_differences", differ);
    LineModel bad = healthy;
    bad.badFrom = kRuns - kBadBatch;
    bad.badTo = kRuns;
    add("bad_batch", bad);

    LineModel climb = healthy;
    climb.runs = kWornFrom + kWithin;
    climb.wornSocket = kWornSocket;
    climb.wornFrom = kWornFrom;
    add("climb_300", climb, kWornSocket, kWornFrom);
    LineModel taped = climb;
    taped.tray = [](int) { return Tray{.inUse = kAll & ~kSocket8, .empty = 0}; };
    add("climb_300_socket_unused", taped, kWornSocket, kWornFrom);
    LineModel empty8 = older(climb);
    empty8.tray = [](int) { return Tray{.inUse = kAll, .empty = kSocket8}; };
    add("climb_300_socket_unused_old", empty8, kWornSocket, kWornFrom);
    LineModel climbCycles = cycles;
    climbCycles.runs = 2 * kPowerCycle + 1000 + kWithin; // worn from run 1000 of the third
    climbCycles.wornSocket = kWornSocket;
    climbCycles.wornFrom = 2 * kPowerCycle + 1000;
    add("climb_300_power_cycles", climbCycles, kWornSocket, climbCycles.wornFrom);
    LineModel late = healthy;
    late.runs = kLongRuns;
    late.wornSocket = kWornSocket;
    late.wornFrom = kLongRuns - kLateClimb;
    late.wornRate = kLateRate;
    add("late_climb", late, kWornSocket, late.wornFrom);
    LineModel replaced = healthy;
    replaced.runs = kOtherWornFrom + kWithin;
    replaced.wear = {{.socket = kWornSocket, .from = kWornFrom, .to = kWornFrom + kWithin},
                     {.socket = kOtherWornSocket, .from = kOtherWornFrom}};
    add("replaced_then_other", replaced, kOtherWornSocket, kOtherWornFrom);
    all.back().maintenance = "time,unit,socket,note\n" + timeOf(replaced, kWornFrom + kWithin) +
                             "," + kUnit + "," + std::to_string(kWornSocket) +
                             ",contacts replaced\n";
    for (size_t i = 0; i < all.size(); ++i) {
        all[i].firstSeed = static_cast<uint32_t>(i * kSeeds + 1);
    }
    return all;
}

struct Outcome {
    bool alarmed = false;
    bool named = false; // the worn socket alone
    long sinceError = 0;
};

Outcome outcomeOf(const Scenario& scenario, uint32_t seed) {
    LineModel model = scenario.model;
    model.seed = seed;
    octo::yield::Aggregator aggregator;
    std::istringstream maintenance(scenario.maintenance);
    if (!scenario.maintenance.empty()) {
        aggregator.readMaintenance(maintenance, "maintenance.csv");
    }
    octo::testing::LineStream log(model);
    aggregator.read(log, "bench.csv");
    const octo::yield::Report report = aggregator.finish();
    Outcome outcome;
    if (report.units.size() != 1 || report.malformedCount != 0) {
        std::fprintf(stderr, "yield_bench: %s seed %u: %zu units, %llu malformed lines\n",
                     scenario.name.c_str(), seed, report.units.size(),
                     static_cast<unsigned long long>(report.malformedCount));
        std::exit(1);
    }
    const auto& alarms = report.units.front().alarms;
    outcome.alarmed = !alarms.empty();
    outcome.named = alarms.size() == 1 && alarms.front().socket == scenario.wornSocket;
    if (outcome.named) {
        outcome.sinceError =
            std::labs(static_cast<long>(alarms.front().sinceRun) - scenario.wornFrom);
    }
    return outcome;
}

// The logs of the speed figure: one log per station of a line of four units, each of a
// quarter of the runs, written as the programs write them.
int writeLogs(const char* folder, int runs) {
    constexpr int kStations = 4;
    for (int s = 1; s <= kStations; ++s) {
        const std::string path = std::string(folder) + "/line" + std::to_string(s) + ".csv";
        std::ofstream(path, std::ios::binary)
            << octo::testing::lineLog({.station = "line" + std::to_string(s),
                                       .runs = runs / kStations,
                                       .wornSocket = s == 1 ? kWornSocket : 0,
                                       .wornFrom = runs / kStations / 2,
                                       .seed = static_cast<uint32_t>(s),
                                       .unit = "U-000" + std::to_string(s)});
    }
    return 0;
}

} // namespace

// With "--write-logs FOLDER RUNS" it writes the logs of the speed figure instead; with
// "--only NAME" it runs that scenario alone.
int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write-logs") == 0) {
        return writeLogs(argv[2], std::atoi(argv[3]));
    }
    const std::string only = argc == 3 && std::strcmp(argv[1], "--only") == 0 ? argv[2] : "";
    const auto began = std::chrono::steady_clock::now();
    std::vector<Scenario> all = scenarios();
    std::erase_if(all, [&](const Scenario& s) { return !only.empty() && s.name != only; });
    // Every (scenario, seed) is one job.
    std::vector<Outcome> outcomes(all.size() * kSeeds);
    std::atomic<size_t> nextJob = 0;
    const auto work = [&] {
        for (size_t job = nextJob++; job < outcomes.size(); job = nextJob++) {
            const Scenario& s = all[job / kSeeds];
            outcomes[job] = outcomeOf(s, s.firstSeed + static_cast<uint32_t>(job % kSeeds));
        }
    };
    std::vector<std::thread> workers;
    const unsigned threads = std::max(1U, std::min(2U, std::thread::hardware_concurrency()));
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(work);
    }
    for (std::thread& t : workers) {
        t.join();
    }
    int worstFalse = 0;
    double worstDetected = kPercent;
    long worstSince = 0;
    bool anyHealthy = false;
    bool anyWorn = false;
    for (size_t i = 0; i < all.size(); ++i) {
        const Scenario& s = all[i];
        int alarmed = 0;
        int named = 0;
        std::vector<long> since;
        for (int seed = 0; seed < kSeeds; ++seed) {
            const Outcome& o = outcomes[i * kSeeds + static_cast<size_t>(seed)];
            alarmed += o.alarmed ? 1 : 0;
            if (o.named) {
                ++named;
                since.push_back(o.sinceError);
            }
        }
        if (s.wornSocket == 0) {
            anyHealthy = true;
            worstFalse = std::max(worstFalse, alarmed);
            std::printf("BENCH yield_false_alarms.%s %d\n", s.name.c_str(), alarmed);
            continue;
        }
        anyWorn = true;
        std::sort(since.begin(), since.end());
        const long median = since.empty() ? -1 : since[since.size() / 2];
        const double detected = kPercent * named / kSeeds;
        worstDetected = std::min(worstDetected, detected);
        worstSince = since.empty() ? worstSince : std::max(worstSince, median);
        std::printf("BENCH yield_detected_pct.%s %.0f\n", s.name.c_str(), detected);
        std::printf("BENCH yield_since_error_runs.%s %ld\n", s.name.c_str(), median);
    }
    if (anyHealthy) {
        std::printf("BENCH yield_false_alarms %d\n", worstFalse);
    }
    if (anyWorn) {
        std::printf("BENCH yield_detected_pct %.0f\n", worstDetected);
        std::printf("BENCH yield_since_error_runs %ld\n", worstSince);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("BENCH yield_bench_s %.0f s\n", seconds);
    return 0;
}

// The socket alarm's power on generated logs, read in memory through the report's own reader:
// false alarms on a healthy unit, detection of a worn socket within 300 runs of the change,
// and the error of its "since". Goals in scripts/bench.
#include "support/YieldLogs.h"
#include "yield/YieldReport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using octo::testing::LineModel;

constexpr int kSeeds = 100;
constexpr int kHealthyRuns = 5000;
constexpr int kWornFrom = 2000;
constexpr int kWithin = 300;
constexpr int kWornSocket = 3;
// The worn logs' seeds follow the healthy ones', so that no log is drawn twice.
constexpr uint32_t kWornSeeds = 1000;
constexpr double kPercent = 100;

octo::yield::Report reportOf(const LineModel& model) {
    std::istringstream log(octo::testing::lineLog(model));
    octo::yield::Aggregator aggregator;
    aggregator.read(log, "bench");
    return aggregator.finish();
}

// The speed figure's input: one log per station of a line of four units, each of a quarter of
// the runs, written as the programs write them.
int writeLogs(const char* folder, int runs) {
    constexpr int kStations = 4;
    for (int s = 1; s <= kStations; ++s) {
        const std::string path = std::string(folder) + "/line" + std::to_string(s) + ".csv";
        std::ofstream(path, std::ios::binary)
            << octo::testing::lineLog({.station = "line" + std::to_string(s),
                                       .runs = runs / kStations,
                                       .wornSocket = s == 1 ? kWornSocket : 0,
                                       .wornFrom = runs / kStations / 2,
                                       .seed = static_cast<uint32_t>(s)});
    }
    return 0;
}

} // namespace

// With "--write-logs FOLDER RUNS" it writes the logs of the speed figure instead.
int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write-logs") == 0) {
        return writeLogs(argv[2], std::atoi(argv[3]));
    }
    int falseAlarms = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        const auto report = reportOf({.runs = kHealthyRuns, .seed = static_cast<uint32_t>(seed)});
        falseAlarms += report.units.front().alarms.empty() ? 0 : 1;
    }
    int detected = 0;
    std::vector<long> sinceErrors;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        const auto report = reportOf({.runs = kWornFrom + kWithin,
                                      .wornSocket = kWornSocket,
                                      .wornFrom = kWornFrom,
                                      .seed = kWornSeeds + static_cast<uint32_t>(seed)});
        const auto& alarms = report.units.front().alarms;
        if (alarms.size() == 1 && alarms.front().socket == kWornSocket) {
            ++detected;
            sinceErrors.push_back(
                std::labs(static_cast<long>(alarms.front().sinceRun) - kWornFrom));
        }
    }
    std::sort(sinceErrors.begin(), sinceErrors.end());
    const long median = sinceErrors.empty() ? -1 : sinceErrors[sinceErrors.size() / 2];
    std::printf("BENCH yield_false_alarms %d\n", falseAlarms);
    std::printf("BENCH yield_detected_pct %.0f\n", kPercent * detected / kSeeds);
    std::printf("BENCH yield_since_error_runs %ld\n", median);
    return 0;
}

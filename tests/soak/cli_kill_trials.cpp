// Kills octo816 program --log with SIGKILL at random moments of a long series against the
// simulated unit, and checks the log each kill left:
//   - it holds only whole lines, each with every field, and each run's eight lines;
//   - it holds one run per main process the unit carried out before the kill: the unit is
//     stopped for the kill, so a run that ends after it is not counted. Only the run that
//     the kill caught between its end and its lines may be missing from the log.
//
//   octo_cli_kill_trials [trials]
// prints one "SOAK <name> <value>" line per figure and exits 1 when a log was damaged.
#include "KillSeed.h"
#include "QuietTool.h"
#include "SimulatedUnit.h"
#include "trace/trace_log.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>
#include <utility>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultTrials = 40;
constexpr int kTargets = 8;
constexpr char kRunsUntilKilled[] = "100000";
// Kill moments reach this many full series of the calibration, so that the image load, the
// runs and the moments between them are all hit.
constexpr double kReach = 1.5;
constexpr auto kSettled = std::chrono::milliseconds(300);

struct Figures {
    int trials = 0;
    int damagedLogs = 0;
    int runsCarriedOut = 0;
    int runsLogged = 0;
    int caughtBeforeTheirLines = 0;
};

pid_t startTool(const SimulatedUnit& unit, const fs::path& log, const char* repeat) {
    const std::string image = samplePath("A110_blink.txt").string();
    std::vector<std::string> args = {"program",     "--port", unit.link(),  "--type",
                                     "ZEL816 A110", "--vcc",  "3.0",        "--repeat",
                                     repeat,        "--log",  log.string(), image};
    return startQuietTool(std::move(args));
}

int startedRuns(const SimulatedUnit& unit) {
    const std::string count = unit.state("run.main_processes");
    return count.empty() ? 0 : std::stoi(count);
}

// Whole runs in the log, or -1 when a line is torn, lacks a field or a run lacks a line.
int loggedRuns(const fs::path& log) {
    if (!fs::exists(log)) {
        return 0;
    }
    const std::string text = readFile(log);
    if (!text.empty() && text.back() != '\n') {
        return -1;
    }
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    const std::string header = trace::headerLine();
    const auto fieldsPerLine =
        static_cast<size_t>(std::count(header.begin(), header.end(), ',')) + 1;
    for (bool first = true; std::getline(lines, line); first = false) {
        if (first) {
            if (!trace::isHeaderLine(line)) {
                return -1;
            }
            continue;
        }
        if (static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1 != fieldsPerLine) {
            return -1;
        }
        ++count;
    }
    return count % kTargets == 0 ? count / kTargets : -1;
}

// The unit has ended the run a killed tool left it with.
void waitUntilIdle(const SimulatedUnit& unit) {
    unit.waitFor("unit.working", "no");
    std::this_thread::sleep_for(kSettled);
}

int run(int trials) {
    const uint32_t seed = soak::killTrialSeed();
    std::mt19937 random(seed);
    SimulatedUnit unit({"target.all.type=ZEL816 A110"});
    const fs::path log = unit.folder() / "trace.csv";

    // One whole series of three runs: how long the kill moments may reach.
    const auto started = Clock::now();
    int status = 0;
    waitpid(startTool(unit, unit.folder() / "calibration.csv", "3"), &status, 0);
    const auto seriesMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    std::cerr << "a series of three runs: " << seriesMs << " ms\n";
    std::uniform_int_distribution<long long> moment(0, static_cast<long long>(seriesMs * kReach));

    Figures f;
    for (int i = 0; i < trials; ++i) {
        ++f.trials;
        waitUntilIdle(unit);
        const int before = startedRuns(unit);
        const int loggedBefore = loggedRuns(log);
        const pid_t tool = startTool(unit, log, kRunsUntilKilled);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        // The unit stands still across the kill: what it carried out is what it had.
        unit.signal(SIGSTOP);
        kill(tool, SIGKILL);
        waitpid(tool, &status, 0);
        // After the first run, the only long work of a tool is a run; before it, the erase.
        const int started = startedRuns(unit) - before;
        const int carried = started - (started > 0 && unit.state("unit.working") == "yes");
        unit.signal(SIGCONT);
        const int logged = loggedRuns(log);
        const int added = logged - loggedBefore;
        f.runsCarriedOut += carried;
        f.runsLogged += std::max(added, 0);
        f.caughtBeforeTheirLines += added == carried - 1 ? 1 : 0;
        if (logged < 0 || added > carried || added < carried - 1) {
            ++f.damagedLogs;
            std::cerr << "trial " << f.trials << ": " << carried << " runs carried out, log "
                      << (logged < 0 ? "damaged" : std::to_string(added) + " runs added")
                      << "; kept as " << log << "\n";
            return 1;
        }
    }
    std::cout << "SOAK cli_kill_trials " << f.trials << "\n"
              << "SOAK cli_damaged_logs " << f.damagedLogs << "\n"
              << "SOAK cli_runs_carried_out " << f.runsCarriedOut << "\n"
              << "SOAK cli_runs_logged " << f.runsLogged << "\n"
              << "SOAK cli_runs_caught_before_their_lines " << f.caughtBeforeTheirLines << "\n";
    return 0;
}

} // namespace
} // namespace octo::testing

int main(int argc, char** argv) {
    try {
        return octo::testing::run(argc > 1 ? std::stoi(argv[1]) : octo::testing::kDefaultTrials);
    } catch (const std::exception& e) {
        std::cerr << "cli kill trials: " << e.what() << "\n";
        return 2;
    }
}

// Kills octo816 program --repeat 5 with serial records (SIGKILL at random moments), again and
// again on one ledger and one simulated unit that logs every record it writes into a chip.
// Then as many series with the station's log, each with a copy of the ledger taken at a
// random moment (a plain copy of the file, or serials --backup, in turn) that is restored
// once the series is done: an older copy must be refused before the unit is touched, and
// once reconciled with the log it goes on. Last it checks the chips' history against the
// ledger:
//   - no record appears twice in the chip log;
//   - every record in the chip log is programmed or void in the ledger;
//   - every programmed record is in the chip log, verified.
//
//   octo_cli_serial_kill_trials [trials]
// prints "SOAK cli_serial_<name> <value>" lines and exits 1 when a check failed.
#include "KillSeed.h"
#include "QuietTool.h"
#include "SerialHistory.h"
#include "SimulatedUnit.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>
#include <utility>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultTrials = 40;
constexpr char kLast[] = "1000000";
// Kill moments reach past a whole series, so that its end is hit too.
constexpr double kReach = 1.3;

std::vector<std::string> programArgs(const SimulatedUnit& unit, const fs::path& ledger,
                                     const char* repeat) {
    const std::string image = samplePath("A110_blink.txt").string();
    return {"program",
            "--port",
            unit.link(),
            "--type",
            "ZEL816 A110",
            "--vcc",
            "3.0",
            "--repeat",
            repeat,
            "--ledger",
            ledger.string(),
            "--serial-address",
            "0x1000",
            "--serial-start",
            "1",
            "--serial-end",
            kLast,
            "--serial-format",
            "le32",
            image};
}

pid_t startTool(const SimulatedUnit& unit, const fs::path& ledger) {
    return startQuietTool(programArgs(unit, ledger, "5"));
}

// A series's exit: every target passed, or some failed (socket 6 fails its record).
bool seriesRan(int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
}

struct Restores {
    int trials = 0;
    int refused = 0;   // the restored copy was older than the log, until reconciled
    int plainTorn = 0; // plain copies taken in the middle of a commit, refused as damaged
    int failures = 0;  // a backup or a reconcile failed, or a run after them
};

// See the file's head: series with the log, a copy each, restored after the series.
Restores restoreTrials(const SimulatedUnit& unit, const fs::path& ledger, int trials,
                       std::mt19937& random, long long seriesMs) {
    const fs::path log = unit.folder() / "trace.csv";
    const fs::path copy = unit.folder() / "copy.ledger";
    std::uniform_int_distribution<long long> moment(0, seriesMs);
    Restores r;
    for (int i = 0; i < trials; ++i, ++r.trials) {
        unit.waitFor("unit.working", "no");
        fs::remove(copy);
        std::vector<std::string> series = programArgs(unit, ledger, "5");
        series.insert(series.end(), {"--log", log.string()});
        const pid_t tool = startQuietTool(series);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        const bool plain = i % 2 == 0;
        if (plain) {
            fs::copy_file(ledger, copy);
        } else if (runQuietTool(
                       {"serials", "--ledger", ledger.string(), "--backup", copy.string()}) != 0) {
            ++r.failures;
            std::cerr << "trial " << i << ": the backup during the series failed\n";
        }
        int status = 0;
        waitpid(tool, &status, 0);
        if (!seriesRan(status)) {
            ++r.failures;
            std::cerr << "trial " << i << ": the series ended with " << status << "\n";
        }
        try {
            (void)serials::SerialLedger::inspect(copy.string());
        } catch (const serials::LedgerError&) {
            ++r.plainTorn;
            std::cerr << "trial " << i << ": the " << (plain ? "plain " : "")
                      << "copy is damaged\n";
            r.failures += plain ? 0 : 1;
            continue;
        }
        fs::copy_file(copy, ledger, fs::copy_options::overwrite_existing);
        std::vector<std::string> one = programArgs(unit, ledger, "1");
        one.insert(one.end(), {"--log", log.string()});
        const std::string runsBefore = unit.state("run.main_processes");
        int run = runQuietTool(one);
        if (run == 2) {
            ++r.refused;
            if (unit.state("run.main_processes") != runsBefore) {
                ++r.failures;
                std::cerr << "trial " << i << ": the refused run touched the unit\n";
            }
            if (runQuietTool(
                    {"serials", "--ledger", ledger.string(), "--reconcile", log.string()}) != 0) {
                ++r.failures;
                std::cerr << "trial " << i << ": the reconcile failed\n";
                continue;
            }
            run = runQuietTool(one);
        }
        if (run != 0 && run != 1) {
            ++r.failures;
            std::cerr << "trial " << i << ": the run after the restore ended with " << run << "\n";
        }
    }
    return r;
}

serials::SerialScheme scheme() {
    return serials::SerialScheme::numbers(
        {.start = 1, .end = std::stoull(kLast), .step = 1, .format = serials::NumberFormat::Le32});
}

int run(int trials) {
    const uint32_t seed = soak::killTrialSeed();
    std::mt19937 random(seed);
    SimulatedUnit unit(
        {"target.all.type=ZEL816 A110", "target.4.present=no", "target.6.fault.record=yes"});
    const fs::path ledger = unit.folder() / "station.ledger";

    const auto started = Clock::now();
    int status = 0;
    waitpid(startTool(unit, ledger), &status, 0);
    const auto seriesMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    std::cerr << "a series of five runs: " << seriesMs << " ms\n";
    std::uniform_int_distribution<long long> moment(0, static_cast<long long>(seriesMs * kReach));

    for (int i = 0; i < trials; ++i) {
        // A killed tool may leave the unit in a run: the next one waits for its end.
        unit.waitFor("unit.working", "no");
        const pid_t tool = startTool(unit, ledger);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        kill(tool, SIGKILL);
        waitpid(tool, &status, 0);
    }
    unit.waitFor("unit.working", "no");
    const Restores restores = restoreTrials(unit, ledger, trials, random, seriesMs);

    // The next open turns what the last kill left reserved into void records, as any would.
    const soak::SerialHistory history =
        soak::checkSerialHistory(unit.chipLog(), ledger.string(), scheme());
    soak::printSerialHistory("cli_serial", trials, history);
    std::cout << "SOAK cli_serial_restore_trials " << restores.trials << "\n"
              << "SOAK cli_serial_restores_refused " << restores.refused << "\n"
              << "SOAK cli_serial_plain_copies_torn " << restores.plainTorn << "\n"
              << "SOAK cli_serial_restore_failures " << restores.failures << "\n";
    return history.clean() && restores.failures == 0 ? 0 : 1;
}

} // namespace
} // namespace octo::testing

int main(int argc, char** argv) {
    try {
        return octo::testing::run(argc > 1 ? std::stoi(argv[1]) : octo::testing::kDefaultTrials);
    } catch (const std::exception& e) {
        std::cerr << "cli serial kill trials: " << e.what() << "\n";
        return 2;
    }
}

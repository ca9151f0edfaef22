// Kills octo816 program --repeat 5 with serial records (SIGKILL at random moments), again and
// again on one ledger and one simulated unit that logs every record it writes into a chip,
// then checks the chips' history against the ledger:
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

pid_t startTool(const SimulatedUnit& unit, const fs::path& ledger) {
    const std::string image = samplePath("A110_blink.txt").string();
    std::vector<std::string> args = {"program",
                                     "--port",
                                     unit.link(),
                                     "--type",
                                     "ZEL816 A110",
                                     "--vcc",
                                     "3.0",
                                     "--repeat",
                                     "5",
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
    return startQuietTool(std::move(args));
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

    // The next open turns what the last kill left reserved into void records, as any would.
    const soak::SerialHistory history =
        soak::checkSerialHistory(unit.chipLog(), ledger.string(), scheme());
    soak::printSerialHistory("cli_serial", trials, history);
    return history.clean() ? 0 : 1;
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

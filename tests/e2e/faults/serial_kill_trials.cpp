// Kills the real OCTO816.EXE under Wine (SIGKILL, as a crash or a power cut would) at random
// moments of a series of five serialized runs, again and again on one ledger and one
// simulated unit that logs every record it writes into a chip; then checks the chips'
// history against the ledger:
//   - no record appears twice in the chip log;
//   - every record in the chip log is programmed or void in the ledger;
//   - every programmed record is in the chip log, verified.
// Socket 4 is empty (its records come back) and socket 6's records do not verify (void).
//
//   octo_window_serial_kill_trials [trials]
// prints "SOAK window_serial_<name> <value>" lines and exits 1 when a check failed.
#include "KillSeed.h"
#include "SerialHistory.h"
#include "SimulatedUnit.h"

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultTrials = 40;
constexpr int kSeriesRuns = 5;
constexpr char kLedger[] = "station.ledger";
constexpr uint64_t kFirst = 1;
constexpr uint64_t kLast = 1000000;
constexpr char kSeriesTerminated[] = "Continual Main Process terminated.";
constexpr char kSample[] = "A110_blink.hex";
// Kill moments reach past a whole series, so that its end is hit too.
constexpr double kReach = 1.2;
constexpr Millis kExitTimeout{20000};
constexpr char kScenario[] = R"(target.4.present = no
target.6.fault.record = yes
)";

serials::SerialScheme scheme() {
    return serials::SerialScheme::numbers(
        {.start = kFirst, .end = kLast, .step = 1, .format = serials::NumberFormat::Le32});
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        all.push_back(line);
    }
    return all;
}

class SerialKillTrials {
public:
    SerialKillTrials(Session& session, uint32_t seed) : session_(session), random_(seed) {}

    // The program with a Serial section and a series of five runs, the unit, and one clean
    // series to learn how long a series lasts.
    void prepare() {
        session_.installProgram();
        setIniKey(ini(), "User", "RepeatOctoprog", std::to_string(kSeriesRuns));
        std::ofstream(ini(), std::ios::binary | std::ios::app)
            << "[Serial]\r\nLedger=" << kLedger << "\r\nAddress=0x1000\r\nStart=" << kFirst
            << "\r\nEnd=" << kLast << "\r\nFormat=le32\r\n";
        const fs::path scenario = session_.programFolder() / "serial_kill_trials.txt";
        std::ofstream(scenario) << kScenario;
        unit_ = std::make_unique<SimulatedUnit>(
            session_.programFolder(), std::vector<std::string>{"time_scale=0.05"}, scenario);
        Window w = startAndLoad();
        const auto started = Clock::now();
        w.click(IDC_START);
        if (eventually([&] { return w.text(IDC_STATUS_LINE); }, std::string(kSeriesTerminated),
                       kSeriesTimeout) != kSeriesTerminated)
            throw E2eError("the first series did not end: " + w.text(IDC_STATUS_LINE));
        seriesMs_ = std::chrono::duration_cast<Millis>(Clock::now() - started).count();
        std::cerr << "a series of " << kSeriesRuns << " runs: " << seriesMs_ << " ms\n";
        w.close();
        if (!session_.waitProgramExit(kExitTimeout))
            session_.killProgram();
    }

    void trial() {
        // A killed program may leave the unit in a run: the next start waits for its end.
        waitUnitIdle();
        Window w = startAndLoad();
        w.click(IDC_START);
        std::uniform_int_distribution<long long> moment(
            0, static_cast<long long>(static_cast<double>(seriesMs_) * kReach));
        std::this_thread::sleep_for(Millis{moment(random_)});
        session_.killProgram();
    }

    soak::SerialHistory history() {
        waitUnitIdle();
        return soak::checkSerialHistory(lines(readWholeFile(unit_->chipLog())),
                                        (session_.programFolder() / kLedger).string(), scheme());
    }

private:
    fs::path ini() const { return session_.programFolder() / kConfigIni; }

    void waitUnitIdle() {
        if (!waitUntil(kOperationTimeout, [&] { return unit_->state("unit.working") == "no"; }))
            throw E2eError("the unit did not end its run");
    }

    // The window after its start-up, with the sample loaded: a program started afresh
    // knows no image, and records are checked against the image it loaded.
    Window startAndLoad() {
        Window w = launchAndWaitForStartup(session_, kOperationTimeout);
        w.setText(IDC_IMAGE2_FILE, "");
        w.setText(IDC_IMAGE_FILE, windowsPath(Paths::repository() / "dist" / "samples" / kSample));
        if (w.click(IDC_LOAD_IMAGES, kOperationTimeout) != Outcome::Done ||
            w.text(IDC_STATUS_LINE).rfind("Image loaded", 0) != 0)
            throw E2eError("the sample did not load: " + w.text(IDC_STATUS_LINE));
        return w;
    }

    Session& session_;
    std::mt19937 random_;
    std::unique_ptr<SimulatedUnit> unit_;
    long long seriesMs_ = 0;
};

int run(int trials) {
    const uint32_t seed = soak::killTrialSeed();
    Session session;
    SerialKillTrials kills(session, seed);
    kills.prepare();
    for (int i = 0; i < trials; ++i) {
        kills.trial();
    }
    const soak::SerialHistory history = kills.history();
    soak::printSerialHistory("window_serial", trials, history);
    return history.clean() ? 0 : 1;
}

} // namespace
} // namespace octo::e2e

int main(int argc, char** argv) {
    try {
        return octo::e2e::run(argc > 1 ? std::stoi(argv[1]) : octo::e2e::kDefaultTrials);
    } catch (const std::exception& e) {
        std::cerr << "window serial kill trials: " << e.what() << "\n";
        return 2;
    }
}

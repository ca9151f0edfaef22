// Kills the real OCTO816.EXE under Wine at random moments while it saves its settings, and
// a Wine client of OCTO816.DLL while it reads a target out to a file, against the
// simulated unit on COM1; checks every file the kill left:
//   - the configuration file is always one complete version (every section and key of a
//     clean save, in order, each value the old or the new one), and the next start works
//     with it and removes the temporary files the killed writer left;
//   - the read-out file is absent or a complete read-out, never a part of one.
//
//   octo_kill_trials [settings trials] [read-out trials]
// prints one "SOAK <name> <value>" line per figure and exits 1 when a file was damaged.
#include "KillSeed.h"
#include "SimulatedUnit.h"
#include "files/atomic_file.h"

#include "objfile/load.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <set>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultSettingsTrials = 200;
constexpr Millis kStartupTimeout{30000};
constexpr Millis kExitTimeout{20000};
constexpr Millis kClientTimeout{30000};
// One in this many settings trials kills during start-up (whose end saves the settings
// too); the others during the save that closing the window makes.
constexpr int kStartupKillEvery = 4;
// Random kill moments reach this far past the measured length of the phase, so that the
// last writes of a phase are hit as often as the first.
constexpr double kPhaseReach = 1.2;
constexpr double kLonger = 1.05;
constexpr double kShorter = 0.9;
constexpr double kShortestPhaseMs = 5;
// The read-out trials: target 1's first 16 KiB, about 50 KB of QX-Text.
constexpr uint32_t kReadLength = 0x4000;
constexpr char kReadFile[] = "READ.TXT";
constexpr char kTortureClient[] = "octo_dll_torture.exe";
constexpr int kUntilKilled = 0; // read-outs the client makes: no end
// A read-out trial's kill falls within this many read-outs of the client's start.
constexpr double kReadoutsPerTrial = 3;
// The options the trials toggle, and the keys of the flags they and start-up change (the
// erase options follow Erase and EraseCheck, DuoLink the type); the file holds each as 0 or 1.
constexpr int kToggled[] = {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY};
const std::set<std::string> kToggledKeys = {
    "Erase",     "EraseCheck", "Program",      "Verify",     "EraseMain",
    "EraseInfo", "ErasePINFO", "EraseBSLSegm", "RestoreDCO", "UseDLK"};
// Written 1 by every save and reset to 0 by the trials before a start, to see its end.
constexpr char kBusyKey[] = "Busy";
constexpr char kUnitSettings[] = R"(time_scale = 0.01
target.1.type = ZEL816 A449
target.1.memory = random
)";

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<Millis>(Clock::now() - start).count();
}

// "[Section]" and "key=value" lines, each ended by CR LF.
std::vector<std::string> iniLines(const std::string& text, bool& wellFormed) {
    std::vector<std::string> lines;
    wellFormed = text.size() >= 2 && text.ends_with("\r\n");
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            wellFormed = false;
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// What is wrong with a configuration file left by a kill, against a clean save of it:
// empty when it is one complete version.
std::string damage(const std::string& text, const std::vector<std::string>& reference) {
    bool wellFormed = false;
    const std::vector<std::string> lines = iniLines(text, wellFormed);
    if (!wellFormed)
        return "not a whole number of CR LF lines";
    if (lines.size() != reference.size())
        return std::to_string(lines.size()) + " lines, a clean save has " +
               std::to_string(reference.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == reference[i])
            continue;
        const std::size_t equals = reference[i].find('=');
        const std::string key = reference[i].substr(0, equals);
        const bool mayDiffer =
            equals != std::string::npos && (kToggledKeys.contains(key) || key == kBusyKey);
        if (!mayDiffer || (lines[i] != key + "=0" && lines[i] != key + "=1"))
            return "line " + std::to_string(i + 1) + " is '" + lines[i] + "', a clean save has '" +
                   reference[i] + "'";
    }
    return {};
}

std::vector<fs::path> temporaries(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().ends_with(files::kTemporarySuffix))
            found.push_back(entry.path());
    return found;
}

struct Figures {
    int settingsTrials = 0;
    int readoutTrials = 0;
    int killedWhileSaving = 0; // still running when it was killed, not ended already
    int corruptConfigFiles = 0;
    int leftoverTemporaries = 0; // left after a start that should have removed them
    int failedStarts = 0;
    int partialReadoutFiles = 0;
    int readoutFilesWhole = 0; // a complete read-out was there after the kill
    int readoutLeftovers = 0;  // temporary files still beside it after a read-out
};

class KillTrials {
public:
    KillTrials(Session& session, std::uint32_t seed) : session_(session), random_(seed) {}

    void prepare() {
        session_.installProgram();
        session_.installFromBuild(kTortureClient);
        const fs::path scenario = folder() / "kill_trials_unit.txt";
        std::ofstream(scenario) << kUnitSettings;
        unit_ = std::make_unique<SimulatedUnit>(folder(), std::vector<std::string>{}, scenario);
        calibrateSettings();
        calibrateReadout();
    }

    void settingsTrial() {
        ++figures_.settingsTrials;
        setIniKey(ini(), "Diagnostic", kBusyKey, "0");
        const bool duringStartup = random_() % kStartupKillEvery == 0;
        Window w = session_.launch();
        if (duringStartup) {
            sleepRandom(startupMs_);
        } else {
            if (!started(w))
                return;
            toggleSomeOptions(w);
            w.close();
            sleepRandom(closeMs_);
        }
        const bool running = session_.killProgram();
        figures_.killedWhileSaving += running ? 1 : 0;
        if (!duringStartup) {
            // Keeps the kill moments on the save: shorter after a kill that came too late,
            // longer after one that found the program still at work.
            closeMs_ =
                std::max<double>(kShortestPhaseMs, closeMs_ * (running ? kLonger : kShorter));
        }
        const std::string why =
            fs::exists(ini()) ? damage(readWholeFile(ini()), reference_) : "no file at all";
        if (!why.empty()) {
            ++figures_.corruptConfigFiles;
            keepDamaged(why);
            std::ofstream(ini(), std::ios::binary | std::ios::trunc) << referenceText_;
        }
    }

    // The file of the read-outs before stays in place: a kill during the next one's
    // replace must leave it whole, never remove it or leave a part of the new one.
    void readoutTrial() {
        ++figures_.readoutTrials;
        const bool existed = fs::exists(readFile());
        ChildProcess client = startClient(kUntilKilled);
        expectClientReady(client);
        sleepRandom(readoutMs_ * kReadoutsPerTrial);
        kill(client.pid(), SIGKILL);
        if (!client.waitExit(kExitTimeout))
            throw E2eError("the read-out client did not end after SIGKILL");
        if (!fs::exists(readFile())) {
            if (existed) {
                ++figures_.partialReadoutFiles;
                std::cerr << "the read-out file was lost in trial " << figures_.readoutTrials
                          << "\n";
            }
            return;
        }
        if (readWholeFile(readFile()) == readout_) {
            ++figures_.readoutFilesWhole;
            return;
        }
        ++figures_.partialReadoutFiles;
        const fs::path kept =
            Paths::artifacts() / ("partial_readout_" + std::to_string(figures_.readoutTrials));
        fs::create_directories(Paths::artifacts());
        fs::copy_file(readFile(), kept, fs::copy_options::overwrite_existing);
        std::cerr << "partial read-out file kept as " << kept << "\n";
        fs::remove(readFile());
    }

    // A read-out to its end after the last kill: the library removes what the killed
    // writers left beside the file.
    void finalReadout() {
        ChildProcess client = startClient(1);
        expectClientReady(client);
        std::string line;
        if (!readLine(client, line, kClientTimeout) || line != "readout 0")
            throw E2eError("the read-out after the kills failed: " + line);
        client.waitExit(kExitTimeout);
        figures_.readoutLeftovers = static_cast<int>(temporaries(folder()).size());
    }

    // The start after the last kill: it must work and leave nothing behind.
    void finalStart() {
        setIniKey(ini(), "Diagnostic", kBusyKey, "0");
        Window w = session_.launch();
        if (started(w)) {
            w.close();
            if (!session_.waitProgramExit(kExitTimeout))
                session_.killProgram();
        }
    }

    const Figures& figures() const { return figures_; }

private:
    fs::path folder() const { return session_.programFolder(); }
    fs::path ini() const { return folder() / kConfigIni; }
    fs::path readFile() const { return folder() / kReadFile; }

    void sleepRandom(long long phaseMs) {
        std::uniform_int_distribution<long long> pick(
            0, static_cast<long long>(phaseMs * kPhaseReach));
        std::this_thread::sleep_for(Millis{pick(random_)});
    }

    // Waits for the end of start-up and checks that it removed what the last kill left.
    bool started(Window& w) {
        const std::string connected = kConnectedText;
        const bool ok = eventually([&] { return w.text(IDC_STATUS_LINE); }, connected,
                                   kStartupTimeout) == connected &&
                        session_.waitStartupEnd(kStartupTimeout);
        if (!ok) {
            ++figures_.failedStarts;
            std::cerr << "a start did not end its start-up: " << session_.programLog() << "\n";
            session_.killProgram();
            return false;
        }
        const auto left = temporaries(folder());
        figures_.leftoverTemporaries += static_cast<int>(left.size());
        for (const fs::path& path : left) {
            std::cerr << "left after a start: " << path << "\n";
            fs::remove(path);
        }
        return true;
    }

    void toggleSomeOptions(Window& w) {
        for (int id : kToggled)
            if (random_() % 2 && w.enabled(id))
                w.click(id);
    }

    // A clean start and close: the reference lines, and how long each phase lasts.
    void calibrateSettings() {
        setIniKey(ini(), "Diagnostic", kBusyKey, "0");
        const auto launched = Clock::now();
        Window w = session_.launch();
        const auto visible = Clock::now();
        if (!started(w))
            throw E2eError("the program did not start against the simulated unit");
        startupMs_ = msSince(visible);
        for (int id : kToggled)
            w.click(id);
        const auto closing = Clock::now();
        w.close();
        if (!session_.waitProgramExit(kExitTimeout))
            throw E2eError("the program did not end after its window was closed");
        closeMs_ = msSince(closing);
        referenceText_ = readWholeFile(ini());
        bool wellFormed = false;
        reference_ = iniLines(referenceText_, wellFormed);
        if (!wellFormed)
            throw E2eError("a clean save wrote lines without CR LF");
        std::cerr << "start " << msSince(launched) << " ms (start-up " << startupMs_
                  << " ms), close " << closeMs_ << " ms\n";
    }

    ChildProcess startClient(int readouts) {
        char length[16];
        std::snprintf(length, sizeof length, "0x%X", kReadLength);
        clientOutput_.clear();
        ProcessOptions options{{"wine", kTortureClient, "readout", "\\\\.\\COM1",
                                windowsPath(readFile()), length, std::to_string(readouts)},
                               folder(),
                               session_.wineEnvironment(),
                               folder() / "client.log",
                               true};
        return ChildProcess(options);
    }

    void expectClientReady(ChildProcess& client) {
        for (const std::string expected : {"initcom 0", "supply 0"}) {
            std::string line;
            if (!readLine(client, line, kClientTimeout) || line != expected)
                throw E2eError("the read-out client answered '" + line + "', not '" + expected +
                               "'");
        }
    }

    // One line of the client's output; false at the deadline or its end.
    bool readLine(ChildProcess& client, std::string& line, Millis timeout) {
        const auto deadline = Clock::now() + timeout;
        while (true) {
            const std::size_t newline = clientOutput_.find('\n');
            if (newline != std::string::npos) {
                line = clientOutput_.substr(0, newline);
                clientOutput_.erase(0, newline + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return true;
            }
            const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
            pollfd p{client.stdoutFd(), POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                return false;
            char chunk[256];
            const ssize_t got = read(client.stdoutFd(), chunk, sizeof chunk);
            if (got <= 0)
                return false;
            clientOutput_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // One read-out to its end: the complete file every later one must equal, and how long
    // a read-out takes.
    void calibrateReadout() {
        ChildProcess client = startClient(kUntilKilled);
        expectClientReady(client);
        std::string line;
        if (!readLine(client, line, kClientTimeout) || line != "readout 0")
            throw E2eError("the first read-out failed: " + line);
        const auto second = Clock::now();
        if (!readLine(client, line, kClientTimeout) || line != "readout 0")
            throw E2eError("the second read-out failed: " + line);
        readoutMs_ = static_cast<double>(std::max<long long>(msSince(second), 1));
        kill(client.pid(), SIGKILL);
        client.waitExit(kExitTimeout);
        readout_ = readWholeFile(readFile());
        objfile::Image image;
        if (!objfile::loadObjectFile(kReadFile, readout_, image).ok() ||
            image.byteCount() != kReadLength)
            throw E2eError("the read-out file does not hold the range read");
        for (const fs::path& left : temporaries(folder()))
            fs::remove(left);
        std::cerr << "read-out " << readoutMs_ << " ms\n";
    }

    void keepDamaged(const std::string& why) {
        std::cerr << "damaged configuration file after trial " << figures_.settingsTrials << ": "
                  << why << "; the folder holds:";
        for (const auto& entry : fs::directory_iterator(folder()))
            std::cerr << " " << entry.path().filename().string();
        std::cerr << "\n";
        if (fs::exists(ini())) {
            fs::create_directories(Paths::artifacts());
            const fs::path kept = Paths::artifacts() /
                                  ("damaged_" + std::to_string(figures_.settingsTrials) + ".ini");
            fs::copy_file(ini(), kept, fs::copy_options::overwrite_existing);
            std::cerr << "kept as " << kept << "\n";
        }
    }

    Session& session_;
    std::mt19937 random_;
    std::unique_ptr<SimulatedUnit> unit_;
    std::vector<std::string> reference_;
    std::string referenceText_;
    std::string readout_;
    std::string clientOutput_;
    long long startupMs_ = 0;
    double closeMs_ = 0;
    double readoutMs_ = 0;
    Figures figures_;
};

int run(int settingsTrials, int readoutTrials) {
    const uint32_t seed = soak::killTrialSeed();
    const auto started = Clock::now();
    Session session;
    KillTrials trials(session, seed);
    trials.prepare();
    for (int i = 0; i < settingsTrials; ++i)
        trials.settingsTrial();
    trials.finalStart();
    for (int i = 0; i < readoutTrials; ++i)
        trials.readoutTrial();
    trials.finalReadout();
    const Figures& f = trials.figures();
    std::cout << "SOAK kill_trials " << f.settingsTrials << "\n"
              << "SOAK corrupt_config_files " << f.corruptConfigFiles << "\n"
              << "SOAK partial_readout_files " << f.partialReadoutFiles << "\n"
              << "SOAK readout_kill_trials " << f.readoutTrials << "\n"
              << "SOAK kills_while_running " << f.killedWhileSaving << "\n"
              << "SOAK leftover_temporaries " << f.leftoverTemporaries << "\n"
              << "SOAK readout_leftover_temporaries " << f.readoutLeftovers << "\n"
              << "SOAK failed_starts " << f.failedStarts << "\n"
              << "SOAK whole_readout_files_after_kill " << f.readoutFilesWhole << "\n"
              << "SOAK kill_trials_seconds " << msSince(started) / 1000 << "\n";
    return f.corruptConfigFiles + f.partialReadoutFiles + f.leftoverTemporaries + f.failedStarts ==
                   0
               ? 0
               : 1;
}

} // namespace
} // namespace octo::e2e

int main(int argc, char** argv) {
    constexpr int kReadoutShare = 4; // one read-out trial for every four settings trials
    try {
        const int settings = argc > 1 ? std::stoi(argv[1]) : octo::e2e::kDefaultSettingsTrials;
        const int readouts = argc > 2 ? std::stoi(argv[2]) : std::max(1, settings / kReadoutShare);
        return octo::e2e::run(settings, readouts);
    } catch (const std::exception& e) {
        std::cerr << "kill trials: " << e.what() << "\n";
        return 2;
    }
}

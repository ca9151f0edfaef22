// The paced soak: image loads, main processes, firmware loads and read-outs through the
// library's C interface against the simulated unit pacing at the line rate, with noise,
// lost and damaged bytes, bursts, stalls, delays and unplugs (each one a power cycle, so the
// unit comes back at its power-on rate). An operation counts as completed only when the
// unit's own truth (state file, slot and target dumps) holds exactly what was meant; every
// call is timed against its documented bound.
//
//   octo_soak --rate RATE --seconds SECONDS [--seed N]
//
// Prints "SOAK <name>_<rate> <value>" lines.
#include "CallBounds.h"
#include "Operations.h"

#include <api/NativeHooks.h>
#include <octo816.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace octo::testing;
using Clock = std::chrono::steady_clock;

struct Sample {
    const char* file;
    const char* type;
};
// At 9600 baud a 60 KiB image takes over a minute: the slow line gets the small ones.
const std::vector<Sample> kSmallSamples = {
    {"B231_main.txt", "ZEL816 B231"},
    {"A413_overlap_1.hex", "ZEL816 A413"},
    {"A110_blink.hex", "ZEL816 A110"},
};
const Sample kLargeSample = {"A449_full.hex", "ZEL816 A449"};
constexpr uint32_t kFastRate = 115200;
constexpr uint32_t kSockets = 8;
constexpr uint32_t kRunTenths = 300;
constexpr uint32_t kSupply = 30;
// The longest read-out: a few seconds of line time at either rate.
constexpr uint32_t kReadBytesPerSecondOfLine = 960;
constexpr uint32_t kSlowReadSeconds = 4;
constexpr uint32_t kFastReadSeconds = 1;
// An unplug every 20 to 40 s (at 9600 baud every 60 to 120 s: a firmware load alone takes
// over a minute there), back after the scenario's unplug.for_ms.
constexpr int kUnplugEveryMinS = 20;
constexpr int kUnplugEveryMaxS = 40;
constexpr int kSlowLineUnplugFactor = 3;
constexpr int kInitComTries = 5;
constexpr auto kPauseAfterFailure = std::chrono::milliseconds(500);
const char* const kFirmwareFile = "OCTO816-156.TXT";
// A stand-in for the status line's window handle: the library's texts go to the hook.
const OctoHandle kStatusLine = reinterpret_cast<OctoHandle>(uintptr_t{1});

struct Figures {
    uint64_t attempted = 0;
    uint64_t completed = 0;
    uint64_t failedWithCode = 0;
    uint64_t falseSuccesses = 0;
    uint64_t damagedLeftovers = 0;
    double maxOverrunMs = 0;
    std::map<int32_t, uint64_t> codes;
};

class Soak {
public:
    Soak(uint32_t rate, uint64_t seed)
        : rate_(rate), random_(seed),
          unit_({"pace=yes", "time_scale=0.05", "dump_targets=yes",
                 "fault.seed=" + std::to_string(seed), "fault.drop=0.0005", "fault.corrupt=0.0005",
                 "fault.noise=2", "fault.burst=0.00005", "fault.stall=0.0005",
                 "fault.stall_ms=1000", "fault.delay=0.0005", "fault.delay_ms=50",
                 "fault.unplug_resets=yes", "unplug.for_ms=700"}),
          operations_(unit_, rate) {
        octo::library::NativeHooks hooks;
        hooks.pump = [this] { maybeUnplug(); };
        hooks.text = [this](OctoHandle, const std::string& text) { lastText_ = text; };
        octo::library::setNativeHooks(hooks);
        InitProgress(kStatusLine, nullptr);
        scheduleUnplug();
    }
    ~Soak() { octo::library::setNativeHooks({}); }

    bool open() {
        for (int i = 0; i < kInitComTries; ++i) {
            if (InitCom(unit_.link().c_str(), rate_) == 0) {
                return true;
            }
        }
        return false;
    }

    void run(std::chrono::seconds budget) {
        const auto end = Clock::now() + budget;
        // Firmware now and then, and again whenever the last firmware load failed (the unit
        // then has none and refuses target work); otherwise load, run, read out in turn.
        for (uint64_t turn = 0; Clock::now() < end; ++turn) {
            if (!firmwareOk_ || turn % 7 == 6) {
                operation("firmware", [this](Outcome& o) { return firmware(o); });
            } else if (turn % 3 == 0 || !image_) {
                operation("load", [this](Outcome& o) { return load(o); });
            } else if (turn % 3 == 1) {
                operation("run", [this](Outcome& o) { return mainProcess(o); });
            } else {
                operation("read-out", [this](Outcome& o) { return readOut(o); });
            }
        }
    }

    void print() const {
        const std::string r = "_" + std::to_string(rate_);
        std::printf("SOAK operations_attempted%s %llu\n", r.c_str(),
                    static_cast<unsigned long long>(figures_.attempted));
        std::printf("SOAK operations_completed%s %llu\n", r.c_str(),
                    static_cast<unsigned long long>(figures_.completed));
        std::printf("SOAK failed_with_code%s %llu\n", r.c_str(),
                    static_cast<unsigned long long>(figures_.failedWithCode));
        std::printf("SOAK false_successes%s %llu\n", r.c_str(),
                    static_cast<unsigned long long>(figures_.falseSuccesses));
        std::printf("SOAK damaged_leftovers%s %llu\n", r.c_str(),
                    static_cast<unsigned long long>(figures_.damagedLeftovers));
        std::printf("SOAK max_overrun_ms%s %.0f\n", r.c_str(), figures_.maxOverrunMs);
        std::string codes;
        for (const auto& [code, count] : figures_.codes) {
            codes +=
                (codes.empty() ? "" : ",") + std::to_string(code) + "x" + std::to_string(count);
        }
        std::printf("SOAK failure_codes%s %s\n", r.c_str(), codes.empty() ? "none" : codes.c_str());
        std::printf("SOAK unplugs%s %s\n", r.c_str(), unit_.state("link.unplugs").c_str());
        std::fflush(stdout);
    }

private:
    // One operation: a sequence of calls that stops at the first failing one. Each step
    // returns false to stop there.
    template <typename Body>
    void operation(const char* name, Body body) {
        ++figures_.attempted;
        Outcome last;
        const bool done = body(last);
        if (!last.truthful) {
            ++(last.code == 0 ? figures_.falseSuccesses : figures_.damagedLeftovers);
            std::fprintf(stderr, "soak %u: %s NOT TRUTHFUL: %s\n", rate_, name,
                         last.detail.c_str());
        } else if (done) {
            ++figures_.completed;
        } else {
            ++figures_.failedWithCode;
            ++figures_.codes[last.code];
            std::fprintf(stderr, "soak %u: %s failed with %d: %s\n", rate_, name, last.code,
                         lastText_.c_str());
            // As the program would: the operator (or its poll) tries again a little later,
            // not in a tight loop while the cable is out.
            std::this_thread::sleep_for(kPauseAfterFailure);
        }
    }

    // A call's outcome into the figures; true when it succeeded truthfully.
    bool step(Outcome& last, Outcome outcome) {
        figures_.maxOverrunMs = std::max(figures_.maxOverrunMs, outcome.overrunMs());
        if (outcome.overrunMs() > 0) {
            std::fprintf(stderr, "soak %u: a call took %.0f ms, bound %.0f ms\n", rate_, outcome.ms,
                         outcome.boundMs);
        }
        last = std::move(outcome);
        return last.code == 0 && last.truthful;
    }

    bool load(Outcome& last) {
        const auto& samples = kSmallSamples;
        const Sample sample = rate_ == kFastRate && random_() % 2 == 0
                                  ? kLargeSample
                                  : samples[random_() % samples.size()];
        image_.reset();
        if (!step(last, operations_.eraseImage()) ||
            !step(last, operations_.loadImage(samplePath(sample.file), sample.type))) {
            return false;
        }
        image_ = sample;
        return true;
    }

    bool mainProcess(Outcome& last) {
        return (image_ || load(last)) && step(last, operations_.mainProcess(kRunTenths, kSockets));
    }

    bool readOut(Outcome& last) {
        if (!image_ && !load(last)) {
            return false;
        }
        // From the image's first bytes on, at most a few seconds of line time.
        const auto image = imageOfFile(samplePath(image_->file));
        const uint32_t start = image.runs().front().start;
        const uint32_t most = kReadBytesPerSecondOfLine * rate_ / 9600 *
                              (rate_ == kFastRate ? kFastReadSeconds : kSlowReadSeconds);
        const uint32_t length = 1 + static_cast<uint32_t>(random_() % most);
        const auto path = unit_.folder() / "readout.txt";
        std::filesystem::remove(path);
        const auto target = static_cast<uint8_t>(random_() % kSockets);
        return step(last, operations_.setSupply(kSupply)) &&
               step(last, operations_.readOut(target, start, length, path));
    }

    bool firmware(Outcome& last) {
        firmwareOk_ = step(last, operations_.eraseFirmware()) &&
                      step(last, operations_.loadFirmware(std::filesystem::path(OCTO_DIST_DIR) /
                                                          kFirmwareFile));
        return firmwareOk_;
    }

    void scheduleUnplug() {
        const int factor = rate_ == kFastRate ? 1 : kSlowLineUnplugFactor;
        nextUnplug_ =
            Clock::now() + std::chrono::seconds(std::uniform_int_distribution<int>(
                               kUnplugEveryMinS * factor, kUnplugEveryMaxS * factor)(random_));
    }
    // Called from the library's message pump: the cable goes in the middle of a call.
    void maybeUnplug() {
        if (Clock::now() >= nextUnplug_) {
            unit_.signal(SIGUSR1);
            scheduleUnplug();
        }
    }

    uint32_t rate_;
    std::mt19937_64 random_;
    SimulatedUnit unit_;
    Operations operations_;
    Figures figures_;
    std::optional<Sample> image_; // what slot 0 holds, when the last load succeeded
    bool firmwareOk_ = true;      // the unit starts with its firmware
    Clock::time_point nextUnplug_;
    std::string lastText_;
};

int usage() {
    std::fprintf(stderr, "usage: octo_soak --rate RATE --seconds SECONDS [--seed N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    uint32_t rate = 0;
    long seconds = 0;
    uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--rate") {
            rate = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        } else if (arg == "--seconds") {
            seconds = std::strtol(argv[i + 1], nullptr, 10);
        } else if (arg == "--seed") {
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (rate == 0 || seconds <= 0) {
        return usage();
    }
    Soak soak(rate, seed);
    if (!soak.open()) {
        std::fprintf(stderr, "soak %u: the unit never answered InitCom\n", rate);
        return 1;
    }
    soak.run(std::chrono::seconds(seconds));
    soak.print();
    ReleaseCom();
    return 0;
}

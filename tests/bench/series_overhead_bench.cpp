// What the window spends between the runs of a continual series beyond its pause: the real
// OCTO816.EXE under Wine against the simulated unit on COM1, a series of runs of the A110
// sample on eight good sockets. The unit's event log gives, for each run but the last, when
// the answer to its last request (OctoGetResult) left and when the next run's first
// request (OctoLoadParameters) arrived; the pause between runs is taken off.
// Prints
//   BENCH series_overhead_ms <median over the gaps> ms
//   BENCH series_overhead_max_ms <largest gap> ms
#include "SimulatedUnit.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace octo::e2e;
namespace fs = std::filesystem;

constexpr int kRuns = 8;
constexpr double kSeriesPauseMs = 750;
constexpr Millis kOperationTimeout{90000};
constexpr Millis kSeriesTimeout{300000};
constexpr char kSeriesEnded[] = "Continual Main Process terminated.";
constexpr char kSample[] = "A110_blink.hex";

// Gaps between the end of one run's library calls and the start of the next run's.
std::vector<double> gapsBetweenRuns(const std::vector<UnitEvent>& events) {
    std::vector<double> gaps;
    bool afterRun = false;
    double lastAnswer = -1;
    for (const UnitEvent& e : events) {
        if (e.kind == "answer" && e.command == "MainProcess") {
            afterRun = true;
        } else if (afterRun && e.kind == "answer" && e.command == "GetResult") {
            lastAnswer = e.ms;
            afterRun = false;
        } else if (lastAnswer >= 0 && e.kind == "request" && e.command == "LoadParameters") {
            gaps.push_back(e.ms - lastAnswer - kSeriesPauseMs);
            lastAnswer = -1;
        }
    }
    return gaps;
}

int run() {
    Session session;
    session.installProgram();
    const fs::path ini = session.programFolder() / kConfigIni;
    setIniKey(ini, "User", "RepeatOctoprog", std::to_string(kRuns));
    SimulatedUnit unit(session.programFolder(), {"time_scale=0.1"});
    Window w = launchAndWaitForStartup(session, kOperationTimeout);

    w.setText(IDC_IMAGE_FILE, windowsPath(Paths::repository() / "dist" / "samples" / kSample));
    if (w.click(IDC_LOAD_IMAGES, kOperationTimeout) != Outcome::Done ||
        unit.state("image." + unit.state("image.selected") + ".state") != "complete") {
        std::fprintf(stderr, "series_overhead_bench: the sample did not load: %s\n",
                     w.text(IDC_STATUS_LINE).c_str());
        return 1;
    }
    const std::size_t before = unit.events().size();
    w.click(IDC_START);
    const std::string ended = kSeriesEnded;
    if (eventually([&] { return w.text(IDC_STATUS_LINE); }, ended, kSeriesTimeout) != ended) {
        std::fprintf(stderr, "series_overhead_bench: the series did not end: %s\n",
                     w.text(IDC_STATUS_LINE).c_str());
        return 1;
    }
    const auto all = unit.events();
    std::vector<double> gaps = gapsBetweenRuns(
        std::vector<UnitEvent>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()));
    if (gaps.size() != static_cast<std::size_t>(kRuns - 1)) {
        std::fprintf(stderr, "series_overhead_bench: %zu gaps between %d runs in the unit's log\n",
                     gaps.size(), kRuns);
        return 1;
    }
    std::sort(gaps.begin(), gaps.end());
    std::printf("BENCH series_overhead_ms %.1f ms\n", gaps[gaps.size() / 2]);
    std::printf("BENCH series_overhead_max_ms %.1f ms\n", gaps.back());
    return 0;
}

} // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "series_overhead_bench: %s\n", e.what());
        return 1;
    }
}

// Start-up time of OCTO816.EXE under Wine: from launching it to the status line's last
// start-up message, the simulated unit on COM1 connected, against two baselines launched to their
// window being visible: a minimal dialog program (one static text), and a program with no logic
// that shows the main window's own template and resources (what Wine needs to build those
// controls). All in one e2e session (same display, same prefix with a running server), the
// programs taking turns so that all see the same load. Prints
//   BENCH startup_vs_minimal_dialog <best program / best minimal> x (median ratio too)
//   BENCH startup_vs_bare_window <best program / best bare window> x (median ratio too)
//   BENCH startup_to_connected_ms <best> ms (median too)
//   BENCH startup_window_visible_median_ms <median> ms (the program's window shown)
//   BENCH minimal_dialog_visible_ms <best> ms (median too)
//   BENCH bare_window_visible_ms <best> ms (median too)
// Goals: at most 1.3 against the minimal dialog, at most 1.15 against the bare window.
// BENCH_RUNS sets the runs of each (default 7).
#include "SimulatedUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace octo::e2e;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 7;
constexpr char kMinimalExe[] = "minimal_dialog.exe";
constexpr char kMinimalTitle[] = "Minimal Dialog";
// Shows the main window's template, so its title is the program's.
constexpr char kBareExe[] = "bare_window.exe";
constexpr Millis kConnectTimeout{30000};
// The status line is read this often while the program starts.
constexpr Millis kStatusPoll{2};

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Launch to the status line reporting the unit, with a fresh configuration file and unit.
// The line says "connected" already when the port opens; only the firmware check's and the
// start-up's last message is the whole text.
struct ProgramTimes {
    double visible = 0;   // its window shown
    double connected = 0; // the status line's last start-up message
};

ProgramTimes programRun(Session& session) {
    session.stopProgram();
    session.installProgram();
    SimulatedUnit unit(session.programFolder());
    const auto start = Clock::now();
    Window window = session.launch();
    ProgramTimes times;
    times.visible = millisSince(start);
    if (!waitUntil(
            kConnectTimeout, [&] { return window.text(IDC_STATUS_LINE) == kConnectedText; },
            kStatusPoll))
        throw E2eError("the status line never said connected: " + window.text(IDC_STATUS_LINE));
    times.connected = millisSince(start);
    session.stopProgram();
    return times;
}

// Launch of a baseline program to its window being visible.
double baselineRun(Session& session, const std::string& exe, const std::string& title) {
    session.stopProgram();
    const auto start = Clock::now();
    session.launch(exe, title);
    const double took = millisSince(start);
    session.stopProgram();
    return took;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace

int main() {
    const char* runsText = std::getenv("BENCH_RUNS");
    const int runs = runsText ? std::max(1, std::atoi(runsText)) : kDefaultRuns;
    try {
        Session session;
        session.installFromBuild(kMinimalExe);
        session.installFromBuild(kBareExe);
        // One run of each first, not counted: the first start reads Wine's libraries from disk.
        programRun(session);
        baselineRun(session, kMinimalExe, kMinimalTitle);
        baselineRun(session, kBareExe, kMainTitle);
        std::vector<double> program, visible, minimal, bare;
        for (int i = 0; i < runs; ++i) {
            const ProgramTimes times = programRun(session);
            program.push_back(times.connected);
            visible.push_back(times.visible);
            minimal.push_back(baselineRun(session, kMinimalExe, kMinimalTitle));
            bare.push_back(baselineRun(session, kBareExe, kMainTitle));
        }
        const double bestProgram = *std::min_element(program.begin(), program.end());
        const double bestMinimal = *std::min_element(minimal.begin(), minimal.end());
        const double bestBare = *std::min_element(bare.begin(), bare.end());
        std::printf("BENCH startup_vs_minimal_dialog %.2f x\n", bestProgram / bestMinimal);
        std::printf("BENCH startup_vs_minimal_dialog_median %.2f x\n",
                    median(program) / median(minimal));
        std::printf("BENCH startup_vs_bare_window %.2f x\n", bestProgram / bestBare);
        std::printf("BENCH startup_vs_bare_window_median %.2f x\n", median(program) / median(bare));
        std::printf("BENCH startup_to_connected_ms %.0f ms\n", bestProgram);
        std::printf("BENCH startup_to_connected_median_ms %.0f ms\n", median(program));
        // Where the program's time goes: to its window shown (the bare window's work, the
        // library loaded), and from there to connected (the start-up command).
        std::printf("BENCH startup_window_visible_median_ms %.0f ms\n", median(visible));
        std::printf("BENCH minimal_dialog_visible_ms %.0f ms\n", bestMinimal);
        std::printf("BENCH minimal_dialog_visible_median_ms %.0f ms\n", median(minimal));
        std::printf("BENCH bare_window_visible_ms %.0f ms\n", bestBare);
        std::printf("BENCH bare_window_visible_median_ms %.0f ms\n", median(bare));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "startup bench: %s\n", e.what());
        return 1;
    }
    return 0;
}

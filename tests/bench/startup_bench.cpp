// Start-up time of OCTO816.EXE under Wine: from launching it to the status line saying the
// simulated unit on COM1 is connected, against launching a minimal dialog program to its
// window being visible. Both in one e2e session (same display, same prefix with a running
// server), the two programs taking turns so that both see the same load. Prints
//   BENCH startup_vs_minimal_dialog <best program / best minimal> x
//   BENCH startup_to_connected_ms <best> ms (median too)
//   BENCH minimal_dialog_visible_ms <best> ms (median too)
// Goal: the ratio at most 1.3. BENCH_RUNS sets the runs of each (default 7).
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
constexpr char kConnected[] = "connected";
constexpr Millis kConnectTimeout{30000};
// The status line is read this often while the program starts.
constexpr Millis kStatusPoll{2};

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Launch to the status line reporting the unit, with a fresh configuration file and unit.
double programRun(Session& session) {
    session.stopProgram();
    session.installProgram();
    SimulatedUnit unit(session.programFolder());
    const auto start = Clock::now();
    Window window = session.launch();
    if (!waitUntil(
            kConnectTimeout,
            [&] { return window.text(IDC_STATUS_LINE).find(kConnected) != std::string::npos; },
            kStatusPoll))
        throw E2eError("the status line never said connected: " + window.text(IDC_STATUS_LINE));
    const double took = millisSince(start);
    session.stopProgram();
    return took;
}

double minimalRun(Session& session) {
    session.stopProgram();
    const auto start = Clock::now();
    session.launch(kMinimalExe, kMinimalTitle);
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
        // One run of each first, not counted: the first start reads Wine's libraries from disk.
        programRun(session);
        minimalRun(session);
        std::vector<double> program, minimal;
        for (int i = 0; i < runs; ++i) {
            program.push_back(programRun(session));
            minimal.push_back(minimalRun(session));
        }
        const double bestProgram = *std::min_element(program.begin(), program.end());
        const double bestMinimal = *std::min_element(minimal.begin(), minimal.end());
        std::printf("BENCH startup_vs_minimal_dialog %.2f x\n", bestProgram / bestMinimal);
        std::printf("BENCH startup_to_connected_ms %.0f ms\n", bestProgram);
        std::printf("BENCH startup_to_connected_median_ms %.0f ms\n", median(program));
        std::printf("BENCH minimal_dialog_visible_ms %.0f ms\n", bestMinimal);
        std::printf("BENCH minimal_dialog_visible_median_ms %.0f ms\n", median(minimal));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "startup bench: %s\n", e.what());
        return 1;
    }
    return 0;
}

#include "Progress.h"

#include "Escape.h"

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace octo::cli {

namespace {

constexpr auto kDrawPeriod = std::chrono::milliseconds(100);
constexpr int kBarCells = 30;
// The bar stops short of full until the work has really ended.
constexpr double kMostBeforeEnd = 0.99;
constexpr double kPercent = 100;
constexpr double kMsPerSecond = 1000;
// What follows the label: the bar's brackets, the percentage and the seconds.
constexpr int kFigureChars = 24;

} // namespace

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

Progress::Progress() : enabled_(isTerminal(stderr)) {}

Progress::~Progress() {
    finish();
}

void Progress::start(const std::string& label, uint32_t expectedMs) {
    finish();
    if (!enabled_) {
        return;
    }
    label_ = printable(label);
    expectedMs_ = std::max<uint32_t>(expectedMs, 1);
    started_ = std::chrono::steady_clock::now();
    ticker_ = std::make_unique<Ticker>([this] { draw(); }, kDrawPeriod);
}

void Progress::finish() {
    if (!ticker_) {
        return;
    }
    ticker_.reset();
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarCells + kFigureChars, "");
    std::fflush(stderr);
}

void Progress::draw() const {
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_)
            .count();
    const double done = std::min(elapsedMs / expectedMs_, kMostBeforeEnd);
    std::string bar(static_cast<size_t>(done * kBarCells), '#');
    bar.resize(kBarCells, '.');
    std::fprintf(stderr, "\r%s [%s] %3.0f %% %6.1f s", label_.c_str(), bar.c_str(), done * kPercent,
                 elapsedMs / kMsPerSecond);
    std::fflush(stderr);
}

} // namespace octo::cli

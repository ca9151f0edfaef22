// Traceability logs of a simulated production line, each run's lines made by the log's own
// writer: one unit of eight sockets, each chip failing the verify at a base rate (per socket
// when the sockets differ), trays that are not always full, sockets not in use, a bad batch
// of chips, power cycles and worn sockets. Worn contacts mostly leave no chip found, some a
// failed verify. Fixed seeds, so the same model always gives the same log; a log can be read
// as it is made (LineStream), so that a long one takes no memory.
#pragma once

#include "run/programming.h"
#include "trace/trace_log.h"
#include "wire/messages.h"
#include "yield/YieldLog.h"

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <limits>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

namespace octo::testing {

// What the station's tray held in a run: the sockets named in use (bit n: socket n + 1), and
// those of them without a chip (a tray not full).
struct Tray {
    uint8_t inUse = run::kAllSockets;
    uint8_t empty = 0;
};

// A socket whose contacts wear: from run `from` (0-based) to run `to` (not included) its chips
// fail at `rate` in all.
struct Wear {
    int socket = 0; // 1..8
    int from = 0;
    int to = std::numeric_limits<int>::max();
    double rate = 0.10;
};

struct LineModel {
    std::string station = "line1";
    int runs = 0;
    double baseRate = 0.01;
    int wornSocket = 0; // 1..8, 0 for none
    int wornFrom = 0;   // the run (0-based) from which it is worn
    double wornRate = 0.10;
    uint32_t seed = 1;
    int64_t start = 1796688000; // 2026-12-08T00:00:00Z
    int secondsPerRun = 30;
    // The unit's serial number; empty: none logged (the station stands for the unit) and no
    // run numbers either.
    std::string unit{};
    // The unit's run count restarts after this many runs (it is switched off and on); 0: never.
    int runsPerPowerCycle = 0;
    // Per socket base rates where the sockets differ; a 0 takes baseRate.
    std::array<double, trace::kTargets> socketRates{};
    std::function<Tray(int run)> tray{}; // none: all eight in use and full
    // A bad batch of chips in runs [badFrom, badTo): every socket's chips fail at badRate.
    int badFrom = 0;
    int badTo = 0;
    double badRate = 0.10;
    std::vector<Wear> wear{}; // besides wornSocket
    // Cut to the header before `asked` and `found`, as a log begun by an older program.
    bool oldHeader = false;
};

inline constexpr size_t kYieldBlockBytes = 256;
// Of a worn socket's failures, the share where the contacts leave no chip found; the rest
// fail the verify.
inline constexpr double kWornNotFound = 0.8;

// The header of the log before `asked` and `found` (unit, run and serial).
inline std::string olderHeaderLine() {
    std::string header = trace::headerLine();
    header.resize(header.rfind(",asked"));
    return header;
}

// Writes the model's log, the header first and then run by run.
class LineWriter {
public:
    explicit LineWriter(const LineModel& model)
        : m_(model), random_(model.seed),
          header_((model.oldHeader ? olderHeaderLine() : trace::headerLine()) + "\n") {
        if (m_.wornSocket != 0) {
            m_.wear.push_back({.socket = m_.wornSocket, .from = m_.wornFrom, .rate = m_.wornRate});
        }
    }

    // Appends the header or the next run's lines; false once every run is written.
    bool next(std::string& out) {
        if (!headerWritten_) {
            headerWritten_ = true;
            out += header_;
            return true;
        }
        if (run_ >= m_.runs) {
            return false;
        }
        for (const std::string& line : lines(run_++)) {
            out += line;
        }
        return true;
    }

private:
    double chance() { return std::uniform_real_distribution<double>(0, 1)(random_); }

    std::vector<std::string> lines(int r) {
        const Tray tray = m_.tray ? m_.tray(r) : Tray{};
        std::vector<uint8_t> block(kYieldBlockBytes, 0);
        for (int s = 0; s < trace::kTargets; ++s) {
            const auto bit = static_cast<uint8_t>(1U << s);
            if ((tray.inUse & bit) == 0 || (tray.empty & bit) != 0) {
                continue; // no chip: no bits
            }
            const double own = m_.socketRates[static_cast<size_t>(s)];
            double rate = own > 0 ? own : m_.baseRate;
            if (r >= m_.badFrom && r < m_.badTo) {
                rate = m_.badRate;
            }
            bool verified = chance() >= rate;
            bool found = true;
            for (const Wear& w : m_.wear) {
                // The contacts fail besides the chip, so that the socket fails at w.rate in all.
                if (w.socket == s + 1 && r >= w.from && r < w.to &&
                    chance() < (w.rate - rate) / (1 - rate)) {
                    verified = false;
                    found = chance() >= kWornNotFound;
                }
            }
            if (!found) {
                continue;
            }
            block[wire::kConnectedByte] |= bit;
            block[wire::kEraseCheckedByte] |= bit;
            block[wire::kVerifiedByte] |= verified ? bit : 0;
            block[wire::kOverAllByte] |= verified ? bit : 0;
        }
        const int cycle = m_.runsPerPowerCycle > 0 ? m_.runsPerPowerCycle : m_.runs;
        record_.time = yield::timeText(m_.start + int64_t{r} * m_.secondsPerRun);
        if (!m_.unit.empty()) {
            record_.run = static_cast<uint32_t>(r % cycle + 1);
        }
        record_.socketsInUse = tray.inUse;
        const std::vector<std::string> lines = trace::runLines(record_, block);
        return m_.oldHeader ? trace::linesForLog(header_, lines) : lines;
    }

    LineModel m_;
    // What every run's lines say alike; the time, run number and sockets in use change.
    trace::RunRecord record_{.time = "",
                             .station = m_.station,
                             .firmwareVersion = "1.56",
                             .hardwareVersion = "1.30",
                             .deviceType = "ZEL816 A110",
                             .imageCrc32 = 0x037874A1,
                             .resultCode = 0,
                             .unit = m_.unit,
                             .run = std::nullopt,
                             .serials = {},
                             .asked = "ecpv",
                             .socketsInUse = run::kAllSockets};
    std::mt19937 random_;
    std::string header_;
    bool headerWritten_ = false;
    int run_ = 0;
};

// The header and the lines of the model's runs, as the log's file holds them.
inline std::string lineLog(const LineModel& model) {
    LineWriter writer(model);
    std::string log;
    while (writer.next(log)) {
    }
    return log;
}

// The model's log as a stream, its lines made as they are read.
class LineStream : public std::istream {
public:
    explicit LineStream(const LineModel& model) : std::istream(&buffer_), buffer_(model) {}

private:
    class Buffer : public std::streambuf {
    public:
        explicit Buffer(const LineModel& model) : writer_(model) {}

    protected:
        int_type underflow() override {
            text_.clear();
            if (!writer_.next(text_)) {
                return traits_type::eof();
            }
            setg(text_.data(), text_.data(), text_.data() + text_.size());
            return traits_type::to_int_type(text_.front());
        }

    private:
        LineWriter writer_;
        std::string text_;
    };
    Buffer buffer_;
};

} // namespace octo::testing

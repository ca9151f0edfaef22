// Traceability logs of a simulated production line, each run's lines made by the log's own
// writer: one unit of eight sockets, each failing the verify at a base rate, one of them
// worn from a run on, its chips then not found at a higher rate. Fixed seeds, so the same
// model always gives the same log.
#pragma once

#include "trace/trace_log.h"
#include "wire/messages.h"
#include "yield/YieldLog.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace octo::testing {

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
};

inline constexpr size_t kYieldBlockBytes = 256;

// The header and the lines of the model's runs, as the log's file holds them.
inline std::string lineLog(const LineModel& m) {
    std::mt19937 random(m.seed);
    std::bernoulli_distribution base(m.baseRate);
    std::bernoulli_distribution worn(m.wornRate);
    std::string log = trace::headerLine() + "\n";
    for (int r = 0; r < m.runs; ++r) {
        std::vector<uint8_t> block(kYieldBlockBytes, 0);
        for (int s = 0; s < trace::kTargets; ++s) {
            const auto bit = static_cast<uint8_t>(1U << s);
            if (s + 1 == m.wornSocket && r >= m.wornFrom && worn(random)) {
                continue; // the contacts fail: no chip found
            }
            const bool verified = !base(random);
            block[wire::kConnectedByte] |= bit;
            block[wire::kEraseCheckedByte] |= bit;
            block[wire::kVerifiedByte] |= verified ? bit : 0;
            block[wire::kOverAllByte] |= verified ? bit : 0;
        }
        const trace::RunRecord run{.time = yield::timeText(m.start + int64_t{r} * m.secondsPerRun),
                                   .station = m.station,
                                   .firmwareVersion = "1.56",
                                   .hardwareVersion = "1.30",
                                   .deviceType = "ZEL816 A110",
                                   .imageCrc32 = 0x037874A1,
                                   .resultCode = 0,
                                   .unit = "",
                                   .run = std::nullopt,
                                   .serials = {},
                                   .asked = "ecpv",
                                   .socketsInUse = 0xFF};
        for (const std::string& line : trace::runLines(run, block)) {
            log += line;
        }
    }
    return log;
}

} // namespace octo::testing

// What octo816 adds to a production run: `octo816 program` of the whole 60 KiB main memory
// of ZEL816 A449 on 8 targets (erase and erase check of information and main memory,
// program, verify, 3.0 V, 0.1 s settling) against the simulator at time scale 1, pacing
// bytes at 115200 baud. The unit's modelled time of the run is its busy time (image erase
// and main process, unit.work_ms) plus the line time of the image's bytes (10 bits a
// byte), the least any program needs to hand the image over. Prints
//   BENCH cli_program_overhead_pct <(wall - modelled) / modelled x 100, mean of the runs> %
//   BENCH cli_program_s <wall time of one run> s
//   usage: octo_cli_program_bench [--quick]
#include "QuietTool.h"
#include "SimulatedUnit.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBaud = 115200;
constexpr double kLineBitsPerByte = 10;
constexpr double kMsPerSecond = 1000;
constexpr double kPercent = 100;

double stateMs(const octo::testing::SimulatedUnit& unit, const char* key) {
    return std::strtod(unit.state(key).c_str(), nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 && std::string(argv[1]) == "--quick" ? 1 : 3;
    const auto image = octo::testing::samplePath("A449_full.txt");
    const double imageBytes = static_cast<double>(octo::testing::imageOfFile(image).byteCount());
    const double lineMs = imageBytes * kLineBitsPerByte * kMsPerSecond / kBaud;
    double overheadSum = 0;
    double wallSum = 0;
    for (int run = 0; run < runs; ++run) {
        octo::testing::SimulatedUnit unit({"pace=yes", "time_scale=1"});
        const auto started = Clock::now();
        const int status =
            octo::testing::runQuietTool({"program", "--port", unit.link(), "--type", "ZEL816 A449",
                                         "--vcc", "3.0", "--settle", "0.1", image.string()});
        const double wallMs =
            std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        const double busyMs = stateMs(unit, "unit.work_ms");
        if (status != 0 || busyMs <= 0) {
            std::fprintf(stderr, "bench: run %d failed: status %d, busy %.0f ms\n", run, status,
                         busyMs);
            return 1;
        }
        const double modelledMs = busyMs + lineMs;
        overheadSum += (wallMs - modelledMs) / modelledMs * kPercent;
        wallSum += wallMs;
    }
    std::printf("BENCH cli_program_overhead_pct %.2f %%\n", overheadSum / runs);
    std::printf("BENCH cli_program_s %.2f s\n", wallSum / runs / kMsPerSecond);
    return 0;
}

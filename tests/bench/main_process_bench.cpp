// What the library adds to the unit's own work in a main process: 8 targets of a 60 KiB
// type (ZEL816 A449), the simulator at time scale 1 and pacing bytes at 115200 baud. Each
// run is OctoLoadParameters + OctoMainProcess + OctoGetResult as the program makes it;
// the unit's busy time is what the simulator measured from the request to its answer.
// Prints
//   BENCH main_process_overhead_pct <(wall - busy) / busy x 100, mean of the runs> %
//   BENCH main_process_s <wall time of one run> s
//   usage: octo_main_process_bench [--quick]
#include "SimulatedUnit.h"

#include <octo816.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kType = "ZEL816 A449";
// The A449's whole main memory.
constexpr uint32_t kFlashStart = 0x1100;
constexpr uint32_t kFlashBytes = 0x10000 - kFlashStart;
// Erase and erase-check information and main memory, program, verify.
constexpr uint32_t kOptions = 0x1 | 0x2 | 0x100 | 0x200 | 0x98 | 0x20;
constexpr uint32_t kTargetVcc = 30 | 0x80;
constexpr uint32_t kSettleMs = 100;
constexpr uint32_t kTimeoutTenths = 600;

void writeImage(const fs::path& path) {
    std::mt19937 random(449);
    std::ofstream out(path, std::ios::binary);
    char line[16];
    std::snprintf(line, sizeof line, "@%X\n", kFlashStart);
    out << line;
    for (uint32_t i = 0; i < kFlashBytes; ++i) {
        std::snprintf(line, sizeof line, "%02X%c", static_cast<unsigned>(random() & 0xFF),
                      i % 16 == 15 || i + 1 == kFlashBytes ? '\n' : ' ');
        out << line;
    }
    out << "q\n";
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 && std::string(argv[1]) == "--quick" ? 1 : 3;
    octo::testing::SimulatedUnit unit({"pace=yes", "time_scale=1"});
    const fs::path image = unit.folder() / "a449.txt";
    writeImage(image);
    const std::string link = unit.link();

    int status = 0;
    double overheadSum = 0;
    double wallSum = 0;
    if (InitCom(link.c_str(), 115200) != 0 || OctoEraseImage() != 0 ||
        OctoLoadImage(image.c_str(), kType) != 0) {
        std::fprintf(stderr, "bench: cannot load the image into the unit\n");
        status = 1;
    }
    for (int run = 0; run < runs && status == 0; ++run) {
        uint8_t block[OCTO_RESULT_BLOCK_BYTES] = {};
        const auto started = Clock::now();
        const int32_t sent = OctoLoadParameters(kOptions, kTargetVcc, kSettleMs);
        const int32_t ran = sent == 0 ? OctoMainProcess(kTimeoutTenths) : sent;
        const int32_t read = ran == 0 ? OctoGetResult(block) : ran;
        const double wallMs =
            std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        if (read != 0 || block[4] != 0xFF) {
            std::fprintf(stderr, "bench: run %d failed: code %d, over-all 0x%02X\n", run, read,
                         block[4]);
            status = 1;
            break;
        }
        const double busyMs =
            std::strtod(unit.state("unit.last_work_ms").c_str(), nullptr);
        if (busyMs <= 0) {
            std::fprintf(stderr, "bench: the unit reported no busy time\n");
            status = 1;
            break;
        }
        overheadSum += (wallMs - busyMs) / busyMs * 100.0;
        wallSum += wallMs;
    }
    if (status == 0) {
        std::printf("BENCH main_process_overhead_pct %.3f %%\n", overheadSum / runs);
        std::printf("BENCH main_process_s %.2f s\n", wallSum / runs / 1000.0);
    }
    ReleaseCom();
    return status;
}

// Download efficiency: OctoLoadImage of a 60 KiB and a 992 KiB image (the largest type's
// whole flash) against a simulated unit that paces bytes at the line rate, compared with
// the physical limit (image bytes x 10 bits / rate). Prints
//   BENCH download_efficiency_<rate>_<size> <limit / measured>
//   BENCH roundtrip_ms <ms> ms
//   usage: octo_download_bench [--quick]
#include "SimulatedUnit.h"

#include <octo816.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kType = "ZEL816 A6779";

struct Piece {
    uint32_t address;
    uint32_t length;
};

// Writes random bytes at the pieces as QX-Text; returns the byte count.
uint64_t writeImage(const fs::path& path, const std::vector<Piece>& pieces) {
    std::mt19937 random(816);
    std::ofstream out(path, std::ios::binary);
    uint64_t total = 0;
    for (const auto& piece : pieces) {
        char line[16];
        std::snprintf(line, sizeof line, "@%X\n", piece.address);
        out << line;
        for (uint32_t i = 0; i < piece.length; ++i) {
            std::snprintf(line, sizeof line, "%02X%c", static_cast<unsigned>(random() & 0xFF),
                          i % 16 == 15 || i + 1 == piece.length ? '\n' : ' ');
            out << line;
        }
        total += piece.length;
    }
    out << "q\n";
    return total;
}

int32_t openAt(const std::string& link, uint32_t rate, uint32_t index) {
    if (InitCom(link.c_str(), 115200) != 0) {
        return -1;
    }
    if (rate == 115200) {
        return 0;
    }
    const int32_t switched = OctoSelectBaudrate(index);
    if (switched != 0 && switched != 1 && switched != 6) {
        return switched;
    }
    return InitCom(link.c_str(), rate);
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    octo::testing::SimulatedUnit unit({"pace=yes"});
    const fs::path folder = unit.folder();
    const std::string link = unit.link();

    const fs::path small = folder / "image60k.txt";
    const fs::path large = folder / "image992k.txt";
    const uint64_t smallBytes = writeImage(small, {{0x10000, 60 * 1024}});
    const uint64_t largeBytes =
        quick ? 0 : writeImage(large, {{0x8000, 0x8000}, {0x10000, 0x100000 - 0x10000}});

    struct Case {
        const char* name;
        uint32_t rate;
        uint32_t index;
        fs::path file;
        uint64_t bytes;
    };
    std::vector<Case> cases = {{"115200_60k", 115200, 4, small, smallBytes}};
    if (!quick) {
        cases.push_back({"115200_1m", 115200, 4, large, largeBytes});
        cases.push_back({"9600_60k", 9600, 0, small, smallBytes});
    }
    int status = 0;
    for (const auto& c : cases) {
        if (openAt(link, c.rate, c.index) != 0 || OctoEraseImage() != 0) {
            std::fprintf(stderr, "bench: cannot reach the unit at %u baud\n", c.rate);
            status = 1;
            break;
        }
        const auto started = Clock::now();
        const int32_t code = OctoLoadImage(c.file.c_str(), kType);
        const double measured = std::chrono::duration<double>(Clock::now() - started).count();
        if (code != 0) {
            std::fprintf(stderr, "bench: load %s failed with %d\n", c.name, code);
            status = 1;
            continue;
        }
        const double limit = static_cast<double>(c.bytes) * 10.0 / c.rate;
        std::printf("BENCH download_efficiency_%s %.3f\n", c.name, limit / measured);
        std::fflush(stdout);
        if (c.rate != 115200) {
            OctoSelectBaudrate(4);
        }
    }

    if (openAt(link, 115200, 4) == 0) {
        constexpr int kRounds = 200;
        const auto started = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            OctoSelectImage(0);
        }
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - started).count() / kRounds;
        std::printf("BENCH roundtrip_ms %.2f ms\n", ms);
    }
    ReleaseCom();
    return status;
}

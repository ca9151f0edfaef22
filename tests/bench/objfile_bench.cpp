// Throughput of the object-file readers and writers on a 1 MiB image, in memory, printed
// as "BENCH <name> <value> <unit>" lines for scripts/bench.
#include "objfile/crc32.h"
#include "objfile/load.h"
#include "objfile/writers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace {

using namespace octo::objfile;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kImageBytes = 1u << 20;
constexpr int kRounds = 7;
constexpr double kMiB = 1024.0 * 1024.0;

// Best time of several rounds, in seconds.
double bestSeconds(const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void report(const char* name, double seconds) {
    std::printf("BENCH %s %.1f MiB/s\n", name, kImageBytes / kMiB / seconds);
}

} // namespace

int main() {
    std::mt19937 random(816);
    std::vector<uint8_t> bytes(kImageBytes);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<uint8_t>(random()); });
    Image image;
    image.insert(0, bytes);

    std::string hex;
    std::string qx;
    report("objfile_write_intel_hex", bestSeconds([&] { hex = writeIntelHex(image); }));
    report("objfile_write_qx_text", bestSeconds([&] { qx = writeQxText(image); }));
    bool ok = true;
    report("objfile_read_intel_hex", bestSeconds([&] {
               Image back;
               ok = readImage(hex, Format::IntelHex, back).ok() && back == image && ok;
           }));
    report("objfile_read_qx_text", bestSeconds([&] {
               Image back;
               ok = readImage(qx, Format::QxText, back).ok() && back == image && ok;
           }));
    report("objfile_crc32", bestSeconds([&] { ok = imageCrc32(image) != 0 && ok; }));
    if (!ok) {
        std::fputs("objfile_bench: a read gave another image\n", stderr);
        return 1;
    }
    return 0;
}

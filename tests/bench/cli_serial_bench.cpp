// What serial records add to one run of `octo816 program` against the simulated unit: the
// same run of ZEL816 A110 on 8 targets with and without a ledger (synchronous, in the
// current folder, so on the disk the station would use), taking turns; each with-ledger
// run opens the ledger, reserves 8 records on the disk, hands them to the library and
// settles them. Then, while one command runs a series of 60 such runs on the ledger, how long
// a listing of the ledger (`octo816 serials`) takes. Prints
//   BENCH serial_overhead_ms <median of (with - without)> ms
//   BENCH serial_listing_during_series_ms <median of the listings> ms
//   usage: octo_cli_serial_bench [pairs]
#include "QuietTool.h"
#include "SimulatedUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultPairs = 15;

// The wall time of octo816 with its output discarded; negative when it failed.
double runMs(const std::vector<std::string>& args) {
    const auto started = Clock::now();
    const int status = octo::testing::runQuietTool(args);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    return status == 0 ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::stoi(argv[1]) : kDefaultPairs;
    const std::filesystem::path ledger = std::filesystem::current_path() / "serial_bench.ledger";
    std::filesystem::remove(ledger);
    octo::testing::SimulatedUnit unit({"target.all.type=ZEL816 A110"});
    const std::vector<std::string> plain = {
        "program",     "--port", unit.link(), "--type",
        "ZEL816 A110", "--vcc",  "3.0",       octo::testing::samplePath("A110_blink.txt").string()};
    std::vector<std::string> serial = plain;
    serial.insert(serial.end(),
                  {"--ledger", ledger.string(), "--serial-address", "0x1000", "--serial-start", "1",
                   "--serial-end", "100000000", "--serial-format", "le32"});
    std::vector<double> added;
    for (int i = 0; i < pairs; ++i) {
        const double without = runMs(plain);
        const double with = runMs(serial);
        if (without < 0 || with < 0) {
            std::fprintf(stderr, "bench: pair %d failed\n", i);
            return 1;
        }
        added.push_back(with - without);
    }
    std::sort(added.begin(), added.end());
    std::printf("BENCH serial_overhead_ms %.1f ms\n", added[added.size() / 2]);

    std::vector<std::string> series = serial;
    series.insert(series.end(), {"--repeat", "60"});
    const pid_t holder = octo::testing::startQuietTool(series);
    std::vector<double> listings;
    int status = 0;
    while (waitpid(holder, &status, WNOHANG) == 0) {
        const double ms = runMs({"serials", "--ledger", ledger.string()});
        if (ms < 0) {
            std::fprintf(stderr, "bench: a listing during the series failed\n");
            waitpid(holder, &status, 0);
            return 1;
        }
        listings.push_back(ms);
    }
    if (listings.empty()) {
        std::fprintf(stderr, "bench: the series ended before a listing\n");
        return 1;
    }
    std::sort(listings.begin(), listings.end());
    std::printf("BENCH serial_listing_during_series_ms %.1f ms\n", listings[listings.size() / 2]);
    std::filesystem::remove(ledger);
    return 0;
}

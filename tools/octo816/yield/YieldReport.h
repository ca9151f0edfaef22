// The yield report: one streaming pass over traceability logs into counts per unit, socket,
// stage, product and time, then the socket alarms. The page and the JSON are written from the
// finished Report (YieldOutput.h).
#pragma once

#include "YieldLog.h"
#include "YieldStats.h"

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace octo::yield {

// The longest line a log may hold; a longer one is malformed.
inline constexpr size_t kMaxLineBytes = 4096;
// The malformed lines a report lists one by one; the rest are counted.
inline constexpr size_t kListedMalformed = 100;
// Yield over time per hour when the runs span at least this many hours, else per kRunsPerBucket.
inline constexpr int64_t kHourlyFromHours = 4;
inline constexpr uint64_t kRunsPerBucket = 100;
// More buckets than this are merged, neighbours together, so that the chart stays readable.
inline constexpr size_t kMostBuckets = 200;

struct SocketCounts {
    uint64_t chips = 0;
    std::array<uint64_t, kStages> stages{}; // by Stage; stages[Passed] is the chips passed
    uint64_t passed() const { return stages[static_cast<size_t>(Stage::Passed)]; }
    uint64_t at(Stage stage) const { return stages[static_cast<size_t>(stage)]; }
};

struct Alarm {
    int socket = 0; // 1..8
    int64_t since = 0;
    size_t sinceRun = 0; // the index of that run among the unit's runs
    double failureRate = 0;
    double othersRate = 0;
    double pValue = 1;
};

struct UnitReport {
    std::string unit;
    uint64_t runs = 0;
    std::array<SocketCounts, kSockets> sockets{};
    std::vector<Alarm> alarms;
};

// The chips of one device type and image.
struct ProductCounts {
    std::string deviceType;
    std::string imageCrc32;
    uint64_t runs = 0;
    uint64_t chips = 0;
    uint64_t passed = 0;
};

struct Bucket {
    std::string label; // the hour's start, or the first run's number
    uint64_t chips = 0;
    uint64_t passed = 0;
};

struct Malformed {
    std::string file;
    uint64_t line = 0;
    std::string reason;
};

struct Report {
    uint64_t runs = 0;
    uint64_t chips = 0;
    uint64_t passed = 0;
    std::vector<UnitReport> units;
    std::vector<ProductCounts> products;
    bool hourly = false;
    std::vector<Bucket> buckets;
    uint64_t malformedCount = 0;
    std::vector<Malformed> malformed; // the first kListedMalformed
    std::optional<int64_t> since;

    double firstPassYield() const;
};

// Collects the lines of any number of logs, then makes the report.
class Aggregator {
public:
    explicit Aggregator(std::optional<int64_t> since = std::nullopt) : since_(since) {}

    // Reads a log line by line: its header, then each line added or counted as malformed
    // under name and its line number.
    void read(std::istream& in, const std::string& name);
    // A line of a log; false when its run has a line for its socket already.
    bool add(const LogLine& line);
    void malformed(const std::string& file, uint64_t line, std::string reason);

    Report finish();

private:
    struct RunKey {
        int64_t time = 0;
        uint64_t run = 0;
        bool operator==(const RunKey&) const = default;
    };
    struct RunKeyHash {
        size_t operator()(const RunKey& k) const;
    };
    struct Run {
        RunKey key;
        uint32_t product = 0;
        uint8_t present = 0; // bit s - 1: socket s has a line
        std::array<Stage, kSockets> stages{};
    };
    struct Unit {
        std::string name;
        std::unordered_map<RunKey, uint32_t, RunKeyHash> index;
        std::vector<Run> runs;
    };

    Unit& unitNamed(std::string_view name);
    uint32_t productOf(const LogLine& line);
    UnitReport unitReport(Unit& unit, Report& report);
    void timeBuckets(Report& report) const;

    std::optional<int64_t> since_;
    std::unordered_map<std::string, size_t> unitIndex_;
    std::vector<Unit> units_;
    std::unordered_map<std::string, uint32_t> productIndex_;
    std::vector<ProductCounts> products_;
    uint64_t malformedCount_ = 0;
    std::vector<Malformed> malformed_;
};

} // namespace octo::yield

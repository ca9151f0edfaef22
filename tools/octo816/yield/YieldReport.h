// The yield report: one streaming pass over traceability logs into the runs of each unit, then
// per unit in time order which sockets were in use, the counts per socket, stage, product and
// time, the charts' points and the socket alarms. The page and the JSON are written from the
// finished Report (YieldOutput.h).
#pragma once

#include "YieldLog.h"
#include "YieldStats.h"

#include <array>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
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
// What one line can add to the report is bounded (names by kMaxNameBytes too), so that the
// page and the memory grow with the runs, not with the names a log holds. The units with a
// panel of their own: the first this many found; the runs of the others are summed in one.
inline constexpr size_t kMostUnits = 200;
// The device types and images with a row of their own; the others are summed in one row.
inline constexpr size_t kMostProducts = 100;
// The chips listed under the records carried by two passed chips; the rest are counted.
inline constexpr size_t kListedSerialChips = 1000;
// A socket without a chip in this many runs of its unit in a row, or more, was not in use in
// them: a dead or unused socket is no failing chip.
inline constexpr uint64_t kEmptyStretch = 3;
// The stretches listed per unit and socket, the latest; the others are counted.
inline constexpr size_t kListedStretches = 5;
// A socket's chart has at most this many points, neighbours merged.
inline constexpr size_t kChartPoints = 60;
// The maintenance lines a report takes; past them a line is malformed.
inline constexpr size_t kMostMaintenanceLines = 10000;

struct SocketCounts {
    uint64_t chips = 0;
    std::array<uint64_t, kStages> stages{}; // by Stage; stages[Passed] is the chips passed
    uint64_t passed() const { return stages[static_cast<size_t>(Stage::Passed)]; }
    uint64_t at(Stage stage) const { return stages[static_cast<size_t>(stage)]; }
};

struct Alarm {
    int socket = 0; // 1..8
    int64_t since = 0;
    size_t sinceRun = 0; // the index of that run among the unit's runs (in time order)
    std::optional<uint64_t> sinceRunNumber; // the unit's own number of that run, when logged
    double failureRate = 0;
    double othersRate = 0;
    double ratio = 0; // failureRate / othersRate (infinity when the others never failed)
    double pValue = 1;
    std::optional<int64_t> maintenanceSince; // the socket's latest maintenance before its runs
};

// One point of a socket's chart: a stretch of the unit's runs (in time order), with the
// socket's chips and failures and those of the other sockets in use in the same runs.
struct TrendPoint {
    size_t firstRun = 0; // the index of its first run among the unit's runs
    int64_t from = 0;    // that run's time
    uint64_t chips = 0;
    uint64_t failed = 0;
    uint64_t othersChips = 0;
    uint64_t othersFailed = 0;
};

// A line of the maintenance file that applies to a socket of a unit.
struct MaintenanceMark {
    int64_t time = 0;
    size_t beforeRun = 0; // the index of the first of the unit's runs after it
    std::string note;
};

// A socket's chart: its points, and the maintenance done on it. Empty for a socket never in
// use.
struct SocketTrend {
    std::vector<TrendPoint> points;
    std::vector<MaintenanceMark> maintenance;
};

// Runs of a unit in a row in which a socket had no chip (kEmptyStretch or more): counted as
// not in use.
struct EmptyStretch {
    int socket = 0;   // 1..8
    int64_t from = 0; // the first and the last of those runs' times
    int64_t to = 0;
    uint64_t runs = 0;
};

struct UnitReport {
    std::string unit;
    uint64_t runs = 0;
    std::array<SocketCounts, kSockets> sockets{};
    std::array<uint64_t, kSockets> inUse{}; // the runs in which each socket was in use
    std::array<SocketTrend, kSockets> trends;
    std::vector<Alarm> alarms;
    // By socket, each socket's latest kListedStretches in time order; the others counted.
    std::vector<EmptyStretch> emptyStretches;
    uint64_t unlistedStretches = 0;
    // The steps some run asked for (kAsk...), and whether some run does not say.
    uint8_t stepsAsked = 0;
    bool stepsUnsaid = false;

    // Whether some run of the unit could fail at the stage: only at the steps it asked for.
    bool names(Stage stage) const;
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

// A passed chip that carries a record, and where its line is.
struct SerialChip {
    std::string unit;
    std::optional<uint64_t> run;
    int socket = 0;
    int64_t time = 0;
    std::string file;
    uint64_t line = 0;
};

// A record that two or more passed chips carry, with those chips in the order read.
struct SerialOnChips {
    std::string serial; // as the log has it (hexadecimal), in lowercase
    std::vector<SerialChip> chips;
};

struct Report {
    uint64_t runs = 0;
    uint64_t chips = 0;
    uint64_t passed = 0;
    std::vector<UnitReport> units;
    // The units past kMostUnits, summed: their number, and their runs and sockets as one
    // unit's (no alarms: sockets of different units share no rate).
    uint64_t otherUnits = 0;
    UnitReport others;
    std::vector<ProductCounts> products; // the last one sums otherProducts when there are any
    uint64_t otherProducts = 0;
    bool hourly = false;
    std::vector<Bucket> buckets;
    uint64_t malformedCount = 0;
    std::vector<Malformed> malformed; // the first kListedMalformed
    std::optional<int64_t> since;
    // Passed chips with a record, and the records among them that more than one carries,
    // lowest first; chips past kListedSerialChips are counted, not listed.
    uint64_t serialChips = 0;
    std::vector<SerialOnChips> serialsOnTwoChips;
    uint64_t unlistedSerialChips = 0;
    // The runs by the steps they asked for ("ecpv"); "" for logs that do not say.
    std::map<std::string, uint64_t> asked;

    double firstPassYield() const;
};

// Collects the lines of any number of logs, then makes the report.
class Aggregator {
public:
    explicit Aggregator(std::optional<int64_t> since = std::nullopt, AlarmRule rule = {})
        : since_(since), rule_(rule) {}

    // Reads a log line by line: its header, then each line added or counted as malformed
    // under name and its line number.
    void read(std::istream& in, const std::string& name);
    // Reads a maintenance file (time,unit,socket,note) the same way: a socket's history for
    // the alarm starts at its latest maintenance.
    void readMaintenance(std::istream& in, const std::string& name);
    // Where a line stands: the log (its index among those read) and its line number.
    struct Origin {
        uint32_t file = 0;
        uint64_t line = 0;
    };
    // A line of a log; false when its run has a line for its socket already.
    bool add(const LogLine& line, const Origin& origin);
    void malformed(const std::string& file, uint64_t line, std::string reason);

    Report finish();

private:
    struct RunKey {
        int64_t time = 0;
        uint64_t run = 0;
        uint64_t unit = 0; // among the units summed, a hash of the unit's name; else 0
        bool operator==(const RunKey&) const = default;
    };
    struct RunKeyHash {
        size_t operator()(const RunKey& k) const;
    };
    struct Run {
        RunKey key;
        uint32_t product = 0;
        uint8_t lines = 0;     // bit s - 1: socket s has a line
        uint8_t chips = 0;     // ... a line of a chip found
        uint8_t inUse = 0;     // ... socket s was in use (the report's rules, at finish)
        uint8_t asked;         // the steps asked for, kSaysAsked set when the lines say
        bool saysFound = true; // every line has `found`: a socket without a line was not in use
        bool numbered = false; // key.run is the unit's own count
        std::array<Stage, kSockets> stages{};
    };
    static constexpr uint8_t kSaysAsked = 0x80;
    // Looked up by a view of the line's field, without a copy of it.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>()(name);
        }
    };
    struct Maintenance {
        int64_t time = 0;
        uint8_t sockets = 0;
        std::string note;
    };
    struct Unit {
        std::string name;
        std::unordered_map<RunKey, uint32_t, RunKeyHash> index;
        std::vector<Run> runs;
    };

    // The first sighting of a record on a passed chip: as SerialChip, the file by its index.
    struct Sighting {
        std::string unit;
        std::optional<uint64_t> run;
        int64_t time = 0;
        uint64_t line = 0;
        uint32_t file = 0;
        uint8_t socket = 0;
    };

    // The unit of that name, or the units summed (summedAs then names it among them).
    Unit& unitNamed(std::string_view name, uint64_t& summedAs);
    uint32_t productOf(const LogLine& line);
    void noteSerial(const LogLine& line, const Origin& origin);
    SerialChip chipOf(const Sighting& sighting) const;
    template <typename Columns, typename Take>
    void readRecords(std::istream& in, const std::string& name, Take take);
    UnitReport unitReport(Unit& unit, Report& report, bool own);
    static void markInUse(std::vector<Run>& runs, UnitReport* listed);
    static void countSockets(const std::vector<Run>& runs, UnitReport& out, Report& report);
    static void trends(const std::vector<Run>& runs, UnitReport& out);
    void maintenance(const std::vector<Run>& runs, UnitReport& out) const;
    void alarms(const std::vector<Run>& runs, UnitReport& out) const;
    void timeBuckets(Report& report) const;

    std::optional<int64_t> since_;
    AlarmRule rule_;
    // By unit name, in the order of the file.
    std::unordered_map<std::string, std::vector<Maintenance>, NameHash, std::equal_to<>>
        maintenance_;
    size_t maintenanceLines_ = 0;
    std::vector<std::string> files_;
    std::unordered_map<std::string, size_t, NameHash, std::equal_to<>> unitIndex_;
    std::vector<Unit> units_;
    Unit others_;
    std::unordered_set<uint64_t> otherUnitNames_;
    std::unordered_map<std::string, uint32_t> productIndex_;
    std::vector<ProductCounts> products_;
    std::unordered_set<uint64_t> otherProductNames_; // by a hash of the key
    // Every record on a passed chip, in lowercase, with its first sighting;
    // and those seen again, with the chips listed.
    std::unordered_map<std::string, Sighting> serials_;
    std::map<std::string, std::vector<Sighting>> serialsTwice_;
    uint64_t serialChips_ = 0;
    size_t listedSerialChips_ = 0;
    uint64_t unlistedSerialChips_ = 0;
    uint64_t malformedCount_ = 0;
    std::vector<Malformed> malformed_;
};

} // namespace octo::yield

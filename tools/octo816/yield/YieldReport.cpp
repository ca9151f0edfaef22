#include "YieldReport.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <limits>

namespace octo::yield {

namespace {

constexpr int64_t kSecondsPerHour = 3600;

// One line of at most kMaxLineBytes from in, without its end; false at the end of the
// stream. A longer line is read to its end and marked too long.
bool nextLine(std::istream& in, std::string& line, bool& tooLong) {
    line.resize(kMaxLineBytes + 1);
    in.getline(line.data(), static_cast<std::streamsize>(line.size()));
    const auto got = static_cast<size_t>(in.gcount());
    tooLong = false;
    if (in.fail() && !in.eof() && got == kMaxLineBytes) {
        tooLong = true;
        in.clear();
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        line.clear();
        return true;
    }
    if (got == 0 && in.eof()) {
        return false;
    }
    // gcount counts the line end that getline took out.
    line.resize(in.eof() ? got : got - 1);
    if (in.eof()) {
        in.clear(std::ios::eofbit);
    }
    return true;
}

// The records of a log: its lines, except that a line ending inside a quoted field runs on
// into the next ones, as CSV reads it, up to kMaxLineBytes in all. Such a record is one
// record, malformed, at its first line: a quoted line break in a field never makes a line
// of its own. A quote that no later line within the bound closes is its line's fault
// alone, and the lines read ahead are read again as lines.
class Records {
public:
    enum class Kind { Line, TooLong, LineBreak };
    struct Record {
        Kind kind = Kind::Line;
        uint64_t first = 0; // its line numbers
        uint64_t last = 0;
        std::string text; // a Line's
    };

    explicit Records(std::istream& in) : in_(in) {}

    bool next(Record& record) {
        Line line;
        if (!pull(line)) {
            return false;
        }
        record = {.kind = line.tooLong ? Kind::TooLong : Kind::Line,
                  .first = line.number,
                  .last = line.number,
                  .text = std::move(line.text)};
        if (line.tooLong || !endsInsideQuotes(record.text, false)) {
            return true;
        }
        std::vector<Line> ahead;
        size_t bytes = record.text.size();
        bool inside = true;
        while (inside) {
            Line more;
            if (!pull(more)) {
                break;
            }
            const bool fits = !more.tooLong && bytes + 1 + more.text.size() <= kMaxLineBytes;
            bytes += 1 + more.text.size();
            inside = endsInsideQuotes(more.text, true);
            ahead.push_back(std::move(more));
            if (!fits) {
                inside = true;
                break;
            }
        }
        if (inside) {
            pending_.insert(pending_.begin(), std::make_move_iterator(ahead.begin()),
                            std::make_move_iterator(ahead.end()));
            return true;
        }
        record.kind = Kind::LineBreak;
        record.last = ahead.back().number;
        record.text.clear();
        return true;
    }

private:
    struct Line {
        uint64_t number = 0;
        std::string text;
        bool tooLong = false;
    };

    bool pull(Line& line) {
        if (!pending_.empty()) {
            line = std::move(pending_.front());
            pending_.pop_front();
            return true;
        }
        if (!nextLine(in_, line.text, line.tooLong)) {
            return false;
        }
        line.number = ++read_;
        return true;
    }

    std::istream& in_;
    std::deque<Line> pending_;
    uint64_t read_ = 0;
};

double rate(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

} // namespace

double Report::firstPassYield() const {
    return rate(passed, chips);
}

size_t Aggregator::RunKeyHash::operator()(const RunKey& k) const {
    return std::hash<int64_t>()(k.time) * 31 + std::hash<uint64_t>()(k.run);
}

void Aggregator::read(std::istream& in, const std::string& name) {
    Records records(in);
    Records::Record record;
    std::string scratch;
    std::optional<LogColumns> columns;
    std::string header;
    while (records.next(record)) {
        const uint64_t number = record.first;
        if (record.kind == Records::Kind::TooLong) {
            malformed(name, number, "longer than " + std::to_string(kMaxLineBytes) + " bytes");
            continue;
        }
        if (record.kind == Records::Kind::LineBreak) {
            malformed(name, number,
                      "a quoted field holds a line break (lines " + std::to_string(number) +
                          " to " + std::to_string(record.last) + ")");
            continue;
        }
        const std::string& line = record.text;
        if (!columns) {
            if (line.empty() || line == "\r") {
                continue; // an empty file, or blank lines before the header
            }
            auto parsed = LogColumns::fromHeader(line);
            if (auto* error = std::get_if<std::string>(&parsed)) {
                // Without columns no line of the file can be read.
                malformed(name, number, *error + ": the file is skipped");
                return;
            }
            columns = std::get<LogColumns>(parsed);
            header = line;
            continue;
        }
        if (line == header) {
            continue; // logs joined with cat keep their headers
        }
        auto parsed = columns->parse(line, scratch);
        if (auto* error = std::get_if<std::string>(&parsed)) {
            malformed(name, number, std::move(*error));
            continue;
        }
        const LogLine& log = std::get<LogLine>(parsed);
        if (since_ && log.time < *since_) {
            continue;
        }
        if (!add(log)) {
            malformed(name, number,
                      "socket " + std::to_string(log.socket) + " of this run has a line already");
        }
    }
}

void Aggregator::malformed(const std::string& file, uint64_t line, std::string reason) {
    ++malformedCount_;
    if (malformed_.size() < kListedMalformed) {
        malformed_.push_back({file, line, std::move(reason)});
    }
}

Aggregator::Unit& Aggregator::unitNamed(std::string_view name) {
    const auto [it, added] = unitIndex_.try_emplace(std::string(name), units_.size());
    if (added) {
        units_.push_back({.name = std::string(name), .index = {}, .runs = {}});
    }
    return units_[it->second];
}

uint32_t Aggregator::productOf(const LogLine& line) {
    std::string key(line.deviceType);
    key += '\0';
    key += line.imageCrc32;
    const auto [it, added] =
        productIndex_.try_emplace(key, static_cast<uint32_t>(products_.size()));
    if (added) {
        products_.push_back({.deviceType = std::string(line.deviceType),
                             .imageCrc32 = std::string(line.imageCrc32)});
    }
    return it->second;
}

bool Aggregator::add(const LogLine& line) {
    Unit& unit = unitNamed(line.unit);
    const RunKey key{line.time, line.run.value_or(0)};
    const auto [it, added] = unit.index.try_emplace(key, static_cast<uint32_t>(unit.runs.size()));
    if (added) {
        Run run{.key = key, .product = productOf(line), .present = 0, .stages = {}};
        run.stages.fill(Stage::NotFound);
        unit.runs.push_back(run);
    }
    Run& run = unit.runs[it->second];
    const auto bit = static_cast<uint8_t>(1U << (line.socket - 1));
    if ((run.present & bit) != 0) {
        return false;
    }
    run.present |= bit;
    run.stages[static_cast<size_t>(line.socket - 1)] = stageOf(line.flags);
    return true;
}

UnitReport Aggregator::unitReport(Unit& unit, Report& report) {
    // The unit's own count orders its runs; older logs have none, and their times do.
    std::sort(unit.runs.begin(), unit.runs.end(), [](const Run& a, const Run& b) {
        return a.key.run != b.key.run ? a.key.run < b.key.run : a.key.time < b.key.time;
    });
    UnitReport out;
    out.unit = unit.name;
    out.runs = unit.runs.size();
    std::vector<uint8_t> failed(unit.runs.size() * kSockets);
    for (size_t r = 0; r < unit.runs.size(); ++r) {
        const Run& run = unit.runs[r];
        ProductCounts& product = report.products[run.product];
        ++product.runs;
        product.chips += kSockets;
        for (size_t s = 0; s < kSockets; ++s) {
            const Stage stage = run.stages[s];
            ++out.sockets[s].chips;
            ++out.sockets[s].stages[static_cast<size_t>(stage)];
            failed[r * kSockets + s] = stage == Stage::Passed ? 0 : 1;
            product.passed += stage == Stage::Passed ? 1 : 0;
        }
    }
    for (int s = 0; s < kSockets; ++s) {
        const SocketTest test = testSocket(failed, kSockets, s);
        if (test.alarm) {
            out.alarms.push_back(
                {.socket = s + 1,
                 .since = unit.runs[test.since].key.time,
                 .sinceRun = test.since,
                 .failureRate = rate(test.failures, test.runs),
                 .othersRate = rate(test.othersFailures, test.runs * (kSockets - 1)),
                 .pValue = test.pValue});
        }
    }
    return out;
}

void Aggregator::timeBuckets(Report& report) const {
    struct Stamp {
        int64_t time;
        uint8_t passed;
    };
    std::vector<Stamp> stamps;
    for (const Unit& unit : units_) {
        for (const Run& run : unit.runs) {
            uint8_t passed = 0;
            for (Stage stage : run.stages) {
                passed += stage == Stage::Passed ? 1 : 0;
            }
            stamps.push_back({run.key.time, passed});
        }
    }
    if (stamps.empty()) {
        return;
    }
    std::stable_sort(stamps.begin(), stamps.end(),
                     [](const Stamp& a, const Stamp& b) { return a.time < b.time; });
    const int64_t firstHour = stamps.front().time / kSecondsPerHour;
    report.hourly = stamps.back().time / kSecondsPerHour - firstHour >= kHourlyFromHours;
    const uint64_t base = report.hourly ? 1 : kRunsPerBucket;
    const uint64_t spread =
        report.hourly ? static_cast<uint64_t>(stamps.back().time / kSecondsPerHour - firstHour + 1)
                      : (stamps.size() + kRunsPerBucket - 1) / kRunsPerBucket;
    // Neighbouring buckets merged so that there are at most kMostBuckets.
    const uint64_t merge = (spread + kMostBuckets - 1) / kMostBuckets;
    const uint64_t width = base * merge;
    std::vector<Bucket> buckets((spread + merge - 1) / merge);
    for (size_t i = 0; i < stamps.size(); ++i) {
        const uint64_t at =
            report.hourly
                ? static_cast<uint64_t>(stamps[i].time / kSecondsPerHour - firstHour) / merge
                : i / width;
        buckets[at].chips += kSockets;
        buckets[at].passed += stamps[i].passed;
    }
    for (size_t b = 0; b < buckets.size(); ++b) {
        buckets[b].label =
            report.hourly
                ? timeText((firstHour + static_cast<int64_t>(b * width)) * kSecondsPerHour)
                : "run " + std::to_string(b * width + 1);
    }
    report.buckets = std::move(buckets);
}

Report Aggregator::finish() {
    Report report;
    report.since = since_;
    report.products = products_;
    for (Unit& unit : units_) {
        report.units.push_back(unitReport(unit, report));
        report.runs += unit.runs.size();
    }
    std::sort(report.units.begin(), report.units.end(),
              [](const UnitReport& a, const UnitReport& b) { return a.unit < b.unit; });
    for (const ProductCounts& product : report.products) {
        report.chips += product.chips;
        report.passed += product.passed;
    }
    timeBuckets(report);
    report.malformedCount = malformedCount_;
    report.malformed = malformed_;
    return report;
}

} // namespace octo::yield

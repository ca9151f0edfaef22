#include "YieldReport.h"

#include <algorithm>
#include <cctype>
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

// A 64-bit mix of the bits (splitmix64's finalizer): keys that differ in a few bits, or
// were made to differ little, spread over the whole range.
uint64_t mixed(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// FNV-1a of a text: the units summed are told apart by it.
uint64_t nameHash(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

std::string lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

double rate(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

} // namespace

double Report::firstPassYield() const {
    return rate(passed, chips);
}

size_t Aggregator::RunKeyHash::operator()(const RunKey& k) const {
    return static_cast<size_t>(mixed(static_cast<uint64_t>(k.time) ^ mixed(k.run ^ mixed(k.unit))));
}

void Aggregator::read(std::istream& in, const std::string& name) {
    const auto file = static_cast<uint32_t>(files_.size());
    files_.push_back(name);
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
        if (!add(log, {.file = file, .line = number})) {
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

Aggregator::Unit& Aggregator::unitNamed(std::string_view name, uint64_t& summedAs) {
    summedAs = 0;
    const auto found = unitIndex_.find(name);
    if (found != unitIndex_.end()) {
        return units_[found->second];
    }
    if (units_.size() < kMostUnits) {
        unitIndex_.emplace(std::string(name), units_.size());
        units_.push_back({.name = std::string(name), .index = {}, .runs = {}});
        return units_.back();
    }
    summedAs = nameHash(name);
    otherUnitNames_.insert(summedAs);
    return others_;
}

uint32_t Aggregator::productOf(const LogLine& line) {
    std::string key(line.deviceType);
    key += '\0';
    key += line.imageCrc32;
    const auto found = productIndex_.find(key);
    if (found != productIndex_.end()) {
        return found->second;
    }
    if (products_.size() < kMostProducts) {
        productIndex_.emplace(key, static_cast<uint32_t>(products_.size()));
        products_.push_back({.deviceType = std::string(line.deviceType),
                             .imageCrc32 = std::string(line.imageCrc32)});
        return static_cast<uint32_t>(products_.size() - 1);
    }
    // The products past the bound share one row, after the others.
    otherProductNames_.insert(nameHash(key));
    return static_cast<uint32_t>(kMostProducts);
}

void Aggregator::noteSerial(const LogLine& line, const Origin& origin) {
    ++serialChips_;
    Sighting chip{.unit = std::string(line.unit),
                  .run = line.run,
                  .time = line.time,
                  .line = origin.line,
                  .file = origin.file,
                  .socket = static_cast<uint8_t>(line.socket)};
    const auto [first, added] = serials_.try_emplace(lowercase(line.serial), chip);
    if (added) {
        return;
    }
    std::vector<Sighting>& chips = serialsTwice_[first->first];
    for (const Sighting* listed : {chips.empty() ? &first->second : nullptr, &chip}) {
        if (listed == nullptr) {
            continue;
        }
        if (listedSerialChips_ < kListedSerialChips) {
            chips.push_back(*listed);
            ++listedSerialChips_;
        } else {
            ++unlistedSerialChips_;
        }
    }
}

bool Aggregator::add(const LogLine& line, const Origin& origin) {
    uint64_t summedAs = 0;
    Unit& unit = unitNamed(line.unit, summedAs);
    const RunKey key{line.time, line.run.value_or(0), summedAs};
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
    if (line.flags.passed && !line.serial.empty()) {
        noteSerial(line, origin);
    }
    return true;
}

SerialChip Aggregator::chipOf(const Sighting& sighting) const {
    return {.unit = sighting.unit,
            .run = sighting.run,
            .socket = sighting.socket,
            .time = sighting.time,
            .file = files_[sighting.file],
            .line = sighting.line};
}

UnitReport Aggregator::unitReport(Unit& unit, Report& report, bool alarms) {
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
    for (int s = 0; s < kSockets && alarms; ++s) {
        const SocketTest test = testSocket(failed, kSockets, s);
        if (test.alarm) {
            out.alarms.push_back(
                {.socket = s + 1,
                 .since = unit.runs[test.since].key.time,
                 .sinceRun = test.since,
                 .sinceRunNumber = std::nullopt,
                 .failureRate = rate(test.failures, test.runs),
                 .othersRate = rate(test.othersFailures, test.runs * (kSockets - 1)),
                 .ratio = 0,
                 .pValue = test.pValue,
                 .maintenanceSince = std::nullopt});
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
    std::vector<const Unit*> all;
    for (const Unit& unit : units_) {
        all.push_back(&unit);
    }
    all.push_back(&others_);
    for (const Unit* unit : all) {
        for (const Run& run : unit->runs) {
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
    report.otherProducts = otherProductNames_.size();
    if (report.otherProducts > 0) {
        report.products.push_back({});
    }
    for (Unit& unit : units_) {
        report.units.push_back(unitReport(unit, report, true));
        report.runs += unit.runs.size();
    }
    report.otherUnits = otherUnitNames_.size();
    report.others = unitReport(others_, report, false);
    report.runs += others_.runs.size();
    std::sort(report.units.begin(), report.units.end(),
              [](const UnitReport& a, const UnitReport& b) { return a.unit < b.unit; });
    for (const ProductCounts& product : report.products) {
        report.chips += product.chips;
        report.passed += product.passed;
    }
    timeBuckets(report);
    report.malformedCount = malformedCount_;
    report.malformed = malformed_;
    report.serialChips = serialChips_;
    for (const auto& [serial, chips] : serialsTwice_) {
        if (chips.empty()) {
            continue; // seen again past the listed chips
        }
        SerialOnChips& found = report.serialsOnTwoChips.emplace_back();
        found.serial = serial;
        for (const Sighting& chip : chips) {
            found.chips.push_back(chipOf(chip));
        }
    }
    report.unlistedSerialChips = unlistedSerialChips_;
    return report;
}

} // namespace octo::yield

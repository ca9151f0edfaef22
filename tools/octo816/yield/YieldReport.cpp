#include "YieldReport.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <deque>
#include <functional>
#include <limits>
#include <tuple>

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

template <typename Columns, typename Take>
void Aggregator::readRecords(std::istream& in, const std::string& name, Take take) {
    Records records(in);
    Records::Record record;
    std::string scratch;
    std::optional<Columns> columns;
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
            auto parsed = Columns::fromHeader(line);
            if (auto* error = std::get_if<std::string>(&parsed)) {
                // Without columns no line of the file can be read.
                malformed(name, number, *error + ": the file is skipped");
                return;
            }
            columns = std::get<Columns>(parsed);
            header = line;
            continue;
        }
        if (line == header) {
            continue; // files joined with cat keep their headers
        }
        auto parsed = columns->parse(line, scratch);
        if (auto* error = std::get_if<std::string>(&parsed)) {
            malformed(name, number, std::move(*error));
            continue;
        }
        take(std::get<0>(parsed), number);
    }
}

void Aggregator::read(std::istream& in, const std::string& name) {
    const auto file = static_cast<uint32_t>(files_.size());
    files_.push_back(name);
    readRecords<LogColumns>(in, name, [&](const LogLine& log, uint64_t number) {
        if (since_ && log.time < *since_) {
            return;
        }
        if (!add(log, {.file = file, .line = number})) {
            malformed(name, number,
                      "socket " + std::to_string(log.socket) + " of this run has a line already");
        }
    });
}

void Aggregator::readMaintenance(std::istream& in, const std::string& name) {
    readRecords<MaintenanceColumns>(in, name, [&](const MaintenanceLine& line, uint64_t number) {
        if (maintenanceLines_ == kMostMaintenanceLines) {
            malformed(name, number,
                      "past the " + std::to_string(kMostMaintenanceLines) +
                          " maintenance lines a report takes");
            return;
        }
        ++maintenanceLines_;
        auto found = maintenance_.find(line.unit);
        if (found == maintenance_.end()) {
            found = maintenance_.emplace(std::string(line.unit), std::vector<Maintenance>()).first;
        }
        found->second.push_back(
            {.time = line.time, .sockets = line.sockets, .note = std::string(line.note)});
    });
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
        Run run{.key = key,
                .product = productOf(line),
                .asked = line.asked ? static_cast<uint8_t>(kSaysAsked | *line.asked) : uint8_t{0},
                .numbered = line.run.has_value()};
        run.stages.fill(Stage::NotFound);
        unit.runs.push_back(run);
    }
    Run& run = unit.runs[it->second];
    const auto bit = static_cast<uint8_t>(1U << (line.socket - 1));
    if ((run.lines & bit) != 0) {
        return false;
    }
    run.lines |= bit;
    // A run read partly from a log without `found` is read as such a log's.
    run.saysFound = run.saysFound && line.found.has_value();
    if (!line.found.value_or(true)) {
        return true; // a socket in use without a chip: its stage stays NotFound
    }
    run.chips |= bit;
    run.stages[static_cast<size_t>(line.socket - 1)] = stageOf(line.flags, line.asked);
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

bool UnitReport::names(Stage stage) const {
    const auto counted = [&] {
        return std::any_of(sockets.begin(), sockets.end(),
                           [&](const SocketCounts& c) { return c.at(stage) > 0; });
    };
    const auto asked = [&](uint8_t step) { return stepsUnsaid || (stepsAsked & step) != 0; };
    switch (stage) {
    case Stage::EraseCheck:
        return asked(kAskEraseCheck);
    case Stage::Verify:
        return asked(kAskVerify);
    case Stage::Secure:
        return asked(kAskSecure);
    case Stage::EraseOrProgram:
        return (stepsAsked & (kAskErase | kAskProgram)) != 0 || counted();
    default:
        return true; // passed, and the stages before any step
    }
}

namespace {

// The sockets of a run whose chip passed.
template <typename Run>
uint8_t passedSockets(const Run& run) {
    uint8_t passed = 0;
    for (uint8_t bit = 1; const Stage stage : run.stages) {
        passed |= stage == Stage::Passed ? bit : 0;
        bit = static_cast<uint8_t>(bit << 1U);
    }
    return passed;
}

} // namespace

// Which sockets were in use in each run (in time order): a socket with a chip was; a socket
// without one (a line with found = 0, or, in logs without `found`, no line in a run that has
// lines) was not when it is one of kEmptyStretch or more such runs of the socket in a row, nor
// when another socket of the run outside such a stretch had no chip either (the tray was not
// full); otherwise it was, and its chip was not found. A socket without a line in a log with
// `found` was not in use, and passes over a stretch without ending it.
void Aggregator::markInUse(std::vector<Run>& runs, UnitReport* listed) {
    struct Open {
        size_t first; // set with the first empty run
        size_t last;
        uint64_t empty = 0;
    };
    std::array<Open, kSockets> open{};
    std::array<std::vector<EmptyStretch>, kSockets> stretches;
    uint64_t unlisted = 0;
    const auto close = [&](size_t s) {
        Open& o = open.at(s);
        if (o.empty >= kEmptyStretch) {
            const auto keep = static_cast<uint8_t>(~(1U << s));
            for (size_t r = o.first; r <= o.last; ++r) {
                runs[r].inUse &= keep;
            }
            stretches[s].push_back({.socket = static_cast<int>(s) + 1,
                                    .from = runs[o.first].key.time,
                                    .to = runs[o.last].key.time,
                                    .runs = o.empty});
            if (stretches[s].size() > kListedStretches) {
                stretches[s].erase(stretches[s].begin());
                ++unlisted;
            }
        }
        o.empty = 0;
    };
    for (size_t r = 0; r < runs.size(); ++r) {
        Run& run = runs[r];
        if (r > 0 && run.key.unit != runs[r - 1].key.unit) {
            for (size_t s = 0; s < kSockets; ++s) {
                close(s); // the units summed: each unit's runs in a row are its own
            }
        }
        const auto empty = static_cast<uint8_t>((run.saysFound ? run.lines : kEverySocket) &
                                                static_cast<uint8_t>(~run.chips));
        run.inUse = run.chips | empty;
        for (size_t s = 0; s < kSockets; ++s) {
            if ((empty >> s & 1U) != 0) {
                Open& o = open[s];
                o.first = o.empty++ == 0 ? r : o.first;
                o.last = r;
            } else if ((run.chips >> s & 1U) != 0) {
                close(s);
            }
        }
    }
    for (size_t s = 0; s < kSockets; ++s) {
        close(s);
    }
    for (Run& run : runs) {
        const auto empty = static_cast<uint8_t>(run.inUse & ~run.chips);
        if (std::popcount(empty) >= 2) {
            run.inUse = run.chips;
        }
    }
    if (listed != nullptr) {
        for (const auto& socket : stretches) {
            listed->emptyStretches.insert(listed->emptyStretches.end(), socket.begin(),
                                          socket.end());
        }
        listed->unlistedStretches = unlisted;
    }
}

void Aggregator::countSockets(const std::vector<Run>& runs, UnitReport& out, Report& report) {
    std::array<uint64_t, 2 * kSaysAsked> asked{};
    for (const Run& run : runs) {
        ProductCounts& product = report.products[run.product];
        ++product.runs;
        ++asked[run.asked];
        for (size_t s = 0; s < kSockets; ++s) {
            if ((run.inUse >> s & 1U) == 0) {
                continue;
            }
            const Stage stage = run.stages[s];
            ++out.sockets[s].chips;
            ++out.sockets[s].stages[static_cast<size_t>(stage)];
            ++product.chips;
            product.passed += stage == Stage::Passed ? 1 : 0;
        }
    }
    for (size_t a = 0; a < asked.size(); ++a) {
        if (asked[a] == 0) {
            continue;
        }
        const bool says = (a & kSaysAsked) != 0;
        const auto steps = static_cast<uint8_t>(a & static_cast<size_t>(~kSaysAsked));
        out.stepsAsked |= steps;
        out.stepsUnsaid = out.stepsUnsaid || !says;
        report.asked[says ? askedText(steps) : std::string()] += asked[a];
    }
    for (size_t s = 0; s < kSockets; ++s) {
        out.inUse[s] = out.sockets[s].chips;
    }
}

// Each socket in use: its chips and failures per kRunsPerBucket runs of the unit, or per hour
// when the runs span kHourlyFromHours, neighbours merged to at most kChartPoints, with those
// of the other sockets in use in the same runs.
void Aggregator::trends(const std::vector<Run>& runs, UnitReport& out) {
    if (runs.empty()) {
        return;
    }
    const int64_t firstHour = runs.front().key.time / kSecondsPerHour;
    const int64_t lastHour = runs.back().key.time / kSecondsPerHour;
    const bool hourly = lastHour - firstHour >= kHourlyFromHours;
    const uint64_t spread = hourly ? static_cast<uint64_t>(lastHour - firstHour + 1)
                                   : (runs.size() + kRunsPerBucket - 1) / kRunsPerBucket;
    const uint64_t merge = (spread + kChartPoints - 1) / kChartPoints;
    uint64_t point = std::numeric_limits<uint64_t>::max();
    for (size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const uint64_t at =
            hourly ? static_cast<uint64_t>(run.key.time / kSecondsPerHour - firstHour) / merge
                   : r / (kRunsPerBucket * merge);
        if (at != point) {
            point = at;
            for (size_t s = 0; s < kSockets; ++s) {
                if (out.inUse[s] > 0) {
                    out.trends[s].points.push_back({.firstRun = r, .from = run.key.time});
                }
            }
        }
        const auto failed = static_cast<uint8_t>(run.inUse & ~passedSockets(run));
        // Each socket in use: the lowest bit left, then the next.
        for (auto rest = static_cast<unsigned>(run.inUse); rest != 0; rest &= rest - 1) {
            const auto s = static_cast<size_t>(std::countr_zero(rest));
            const auto bit = static_cast<uint8_t>(1U << s);
            TrendPoint& p = out.trends[s].points.back();
            ++p.chips;
            p.failed += (failed & bit) != 0 ? 1 : 0;
            p.othersChips +=
                static_cast<uint64_t>(std::popcount(static_cast<uint8_t>(run.inUse & ~bit)));
            p.othersFailed +=
                static_cast<uint64_t>(std::popcount(static_cast<uint8_t>(failed & ~bit)));
        }
    }
}

// The maintenance of the unit's sockets in use, as marks on their charts, in time order.
void Aggregator::maintenance(const std::vector<Run>& runs, UnitReport& out) const {
    const auto found = maintenance_.find(out.unit);
    if (found == maintenance_.end()) {
        return;
    }
    for (const Maintenance& m : found->second) {
        const auto before = static_cast<size_t>(
            std::partition_point(runs.begin(), runs.end(),
                                 [&](const Run& run) { return run.key.time < m.time; }) -
            runs.begin());
        for (size_t s = 0; s < kSockets; ++s) {
            if ((m.sockets >> s & 1U) != 0 && out.inUse[s] > 0) {
                out.trends[s].maintenance.push_back(
                    {.time = m.time, .beforeRun = before, .note = m.note});
            }
        }
    }
    for (SocketTrend& trend : out.trends) {
        std::stable_sort(
            trend.maintenance.begin(), trend.maintenance.end(),
            [](const MaintenanceMark& a, const MaintenanceMark& b) { return a.time < b.time; });
    }
}

// Each socket in use against the other sockets in use in its runs since its latest
// maintenance.
void Aggregator::alarms(const std::vector<Run>& runs, UnitReport& out) const {
    std::vector<SocketRun> history;
    std::vector<size_t> runOf;
    for (size_t s = 0; s < kSockets; ++s) {
        const SocketTrend& trend = out.trends[s];
        if (out.inUse[s] == 0) {
            continue;
        }
        const std::optional<MaintenanceMark> latest =
            trend.maintenance.empty() ? std::nullopt : std::optional(trend.maintenance.back());
        const auto bit = static_cast<uint8_t>(1U << s);
        history.clear();
        runOf.clear();
        const auto from = runs.begin() + static_cast<ptrdiff_t>(latest ? latest->beforeRun : 0);
        for (auto run = from; run != runs.end(); ++run) {
            if ((run->inUse & bit) == 0) {
                continue;
            }
            const auto failed = static_cast<uint8_t>(run->inUse & ~passedSockets(*run));
            history.push_back({.failed = static_cast<uint8_t>((failed & bit) != 0 ? 1 : 0),
                               .othersFailed = static_cast<uint8_t>(
                                   std::popcount(static_cast<uint8_t>(failed & ~bit))),
                               .othersInUse = static_cast<uint8_t>(
                                   std::popcount(static_cast<uint8_t>(run->inUse & ~bit)))});
            runOf.push_back(static_cast<size_t>(run - runs.begin()));
        }
        const SocketFinding finding = findClimb(history, rule_);
        if (!finding.alarm || finding.since >= runOf.size()) {
            continue;
        }
        const Run& since = runs[runOf[finding.since]];
        const double own = rate(finding.failures, finding.runs);
        const double others = rate(finding.othersFailures, finding.othersChips);
        out.alarms.push_back(
            {.socket = static_cast<int>(s) + 1,
             .since = since.key.time,
             .sinceRun = runOf[finding.since],
             .sinceRunNumber = since.numbered ? std::optional(since.key.run) : std::nullopt,
             .failureRate = own,
             .othersRate = others,
             .ratio = others > 0 ? own / others : std::numeric_limits<double>::infinity(),
             .pValue = finding.pValue,
             .maintenanceSince = latest ? std::optional(latest->time) : std::nullopt});
    }
}

UnitReport Aggregator::unitReport(Unit& unit, Report& report, bool own) {
    // Time orders a unit's runs, its own count only breaking ties: the count restarts when
    // the unit is switched on. The units summed keep each unit's runs together.
    std::sort(unit.runs.begin(), unit.runs.end(), [](const Run& a, const Run& b) {
        return std::tie(a.key.unit, a.key.time, a.key.run) <
               std::tie(b.key.unit, b.key.time, b.key.run);
    });
    UnitReport out;
    out.unit = unit.name;
    out.runs = unit.runs.size();
    markInUse(unit.runs, own ? &out : nullptr);
    countSockets(unit.runs, out, report);
    if (own) {
        trends(unit.runs, out);
        maintenance(unit.runs, out);
        alarms(unit.runs, out);
    }
    return out;
}

void Aggregator::timeBuckets(Report& report) const {
    struct Stamp {
        int64_t time;
        uint8_t chips;
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
            stamps.push_back({run.key.time, static_cast<uint8_t>(std::popcount(run.inUse)),
                              static_cast<uint8_t>(std::popcount(passedSockets(run)))});
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
        buckets[at].chips += stamps[i].chips;
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

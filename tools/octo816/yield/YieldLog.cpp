#include "YieldLog.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <tuple>

namespace octo::yield {

namespace {

// More columns than any version of the log has.
constexpr size_t kMaxColumns = 64;
using Fields = std::array<std::string_view, kMaxColumns>;

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr size_t kDateChars = 10;     // 2026-12-08
constexpr size_t kDateTimeChars = 20; // 2026-12-08T06:52:55Z
constexpr size_t kTimeTextChars = 64;
constexpr int kMonthsPerYear = 12;
constexpr int kHoursPerDay = 24;
constexpr int kMinutesPerHour = 60;
constexpr int kLastSecond = 60; // a leap second
constexpr int kCrcDigits = 8;
// The letters of the steps a run asks for, bit n the nth.
constexpr std::string_view kStepLetters = "ecpvs";
constexpr size_t kMinuteChars = 16; // 2026-12-08T06:52

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool leapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int m) {
    constexpr std::array<int, kMonthsPerYear> kDays = {31, 28, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[static_cast<size_t>(m - 1)];
}

// The decimal digits of text[at, at + count) as a number, or -1.
int digits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// One CSV line split into fields, quoted fields unquoted in place (the text only shrinks).
// The number of fields, or nothing when a quote is not closed or there are too many.
std::optional<size_t> splitFields(std::string& text, Fields& fields) {
    size_t count = 0;
    size_t read = 0;
    while (true) {
        if (count == kMaxColumns) {
            return std::nullopt;
        }
        const size_t start = read;
        if (read < text.size() && text[read] == '"') {
            size_t write = read;
            ++read;
            while (true) {
                if (read >= text.size()) {
                    return std::nullopt;
                }
                if (text[read] == '"') {
                    if (read + 1 < text.size() && text[read + 1] == '"') {
                        text[write++] = '"';
                        read += 2;
                        continue;
                    }
                    ++read;
                    break;
                }
                text[write++] = text[read++];
            }
            fields[count++] = std::string_view(text).substr(start, write - start);
            if (read < text.size() && text[read] != ',') {
                return std::nullopt;
            }
        } else {
            read = std::min(text.find(',', read), text.size());
            fields[count++] = std::string_view(text).substr(start, read - start);
        }
        if (read >= text.size()) {
            return count;
        }
        ++read; // the comma
    }
}

std::optional<bool> flagValue(std::string_view text) {
    if (text == "1") {
        return true;
    }
    if (text == "0") {
        return false;
    }
    return std::nullopt;
}

template <typename Number>
std::optional<Number> number(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

bool crcText(std::string_view text) {
    return text.empty() || (text.size() == kCrcDigits &&
                            text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos);
}

// A header's fields, to find columns by their names. The fields view its own text, so it
// is neither copied nor moved.
struct Header {
    std::string text;
    Fields fields;
    size_t count; // set by read

    Header() = default;
    Header(const Header&) = delete;
    Header& operator=(const Header&) = delete;

    // False when the line cannot be split into fields.
    bool read(std::string_view line) {
        text.assign(line);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        const std::optional<size_t> split = splitFields(text, fields);
        if (!split) {
            return false;
        }
        count = *split;
        return true;
    }
    std::optional<size_t> find(std::string_view name) const {
        for (size_t i = 0; i < count; ++i) {
            if (fields[i] == name) {
                return i;
            }
        }
        return std::nullopt;
    }
};

// A line split into fields in scratch, or what is wrong with it: a quote not closed, or
// another number of fields than the header's.
std::optional<std::string> lineFields(std::string_view line, std::string& scratch, Fields& fields,
                                      size_t columns) {
    scratch.assign(line);
    if (!scratch.empty() && scratch.back() == '\r') {
        scratch.pop_back();
    }
    const std::optional<size_t> count = splitFields(scratch, fields);
    if (!count) {
        return std::string("a quote is not closed");
    }
    if (*count != columns) {
        return std::to_string(*count) + " fields where the header has " + std::to_string(columns);
    }
    return std::nullopt;
}

} // namespace

std::optional<uint8_t> parseAsked(std::string_view text) {
    uint8_t steps = 0;
    size_t next = 0; // the first letter still allowed: each comes once, in order
    for (const char c : text) {
        const size_t at = kStepLetters.find(c, next);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        steps |= static_cast<uint8_t>(1U << at);
        next = at + 1;
    }
    return steps;
}

std::string askedText(uint8_t steps) {
    std::string text;
    for (size_t at = 0; at < kStepLetters.size(); ++at) {
        if ((steps >> at & 1U) != 0) {
            text += kStepLetters[at];
        }
    }
    return text;
}

Stage stageOf(const ChipFlags& f, std::optional<uint8_t> asked) {
    if (f.passed) {
        return Stage::Passed;
    }
    if (!f.connected) {
        return Stage::NotConnected;
    }
    if (!asked) {
        if (!f.eraseChecked) {
            return Stage::EraseCheck;
        }
        return f.verified ? Stage::Secure : Stage::Verify;
    }
    const std::array flagged = {
        std::tuple{kAskEraseCheck, f.eraseChecked, Stage::EraseCheck},
        std::tuple{kAskVerify, f.verified, Stage::Verify},
        std::tuple{kAskSecure, f.secured, Stage::Secure},
    };
    for (const auto& [step, done, stage] : flagged) {
        if ((*asked & step) != 0 && !done) {
            return stage;
        }
    }
    return Stage::EraseOrProgram;
}

std::optional<int64_t> parseTime(std::string_view text) {
    const bool dateOnly = text.size() == kDateChars;
    if (!dateOnly && (text.size() != kDateTimeChars || text[10] != 'T' || text[13] != ':' ||
                      text[16] != ':' || text[19] != 'Z')) {
        return std::nullopt;
    }
    if (text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const int year = digits(text, 0, 4);
    const int month = digits(text, 5, 2);
    const int day = digits(text, 8, 2);
    if (year < 0 || month < 1 || month > kMonthsPerYear || day < 1 ||
        day > daysInMonth(year, month)) {
        return std::nullopt;
    }
    const int64_t midnight =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
        kSecondsPerDay;
    if (dateOnly) {
        return midnight;
    }
    const int hour = digits(text, 11, 2);
    const int minute = digits(text, 14, 2);
    const int second = digits(text, 17, 2);
    if (hour < 0 || hour >= kHoursPerDay || minute < 0 || minute >= kMinutesPerHour || second < 0 ||
        second > kLastSecond) {
        return std::nullopt;
    }
    return midnight + hour * kSecondsPerHour + minute * kSecondsPerMinute + second;
}

std::string timeText(int64_t seconds) {
    int64_t days = seconds / kSecondsPerDay;
    int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    // Civil date from days (the inverse of daysFromCivil).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    std::array<char, kTimeTextChars> text{};
    std::snprintf(text.data(), text.size(), "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<long long>(y), m, d, static_cast<int>(rest / kSecondsPerHour),
                  static_cast<int>(rest % kSecondsPerHour / kSecondsPerMinute),
                  static_cast<int>(rest % kSecondsPerMinute));
    return text.data();
}

std::string minuteText(int64_t seconds) {
    std::string text = timeText(seconds).substr(0, kMinuteChars);
    text[kDateChars] = ' ';
    return text;
}

bool endsInsideQuotes(std::string_view line, bool inside) {
    // As splitFields reads: a quote opens a field only at its start, and inside one a
    // doubled quote stands for itself.
    if (!inside && line.find('"') == std::string_view::npos) {
        return false; // most lines: nothing quoted
    }
    bool fieldStart = !inside;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inside) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                ++i;
            } else if (c == '"') {
                inside = false;
            }
            continue;
        }
        inside = c == '"' && fieldStart;
        fieldStart = c == ',';
    }
    return inside;
}

std::variant<LogColumns, std::string> LogColumns::fromHeader(std::string_view header) {
    Header names;
    if (!names.read(header)) {
        return std::string("the header cannot be split into columns");
    }
    LogColumns columns;
    columns.count_ = names.count;
    const auto find = [&](std::string_view name) { return names.find(name); };
    const std::array<std::pair<const char*, size_t*>, 10> required = {{
        {"time", &columns.time_},
        {"station", &columns.station_},
        {"device_type", &columns.deviceType_},
        {"image_crc32", &columns.crc_},
        {"target", &columns.target_},
        {"connected", &columns.connected_},
        {"erase_checked", &columns.eraseChecked_},
        {"verified", &columns.verified_},
        {"secured", &columns.secured_},
        {"passed", &columns.passed_},
    }};
    for (const auto& [name, at] : required) {
        const std::optional<size_t> found = find(name);
        if (!found) {
            return std::string("the header has no column ") + name;
        }
        *at = *found;
    }
    columns.unit_ = find("unit");
    columns.run_ = find("run");
    columns.serial_ = find("serial");
    columns.asked_ = find("asked");
    columns.found_ = find("found");
    return columns;
}

std::variant<LogLine, std::string> LogColumns::parse(std::string_view line,
                                                     std::string& scratch) const {
    Fields fields;
    if (std::optional<std::string> error = lineFields(line, scratch, fields, count_)) {
        return std::move(*error);
    }
    LogLine out;
    const std::optional<int64_t> time = parseTime(fields[time_]);
    if (!time || fields[time_].size() == kDateChars) {
        return "time \"" + std::string(fields[time_]) + "\" is not like 2026-12-08T06:52:55Z";
    }
    out.time = *time;
    const std::optional<int> socket = number<int>(fields[target_]);
    if (!socket || *socket < 1 || *socket > kSockets) {
        return "target \"" + std::string(fields[target_]) + "\" is not 1 to 8";
    }
    out.socket = *socket;
    const std::array<std::pair<size_t, bool*>, 5> flags = {{
        {connected_, &out.flags.connected},
        {eraseChecked_, &out.flags.eraseChecked},
        {verified_, &out.flags.verified},
        {secured_, &out.flags.secured},
        {passed_, &out.flags.passed},
    }};
    for (const auto& [at, value] : flags) {
        const std::optional<bool> flag = flagValue(fields[at]);
        if (!flag) {
            return "flag \"" + std::string(fields[at]) + "\" is not 0 or 1";
        }
        *value = *flag;
    }
    if (!crcText(fields[crc_])) {
        return "image_crc32 \"" + std::string(fields[crc_]) + "\" is not 8 hexadecimal digits";
    }
    out.imageCrc32 = fields[crc_];
    out.deviceType = fields[deviceType_];
    out.unit = unit_ && !fields[*unit_].empty() ? fields[*unit_] : fields[station_];
    if (out.deviceType.size() > kMaxNameBytes || out.unit.size() > kMaxNameBytes) {
        return std::string(out.unit.size() > kMaxNameBytes ? "the unit's name" : "device_type") +
               " is longer than " + std::to_string(kMaxNameBytes) + " bytes";
    }
    if (serial_) {
        out.serial = fields[*serial_];
        if (out.serial.size() > kMaxSerialDigits) {
            return "serial is longer than " + std::to_string(kMaxSerialDigits) + " characters";
        }
    }
    if (run_ && !fields[*run_].empty()) {
        out.run = number<uint64_t>(fields[*run_]);
        if (!out.run) {
            return "run \"" + std::string(fields[*run_]) + "\" is not a number";
        }
    }
    // An empty `asked` does not say, as in older logs.
    if (asked_ && !fields[*asked_].empty()) {
        out.asked = parseAsked(fields[*asked_]);
        if (!out.asked) {
            return "asked \"" + std::string(fields[*asked_]) +
                   "\" is not steps e, c, p, v, s, each once and in that order";
        }
    }
    if (found_) {
        out.found = flagValue(fields[*found_]);
        if (!out.found) {
            return "found \"" + std::string(fields[*found_]) + "\" is not 0 or 1";
        }
    }
    return out;
}

std::variant<MaintenanceColumns, std::string>
MaintenanceColumns::fromHeader(std::string_view header) {
    Header names;
    if (!names.read(header)) {
        return std::string("the header cannot be split into columns");
    }
    MaintenanceColumns columns{};
    columns.count_ = names.count;
    const std::array<std::pair<const char*, size_t*>, 4> required = {{
        {"time", &columns.time_},
        {"unit", &columns.unit_},
        {"socket", &columns.socket_},
        {"note", &columns.note_},
    }};
    for (const auto& [name, at] : required) {
        const std::optional<size_t> found = names.find(name);
        if (!found) {
            return std::string("the header has no column ") + name;
        }
        *at = *found;
    }
    return columns;
}

std::variant<MaintenanceLine, std::string> MaintenanceColumns::parse(std::string_view line,
                                                                     std::string& scratch) const {
    Fields fields;
    if (std::optional<std::string> error = lineFields(line, scratch, fields, count_)) {
        return std::move(*error);
    }
    const std::optional<int64_t> time = parseTime(fields[time_]);
    if (!time) {
        return "time \"" + std::string(fields[time_]) +
               "\" is not like 2026-12-08T06:52:55Z or 2026-12-08";
    }
    const std::string_view unit = fields[unit_];
    if (unit.empty()) {
        return std::string("the unit is empty");
    }
    if (unit.size() > kMaxNameBytes) {
        return "the unit's name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
    }
    const std::string_view socket = fields[socket_];
    const std::optional<int> which =
        socket.size() == 1 ? number<int>(socket) : std::optional<int>();
    uint8_t sockets = kEverySocket;
    if (which && *which >= 1 && *which <= kSockets) {
        sockets = static_cast<uint8_t>(1U << (*which - 1));
    } else if (socket != "all") {
        return "socket \"" + std::string(socket) + "\" is not 1 to 8 or all";
    }
    const std::string_view note = fields[note_];
    if (note.size() > kMaxNoteBytes) {
        return "note is longer than " + std::to_string(kMaxNoteBytes) + " bytes";
    }
    return MaintenanceLine{.time = *time, .unit = unit, .sockets = sockets, .note = note};
}

} // namespace octo::yield

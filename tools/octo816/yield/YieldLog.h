// The traceability log as the yield report reads it: columns found by the header's names, so
// that logs of every version are read (the later ones add unit, run and serial), and each
// line checked and turned into one chip's outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace octo::yield {

inline constexpr int kSockets = 8;
// A name from a log (the unit, the station standing for it, the device type) longer than
// this makes its line malformed: no unit, station or type is named so, and a line adds at
// most this much to the page.
inline constexpr size_t kMaxNameBytes = 128;
// A record is 1 to 32 bytes, written as two hexadecimal digits a byte: a longer serial
// makes its line malformed.
inline constexpr size_t kMaxSerialDigits = 64;

// Where a chip ended: passed, or the first stage it did not get through. NotFound is a
// socket that has no line in a run whose other sockets have one.
enum class Stage : uint8_t { Passed, NotFound, NotConnected, EraseCheck, Verify, Secure };
inline constexpr int kStages = 6;

// The flags of a line, as the unit set them.
struct ChipFlags {
    bool connected = false;
    bool eraseChecked = false;
    bool verified = false;
    bool secured = false;
    bool passed = false;
};
Stage stageOf(const ChipFlags& flags);

// "2026-12-08T06:52:55Z" as seconds since 1970 (UTC); "2026-12-08" as its midnight.
std::optional<int64_t> parseTime(std::string_view text);
std::string timeText(int64_t seconds);

// One line of a log.
struct LogLine {
    int64_t time = 0;
    std::string_view unit;       // the unit's serial number; the station's name in older logs
    std::optional<uint64_t> run; // the unit's count of main processes, in newer logs
    std::string_view deviceType;
    std::string_view imageCrc32;
    int socket = 0; // 1..8
    ChipFlags flags;
    std::string_view serial; // the record the chip got (hexadecimal); empty for none
};

// Whether a line of a log ends inside a quoted field (so that, in CSV, the record runs on
// into the next line), read as a line starts (inside false) or as the rest of a record whose
// quoted field is still open (inside true).
bool endsInsideQuotes(std::string_view line, bool inside);

// The positions of the columns the report reads, from a log's header line.
class LogColumns {
public:
    // The columns of the header, or the name of a column it lacks.
    static std::variant<LogColumns, std::string> fromHeader(std::string_view header);

    // The line's fields (views into line and scratch), or what is wrong with it.
    std::variant<LogLine, std::string> parse(std::string_view line, std::string& scratch) const;

private:
    size_t count_ = 0;
    size_t time_ = 0, station_ = 0, deviceType_ = 0, crc_ = 0, target_ = 0;
    size_t connected_ = 0, eraseChecked_ = 0, verified_ = 0, secured_ = 0, passed_ = 0;
    std::optional<size_t> unit_, run_, serial_;
};

} // namespace octo::yield

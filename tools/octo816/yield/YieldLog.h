// The traceability log as the yield report reads it: columns found by the header's names, so
// that logs of every version are read (the later ones add unit, run and serial, then asked and
// found), and each line checked and turned into one socket's outcome. The maintenance file
// is read the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace octo::yield {

inline constexpr int kSockets = 8;
inline constexpr uint8_t kEverySocket = 0xFF; // bit s - 1: socket s
// A name from a log (the unit, the station standing for it, the device type) longer than
// this makes its line malformed: no unit, station or type is named so, and a line adds at
// most this much to the page.
inline constexpr size_t kMaxNameBytes = 128;
// A record is 1 to 32 bytes, written as two hexadecimal digits a byte: a longer serial
// makes its line malformed.
inline constexpr size_t kMaxSerialDigits = 64;

// Where a chip ended: passed, or the first stage it did not get through. NotFound is a
// socket in use where no chip answered. EraseOrProgram is a connected chip that failed
// where no step asked has a flag of 0: erase and program have no flag of their own.
enum class Stage : uint8_t {
    Passed,
    NotFound,
    NotConnected,
    EraseCheck,
    Verify,
    Secure,
    EraseOrProgram
};
inline constexpr int kStages = 7;

// The steps a run asked for, as bits, from the log's letters e, c, p, v, s.
inline constexpr uint8_t kAskErase = 1U << 0;
inline constexpr uint8_t kAskEraseCheck = 1U << 1;
inline constexpr uint8_t kAskProgram = 1U << 2;
inline constexpr uint8_t kAskVerify = 1U << 3;
inline constexpr uint8_t kAskSecure = 1U << 4;
// "ecpv" as steps: letters of e, c, p, v, s, each at most once and in that order; nothing for
// any other text. The empty text is no step.
std::optional<uint8_t> parseAsked(std::string_view text);
// The steps as the log writes them ("ecpv").
std::string askedText(uint8_t steps);

// The flags of a line, as the unit set them.
struct ChipFlags {
    bool connected = false;
    bool eraseChecked = false;
    bool verified = false;
    bool secured = false;
    bool passed = false;
};
// The stage of a chip found, by the steps its run asked for: a step not asked is never where
// it failed. Without them (older logs, or an empty `asked`), every step counts as asked and
// a verified chip that did not pass failed at securing.
Stage stageOf(const ChipFlags& flags, std::optional<uint8_t> asked = std::nullopt);

// "2026-12-08T06:52:55Z" as seconds since 1970 (UTC); "2026-12-08" as its midnight.
std::optional<int64_t> parseTime(std::string_view text);
std::string timeText(int64_t seconds);
// "2026-12-08 06:52": the time to the minute, for sentences.
std::string minuteText(int64_t seconds);

// One line of a log.
struct LogLine {
    int64_t time = 0;
    std::string_view unit;       // the unit's serial number; the station's name in older logs
    std::optional<uint64_t> run; // the unit's count of main processes, in newer logs
    std::string_view deviceType;
    std::string_view imageCrc32;
    int socket = 0; // 1..8
    ChipFlags flags;
    std::string_view serial;      // the record the chip got (hexadecimal); empty for none
    std::optional<uint8_t> asked; // the steps asked for, when the line says (kAsk...)
    std::optional<bool> found;    // whether a chip answered, in logs that say
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
    std::optional<size_t> unit_, run_, serial_, asked_, found_;
};

// A line of the maintenance file: a socket, or all eight, of a unit serviced at a time.
inline constexpr size_t kMaxNoteBytes = 256;
struct MaintenanceLine {
    int64_t time;
    std::string_view unit;
    uint8_t sockets; // bit s - 1: socket s
    std::string_view note;
};

// The maintenance file's columns, found by the names of its header time,unit,socket,note.
class MaintenanceColumns {
public:
    static std::variant<MaintenanceColumns, std::string> fromHeader(std::string_view header);
    std::variant<MaintenanceLine, std::string> parse(std::string_view line,
                                                     std::string& scratch) const;

private:
    size_t count_, time_, unit_, socket_, note_; // found by fromHeader
};

} // namespace octo::yield

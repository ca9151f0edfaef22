// Reading a traceability log back, line by line, with a bound on what one line may hold: the
// targets it names, each with its socket, outcome, unit, run and serial record, and the
// file's line number. Columns are found by the header's names, so every version of the log
// is read (the older ones have no unit, run and serial). Whatever a line holds, memory stays
// bounded: a line longer than kMaxLogLineBytes is skipped as malformed without being kept.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace octo::trace {

// More than any line the program writes: eight short fields and a few names.
inline constexpr size_t kMaxLogLineBytes = 4096;

// One line of a log: a target a run found.
struct LogEntry {
    uint64_t line = 0; // the file's line number, 1 being the header
    std::string time;
    int socket = 0; // the target, 1..8
    bool connected = false;
    bool passed = false;
    std::string unit;       // the unit's serial number; empty in older logs
    std::string run;        // the unit's count of runs, as written; empty when none
    std::string imageCrc32; // eight hexadecimal digits, or empty
    std::string serial;     // the target's record in lowercase hexadecimal; empty when none
};

class LogReader {
public:
    enum class Problem {
        None,
        Missing,    // no such file
        NotRegular, // a folder, a device, a pipe: never opened
        CannotOpen,
        NotALog, // its first line is no header of the log (an empty file is a log)
    };

    // Opens the log at path and reads its header.
    explicit LogReader(const std::string& path);
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    Problem problem() const { return problem_; }
    // True when the log has the serial column.
    bool hasSerials() const { return serial_.has_value(); }

    // Goes on from offset, the end of a whole line (as offset() gave it), that is line number
    // line; false, staying where it was, when offset lies past the header and the file's end.
    bool seek(uint64_t offset, uint64_t line);
    // The bytes of the file just before offset, at most count of them.
    std::string bytesBefore(uint64_t offset, size_t count);

    // The next well-formed line; false at the end. A line that is not (wrong field count, a
    // target or flag out of range, a serial that is no hexadecimal, longer than the bound) is
    // counted and skipped. A quoted field may hold a line break: such a line is one line,
    // when it is well-formed as a whole. A last line without its line end is not read: a
    // writer may be adding to it.
    bool next(LogEntry& entry);
    // Past the last line read whole, and its line number.
    uint64_t offset() const { return offset_; }
    uint64_t line() const { return line_; }
    uint64_t malformed() const { return malformed_; }

private:
    struct Physical {
        std::string text; // without its line end; cut at the bound
        bool tooLong = false;
        bool ended = false; // by a line end, not by the file's end
    };
    bool readPhysical(Physical& out);
    bool parse(const std::string& text, LogEntry& entry) const;
    void moveTo(uint64_t offset);

    std::ifstream file_;
    uint64_t position_ = 0; // of the next byte file_ reads
    Problem problem_ = Problem::None;
    size_t columns_ = 0;
    size_t time_ = 0, target_ = 0, connected_ = 0, passed_ = 0, crc_ = 0;
    std::optional<size_t> unit_, run_, serial_;
    uint64_t headerEnd_ = 0;
    uint64_t offset_ = 0;
    uint64_t line_ = 0;
    uint64_t malformed_ = 0;
};

} // namespace octo::trace

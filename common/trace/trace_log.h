// The traceability log of a production line: one CSV line per socket in use in a run (and
// per chip found in a socket not in use), saying when, on which station, with which unit and
// image, what the run asked for, whether a chip was found, and with what result.
// The window and the command-line programmer write the same lines to the same kind of file.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo::trace {

inline constexpr int kTargets = 8;

// What one run of the main process left in the result block (bytes 0..7), per target.
struct TargetOutcome {
    int target = 0; // 1..8
    bool connected = false;
    bool eraseChecked = false;
    bool verified = false;
    bool secured = false;
    bool passed = false;
    // A chip sits in the socket: the unit reached it, or found it secured (locked).
    bool present() const { return connected || secured; }
};

// The eight targets of a result block's masks (bit n is target n + 1).
std::array<TargetOutcome, kTargets> targetOutcomes(std::span<const uint8_t> resultBlock);

// The unit's identification in a result block of 256 bytes: version words high byte first,
// 0xFFFF meaning none, the third only from firmware newer than 1.45 (older firmware leaves it
// undefined); the firmware name from byte 12 unless that byte is 0xFF.
struct UnitIdentity {
    std::optional<uint16_t> hardwareVersion;
    std::optional<uint16_t> firmwareVersion;
    std::optional<uint16_t> thirdVersion;
    std::optional<std::string> firmwareName;
};
UnitIdentity unitIdentity(std::span<const uint8_t> resultBlock);

// "1.56" for 0x0156, "" for none.
std::string versionText(std::optional<uint16_t> version);

// What a run's lines say besides the targets.
struct RunRecord {
    std::string time;    // ISO 8601, UTC
    std::string station; // the host name
    std::string firmwareVersion;
    std::string hardwareVersion;
    std::string deviceType;
    std::optional<uint32_t> imageCrc32;
    int32_t resultCode = 0;
    std::string unit;            // the unit's serial number; empty when it does not say
    std::optional<uint32_t> run; // the unit's count of main processes, this run included
    std::array<std::string, kTargets> serials; // each target's serial number, [0] target 1
    std::string asked;                         // the steps asked for, as run::askedSteps gives them
    uint8_t socketsInUse = 0xFF;               // bit n: socket n + 1 is in use at the station
};

// The header line, without its line end.
std::string headerLine();
// The header line of the first version of the log, which had no unit, run and serial.
std::string firstHeaderLine();
// True for the header line of any version of the log, without its line end.
bool isHeaderLine(std::string_view line);
// True when a file's first bytes (all of them when it is shorter) are a log's: nothing, or a
// first line that is a header.
bool startsAsLog(std::string_view firstBytes);
// As many first bytes as startsAsLog needs: more than any header line with its line end.
inline constexpr size_t kHeaderProbeBytes = 1024;
// One line per socket in use, with found = 0 where no chip answered (its flags 0 and its
// serial empty, whatever the block and the record say), and one per chip found in a socket
// not in use (a programmed chip is never left out of the log), in the current
// header's columns, each ending in "\n".
std::vector<std::string> runLines(const RunRecord& run, std::span<const uint8_t> resultBlock);
// The lines as a log whose file starts with these bytes takes them: cut to the columns of
// its header, so that a log begun under an older header never mixes column counts, and
// without the lines of sockets where no chip was found when that header has no `found`
// (an older log had no line for them). A new or empty file takes the current columns.
std::vector<std::string> linesForLog(std::string_view firstBytes,
                                     std::span<const std::string> lines);

// The current time as "2026-12-08T06:42:36Z".
std::string utcTimestamp();
// This computer's name ("" when the system does not say).
std::string stationName();

enum class LogWrite {
    Written,
    CannotWrite, // the file cannot be opened, created or written, or is no regular file
    Busy,        // another process held the file's lock for the whole wait
    NotALog,     // the file holds something else: its first line is no header of the log
};

// How long an append waits for another process's lock on the log: a writer holds it for
// the few writes of one run, so a lock held this long is a stuck or foreign process.
inline constexpr std::chrono::milliseconds kLockWait{5000};

// Appends the lines (as runLines makes them) to the log at path, the header first when the
// file is new or empty, in the columns of the file's header (linesForLog).
// The file is locked for the call and each line goes out in one write at the end of the
// file, so two processes appending to it interleave whole lines; a line torn by a crash
// before is ended first. Only a file that is empty or starts with a header is appended to.
LogWrite appendLines(const std::string& path, std::span<const std::string> lines,
                     std::chrono::milliseconds lockWait = kLockWait);

// Whether appendLines could write the log, found without writing or creating anything: an
// existing file must be a regular file that is empty or starts with a header and that may be
// written, a missing one must be one the folder takes.
LogWrite checkLog(const std::string& path);

} // namespace octo::trace

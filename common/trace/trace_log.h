// The traceability log of a production line: one CSV line per target a run found in its
// socket, saying when, on which station, with which unit and image, and with what result.
// The window and the command-line programmer write the same lines to the same kind of file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
};

// The header line, without its line end.
std::string headerLine();
// One line per present target, each ending in "\n".
std::vector<std::string> runLines(const RunRecord& run, std::span<const uint8_t> resultBlock);

// The current time as "2026-12-08T06:42:36Z".
std::string utcTimestamp();
// This computer's name ("" when the system does not say).
std::string stationName();

// Appends the lines to the log at path, the header first when the file is new or empty.
// The file is locked for the call and each line goes out in one write at the end of the
// file, so two processes appending to it interleave whole lines; a line torn by a crash
// before is ended first. False when the file cannot be opened or written.
bool appendLines(const std::string& path, std::span<const std::string> lines);

} // namespace octo::trace

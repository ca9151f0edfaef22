#include "trace/trace_log.h"

#include "wire/messages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace octo::trace {

namespace {

constexpr uint16_t kNoVersion = 0xFFFF;
constexpr uint8_t kNoName = 0xFF;
constexpr size_t kHardwareVersionByte = 8;
constexpr size_t kFirmwareVersionByte = 10;
constexpr size_t kNameByte = 12;
constexpr size_t kThirdVersionByte = 30;
constexpr size_t kIdentityBytes = kThirdVersionByte + 2;
constexpr size_t kCrcDigits = 8;
// Every header the log has had, the current one last: a log begun under an older one is
// still appended to.
constexpr std::array<std::string_view, 3> kHeaderVersions = {
    "time,station,firmware,hardware,device_type,image_crc32,target,connected,erase_checked,"
    "verified,secured,passed,result_code",
    "time,station,firmware,hardware,device_type,image_crc32,target,connected,erase_checked,"
    "verified,secured,passed,result_code,unit,run,serial",
    "time,station,firmware,hardware,device_type,image_crc32,target,connected,erase_checked,"
    "verified,secured,passed,result_code,unit,run,serial,asked,found",
};
// The line of a socket in use where no chip was found ends so (found = 0, the last column).
constexpr std::string_view kNotFoundEnd = ",0\n";
// Firmware up to this version leaves the third version word undefined.
constexpr uint16_t kLastFirmwareWithoutThirdWord = 0x145;
constexpr size_t kVersionChars = 16;

std::optional<uint16_t> versionWord(std::span<const uint8_t> block, size_t at) {
    const auto word = static_cast<uint16_t>((block[at] << 8) | block[at + 1]);
    return word == kNoVersion ? std::nullopt : std::optional<uint16_t>(word);
}

// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

const char* flag(bool value) {
    return value ? "1" : "0";
}

std::string_view firstLine(std::string_view bytes) {
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    // A log that passed through an editor on Windows.
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// The columns of a header line: none of its names holds a separator or a quote.
size_t columnsOf(std::string_view header) {
    return static_cast<size_t>(std::count(header.begin(), header.end(), ',')) + 1;
}

} // namespace

std::array<TargetOutcome, kTargets> targetOutcomes(std::span<const uint8_t> block) {
    std::array<TargetOutcome, kTargets> targets{};
    for (int i = 0; i < kTargets; ++i) {
        const auto mask = static_cast<uint8_t>(1U << i);
        targets[i] = {.target = i + 1,
                      .connected = (block[wire::kConnectedByte] & mask) != 0,
                      .eraseChecked = (block[wire::kEraseCheckedByte] & mask) != 0,
                      .verified = (block[wire::kVerifiedByte] & mask) != 0,
                      .secured = (block[wire::kFuseBlownByte] & mask) != 0,
                      .passed = (block[wire::kOverAllByte] & mask) != 0};
    }
    return targets;
}

UnitIdentity unitIdentity(std::span<const uint8_t> block) {
    UnitIdentity identity;
    if (block.size() < kIdentityBytes) {
        return identity;
    }
    identity.hardwareVersion = versionWord(block, kHardwareVersionByte);
    identity.firmwareVersion = versionWord(block, kFirmwareVersionByte);
    identity.thirdVersion = versionWord(block, kThirdVersionByte);
    if (identity.firmwareVersion.value_or(0) != 0 &&
        *identity.firmwareVersion <= kLastFirmwareWithoutThirdWord) {
        identity.thirdVersion.reset();
    }
    if (block[kNameByte] != kNoName) {
        std::string name;
        for (size_t i = kNameByte; i < block.size() && block[i] != 0; ++i) {
            name.push_back(static_cast<char>(block[i]));
        }
        identity.firmwareName = std::move(name);
    }
    return identity;
}

std::string versionText(std::optional<uint16_t> version) {
    if (!version) {
        return {};
    }
    char text[kVersionChars];
    std::snprintf(text, sizeof text, "%X.%02X", static_cast<unsigned>(*version >> 8),
                  static_cast<unsigned>(*version & 0xFF));
    return text;
}

std::string headerLine() {
    return std::string(kHeaderVersions.back());
}

std::string firstHeaderLine() {
    return std::string(kHeaderVersions.front());
}

bool isHeaderLine(std::string_view line) {
    return std::find(kHeaderVersions.begin(), kHeaderVersions.end(), line) != kHeaderVersions.end();
}

bool startsAsLog(std::string_view firstBytes) {
    return firstBytes.empty() || isHeaderLine(firstLine(firstBytes));
}

std::vector<std::string> linesForLog(std::string_view firstBytes,
                                     std::span<const std::string> lines) {
    if (firstBytes.empty()) {
        return {lines.begin(), lines.end()};
    }
    const std::string_view header = firstLine(firstBytes);
    const size_t columns = columnsOf(header);
    std::vector<std::string> cut;
    for (const std::string& line : lines) {
        if (columns < columnsOf(kHeaderVersions.back()) && line.ends_with(kNotFoundEnd)) {
            continue; // an older log has no line for an empty socket
        }
        cut.push_back(line);
    }
    for (std::string& line : cut) {
        // The fields are ours (field() quoted them), so a separator outside quotes ends one.
        bool quoted = false;
        size_t fields = 1;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else if (line[i] == ',' && !quoted && ++fields > columns) {
                line.resize(i);
                line += '\n';
                break;
            }
        }
    }
    return cut;
}

std::vector<std::string> runLines(const RunRecord& run, std::span<const uint8_t> block) {
    std::string crc;
    if (run.imageCrc32) {
        char digits[kCrcDigits + 1];
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(*run.imageCrc32));
        crc = digits;
    }
    const std::string common = field(run.time) + "," + field(run.station) + "," +
                               field(run.firmwareVersion) + "," + field(run.hardwareVersion) + "," +
                               field(run.deviceType) + "," + crc + ",";
    const std::string unit =
        "," + field(run.unit) + "," + (run.run ? std::to_string(*run.run) : std::string()) + ",";
    std::vector<std::string> lines;
    for (const TargetOutcome& t : targetOutcomes(block)) {
        const bool inUse = (run.socketsInUse >> (t.target - 1) & 1U) != 0;
        const bool found = t.present();
        if (!found && !inUse) {
            continue;
        }
        // Where no chip was found, no step reached one and no record was written: whatever
        // else the block's masks or the run's records hold for the socket is not a chip's.
        lines.push_back(
            common + std::to_string(t.target) + "," + flag(t.connected) + "," +
            flag(found && t.eraseChecked) + "," + flag(found && t.verified) + "," +
            flag(t.secured) + "," + flag(found && t.passed) + "," + std::to_string(run.resultCode) +
            unit + (found ? field(run.serials[static_cast<size_t>(t.target - 1)]) : std::string()) +
            "," + field(run.asked) + "," + flag(found) + "\n");
    }
    return lines;
}

} // namespace octo::trace

#include "CommandSupport.h"

#include "Json.h"

#include <algorithm>
#include <filesystem>

namespace octo::cli {

namespace {

// The library's codes for a file it cannot take or an argument it refuses.
constexpr int32_t kFirstFileCode = 11;
constexpr int32_t kArgumentRefused = 16;
constexpr int32_t kNotFirmwareCode = 18;
constexpr int32_t kAlreadySpecifiedCode = 53;

// Line time of a byte, and what framing and answers add to a stream's data.
constexpr double kLineBitsPerByte = 10;
constexpr double kStreamOverhead = 1.1;
constexpr double kMsPerSecond = 1000;
constexpr uint32_t kKindMask = 0xFFFF;
constexpr double kTenthsPerVolt = 10;
constexpr size_t kShortTextChars = 32;

bool isBadInputCode(int32_t code) {
    return (code >= kFirstFileCode && code <= kArgumentRefused) || code == kNotFirmwareCode ||
           code == kAlreadySpecifiedCode;
}

std::string formatted(const char* format, uint32_t value) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned>(value));
    return text.data();
}

// The path the library opens for a port: on Windows "COM12" only opens as "\\.\COM12".
std::string portPath(const std::string& port) {
#ifdef _WIN32
    const bool comPort = port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
                         (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
    if (comPort && port.find_first_not_of("0123456789", 3) == std::string::npos) {
        return "\\\\.\\" + port;
    }
#endif
    return port;
}

} // namespace

std::string libraryText(int32_t code) {
    const char* text = GetErrorString(code);
    return text != nullptr ? text : "";
}

[[noreturn]] void fail(int32_t code, const std::string& what) {
    throw Failure(isBadInputCode(code) ? kExitBadInput : kExitUnitError,
                  what + ": " + libraryText(code) + " (code " + std::to_string(code) + ")");
}

std::string hex8(uint32_t value) {
    return formatted("%08X", value);
}

std::string hexAddress(uint32_t value) {
    return formatted("0x%X", value);
}

std::string seconds(double ms) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), "%.2f s", ms / kMsPerSecond);
    return text.data();
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

uint32_t streamMs(uint64_t bytes, uint32_t baud) {
    return static_cast<uint32_t>(static_cast<double>(bytes) * kLineBitsPerByte * kStreamOverhead *
                                 kMsPerSecond / baud);
}

double msSince(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

std::string voltsText(int tenths) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), "%.1f V", tenths / kTenthsPerVolt);
    return text.data();
}

std::string yesNo(bool value) {
    return value ? "yes" : "no ";
}

UnitLink::UnitLink(const Invocation& in) {
    const int32_t result = InitCom(portPath(in.port).c_str(), in.baud);
    if (result != kOk) {
        ReleaseCom();
        fail(result, "no unit on " + in.port);
    }
}

UnitLink::~UnitLink() {
    ReleaseCom();
}

ResultBlock readBlock(const char* what) {
    ResultBlock block{};
    const int32_t result = OctoGetResult(block.data());
    if (result != kOk && result != kFailedRun) {
        fail(result, what);
    }
    return block;
}

UnitRecord readUnitRecord() {
    std::array<char, OCTO_UNIT_SERIAL_BYTES> serial{};
    uint32_t runs = OCTO_RUN_COUNT_UNKNOWN;
    if (OctoGetUnitInfo(serial.data(), serial.size(), &runs) != kOk) {
        return {};
    }
    return {.serial = serial.data(),
            .runs = runs == OCTO_RUN_COUNT_UNKNOWN ? std::nullopt : std::optional<uint32_t>(runs)};
}

std::string unitJson(const std::string& port, const trace::UnitIdentity& unit) {
    return JsonObject()
        .add("port", port)
        .add("hardware", trace::versionText(unit.hardwareVersion))
        .add("firmware", trace::versionText(unit.firmwareVersion))
        .add("firmware_name", unit.firmwareName.value_or(""))
        .text();
}

std::string unitLine(const std::string& port, const trace::UnitIdentity& unit) {
    std::string line =
        "Unit on " + port + ": hardware " + trace::versionText(unit.hardwareVersion) + ", ";
    if (!unit.firmwareVersion) {
        return line + "no firmware";
    }
    return line + "firmware " + trace::versionText(unit.firmwareVersion) + " \"" +
           unit.firmwareName.value_or("") + "\"";
}

std::string resultJson(int32_t code) {
    return JsonObject().add("code", code).add("text", libraryText(code)).text();
}

bool TypeFacts::has(uint32_t kind) const {
    return std::any_of(segments.begin(), segments.end(),
                       [&](const OctoSegmentEntry& e) { return (e.kind & kKindMask) == kind; });
}

TypeFacts typeFacts(const devices::DeviceType& row) {
    TypeFacts facts{&row, std::string(row.name), {}};
    const OctoSegmentEntry* table = nullptr;
    if (GetDevice(facts.name.c_str(), &table) != kOk || table == nullptr) {
        throw Failure(kExitBadInput,
                      "the library does not know the device type \"" + facts.name + "\"");
    }
    for (int i = 0; i < OCTO_MAX_SEGMENTS && (table[i].kind & kKindMask) != OCTO_SEGMENT_END; ++i) {
        facts.segments.push_back(table[i]);
    }
    return facts;
}

TypeFacts typeNamed(const std::string& name) {
    const devices::DeviceType* row = devices::findDeviceType(name);
    if (row == nullptr) {
        throw Failure(kExitBadInput,
                      "unknown device type \"" + name + "\" (octo816 types lists them)");
    }
    return typeFacts(*row);
}

} // namespace octo::cli

#include "Scenario.h"

#include <devices/device_table.h>
#include <objfile/load.h>
#include <wire/messages.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace octo::unitsim {

namespace {

// Addresses in a target's memory, for the fault keys.
constexpr uint64_t kLastAddress = wire::kTargetAddressSpace - 1;
// A serial number goes into logs: printable ASCII only.
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<uint64_t> parseUnsigned(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseDouble(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseBool(std::string_view text) {
    if (text == "yes" || text == "true" || text == "1" || text == "on") {
        return true;
    }
    if (text == "no" || text == "false" || text == "0" || text == "off") {
        return false;
    }
    return std::nullopt;
}

bool isBaudRate(uint64_t rate) {
    return std::find(wire::kBaudRates.begin(), wire::kBaudRates.end(), rate) !=
           wire::kBaudRates.end();
}

// Stores a parsed value that fits, or says what was expected.
template <typename T, typename Parsed, typename Fits>
std::optional<std::string> store(T& field, const std::optional<Parsed>& parsed, Fits fits,
                                 std::string_view expected) {
    if (!parsed || !fits(*parsed)) {
        return "expected " + std::string(expected);
    }
    field = static_cast<T>(*parsed);
    return std::nullopt;
}

template <typename T, typename Parsed>
std::optional<std::string> store(T& field, const std::optional<Parsed>& parsed,
                                 std::string_view expected) {
    return store(
        field, parsed, [](const Parsed&) { return true; }, expected);
}

template <typename T>
std::optional<std::string> setUnsigned(T& field, std::string_view value, uint64_t max) {
    return store(
        field, parseUnsigned(value), [&](uint64_t parsed) { return parsed <= max; },
        "a number up to " + std::to_string(max));
}

std::optional<std::string> setProbability(double& field, std::string_view value) {
    return store(
        field, parseDouble(value), [](double parsed) { return parsed <= 1.0; },
        "a probability from 0 to 1");
}

std::optional<std::string> setBool(bool& field, std::string_view value) {
    return store(field, parseBool(value), "yes or no");
}

std::optional<std::string> setDouble(double& field, std::string_view value) {
    return store(field, parseDouble(value), "a number of 0 or more");
}

std::optional<std::string> setAddress(std::optional<uint32_t>& field, std::string_view value) {
    if (value == "none") {
        field.reset();
        return std::nullopt;
    }
    return store(
        field, parseUnsigned(value), [](uint64_t parsed) { return parsed <= kLastAddress; },
        "an address below 0x100000, or none");
}

// The longest burst of lost bytes a scenario may ask for.
constexpr uint64_t kLongestBurst = 4096;

std::optional<uint8_t> commandOfName(std::string_view name) {
    for (unsigned code = 0; code < wire::kResponseFlag; ++code) {
        if (name != "Unknown" && wire::commandName(static_cast<uint8_t>(code)) == name) {
            return static_cast<uint8_t>(code);
        }
    }
    return std::nullopt;
}

// The timing keys: each a duration or a factor of 0 or more.
constexpr std::pair<std::string_view, double Timing::*> kTimingKeys[] = {
    {"timing.run_ms", &Timing::runMs},
    {"timing.erase_ms", &Timing::eraseMs},
    {"timing.check_ms_per_kib", &Timing::checkMsPerKib},
    {"timing.program_ms_per_kib", &Timing::programMsPerKib},
    {"timing.program_large_ms_per_kib", &Timing::programLargeMsPerKib},
    {"timing.large_kib", &Timing::largeKib},
    {"timing.verify_ms_per_kib", &Timing::verifyMsPerKib},
    {"timing.secure_ms", &Timing::secureMs},
    {"timing.record_ms", &Timing::recordMs},
    {"timing.duolink_factor", &Timing::duolinkFactor},
    {"timing.connect_ms", &Timing::connectMs},
    {"timing.read_ms_per_kib", &Timing::readMsPerKib},
    {"timing.selftest_ms", &Timing::selftestMs},
    {"timing.firmware_erase_ms_per_kib", &Timing::firmwareEraseMsPerKib},
    {"timing.loader_start_ms", &Timing::loaderStartMs},
};

using Setter = std::function<std::optional<std::string>(std::string_view)>;

std::optional<std::string> setTarget(TargetSetup& target, std::string_view key,
                                     std::string_view value) {
    const std::map<std::string_view, Setter> setters = {
        {"present", [&](auto v) { return setBool(target.present, v); }},
        {"type",
         [&](auto v) -> std::optional<std::string> {
             target.type = v == "image" ? std::string() : std::string(v);
             return std::nullopt;
         }},
        {"memory",
         [&](auto v) -> std::optional<std::string> {
             target.memoryImage.reset();
             target.memoryFile.clear();
             if (v == "blank") {
                 target.memory = InitialMemory::Blank;
             } else if (v == "random") {
                 target.memory = InitialMemory::Random;
             } else if (!v.empty()) {
                 target.memory = InitialMemory::File;
                 target.memoryFile = std::string(v);
             } else {
                 return std::string("expected blank, random or an object file");
             }
             return std::nullopt;
         }},
        {"secured", [&](auto v) { return setBool(target.secured, v); }},
        {"supply_min", [&](auto v) { return setUnsigned(target.supplyMin, v, 255); }},
        {"supply_max", [&](auto v) { return setUnsigned(target.supplyMax, v, 255); }},
        {"fault.no_answer", [&](auto v) { return setBool(target.faults.noAnswer, v); }},
        {"fault.erase", [&](auto v) { return setBool(target.faults.erase, v); }},
        {"fault.erase_check_at", [&](auto v) { return setAddress(target.faults.eraseCheckAt, v); }},
        {"fault.verify_at", [&](auto v) { return setAddress(target.faults.verifyAt, v); }},
        {"fault.marginal_at", [&](auto v) { return setAddress(target.faults.marginalAt, v); }},
        {"fault.secure", [&](auto v) { return setBool(target.faults.secure, v); }},
        {"fault.record", [&](auto v) { return setBool(target.faults.record, v); }},
        {"fault.connect_rate", [&](auto v) { return setProbability(target.connectRate, v); }},
        {"fault.connect_rate_from",
         [&](auto v) { return setUnsigned(target.connectRateFrom, v, UINT64_MAX); }},
    };
    const auto found = setters.find(key);
    if (found == setters.end()) {
        return "unknown target key \"" + std::string(key) + "\"";
    }
    return found->second(value);
}

} // namespace

std::optional<std::string> Scenario::set(std::string_view key, std::string_view value) {
    std::map<std::string_view, Setter> setters = {
        {"hardware_version", [&](auto v) { return setUnsigned(hardwareVersion, v, 0xFFFF); }},
        {"firmware_version", [&](auto v) { return setUnsigned(firmwareVersion, v, 0xFFFF); }},
        {"third_version", [&](auto v) { return setUnsigned(thirdVersion, v, 0xFFFF); }},
        {"unit.serial",
         [&](auto v) -> std::optional<std::string> {
             const bool printable = std::all_of(v.begin(), v.end(), [](char c) {
                 return c >= kFirstPrintable && c <= kLastPrintable;
             });
             if (v.empty() || v.size() > wire::UnitRecord::kMaxSerialChars || !printable) {
                 return std::string("a serial number is 1 to 32 printable ASCII characters");
             }
             serial = std::string(v);
             return std::nullopt;
         }},
        {"firmware_name",
         [&](auto v) -> std::optional<std::string> {
             if (v == "none") {
                 firmwareName.reset();
             } else if (v.size() > 16) {
                 return std::string("a firmware name has at most 16 characters");
             } else {
                 firmwareName = std::string(v);
             }
             return std::nullopt;
         }},
        {"baud",
         [&](auto v) {
             return store(baud, parseUnsigned(v), isBaudRate,
                          "9600, 19200, 38400, 57600 or 115200");
         }},
        {"pace", [&](auto v) { return setBool(pace, v); }},
        {"check_line_rate", [&](auto v) { return setBool(checkLineRate, v); }},
        {"time_scale",
         [&](auto v) { return store(timeScale, parseDouble(v), "a factor of 0 or more"); }},
        {"supply_min", [&](auto v) { return setUnsigned(supplyMin, v, 255); }},
        {"supply_max", [&](auto v) { return setUnsigned(supplyMax, v, 255); }},
        {"supply_broken", [&](auto v) { return setBool(supplyBroken, v); }},
        {"timing.erase_image_ms", [&](auto v) { return setUnsigned(eraseImageMs, v, 600000); }},
        {"external_supply",
         [&](auto v) {
             return store(
                 externalSupply, parseUnsigned(v),
                 [](uint64_t parsed) { return parsed == 0 || (parsed >= 18 && parsed <= 36); },
                 "0 (none) or 18 to 36 tenths of a volt");
         }},
        {"selftest",
         [&](auto v) -> std::optional<std::string> {
             if (v == "pass") {
                 selftest = 0;
                 return std::nullopt;
             }
             return store(
                 selftest, parseUnsigned(v),
                 [](uint64_t parsed) {
                     return parsed >= wire::kMiscSelftestFirst && parsed <= wire::kMiscSelftestLast;
                 },
                 "pass or an error number from 2 to 8");
         }},
        {"selftest.only_run", [&](auto v) { return setUnsigned(selftestOnlyRun, v, UINT64_MAX); }},
        {"dump_targets", [&](auto v) { return setBool(dumpTargets, v); }},
        {"power_cycle.after_firmware_bytes",
         [&](auto v) { return setUnsigned(powerCycleAfterFirmwareBytes, v, UINT64_MAX); }},
        {"image.lost_at_run", [&](auto v) { return setUnsigned(imageLostAtRun, v, UINT64_MAX); }},
        {"fault.seed", [&](auto v) { return setUnsigned(faultSeed, v, UINT64_MAX); }},
        {"fault.drop", [&](auto v) { return setProbability(faultDrop, v); }},
        {"fault.corrupt", [&](auto v) { return setProbability(faultCorrupt, v); }},
        {"fault.delay", [&](auto v) { return setProbability(faultDelay, v); }},
        {"fault.delay_ms", [&](auto v) { return setUnsigned(faultDelayMs, v, 60000); }},
        {"fault.direction",
         [&](auto v) -> std::optional<std::string> {
             if (v == "both") {
                 faultDirection = FaultDirection::Both;
             } else if (v == "to_unit") {
                 faultDirection = FaultDirection::ToUnit;
             } else if (v == "from_unit") {
                 faultDirection = FaultDirection::FromUnit;
             } else {
                 return std::string("expected both, to_unit or from_unit");
             }
             return std::nullopt;
         }},
        {"fault.noise", [&](auto v) { return setDouble(faultNoise, v); }},
        {"fault.burst", [&](auto v) { return setProbability(faultBurst, v); }},
        {"fault.burst_min",
         [&](auto v) {
             return store(
                 faultBurstMin, parseUnsigned(v),
                 [](uint64_t n) { return n >= 1 && n <= kLongestBurst; }, "1 to 4096 bytes");
         }},
        {"fault.burst_max",
         [&](auto v) {
             return store(
                 faultBurstMax, parseUnsigned(v),
                 [](uint64_t n) { return n >= 1 && n <= kLongestBurst; }, "1 to 4096 bytes");
         }},
        {"fault.stall", [&](auto v) { return setProbability(faultStall, v); }},
        {"fault.stall_ms", [&](auto v) { return setUnsigned(faultStallMs, v, 60000); }},
        {"fault.unplug_resets", [&](auto v) { return setBool(faultUnplugResets, v); }},
        {"misbehave.command",
         [&](auto v) -> std::optional<std::string> {
             if (v == "all") {
                 misbehave.command.reset();
                 return std::nullopt;
             }
             if (const auto code = commandOfName(v)) {
                 misbehave.command = *code;
                 return std::nullopt;
             }
             return std::string("expected all or a command name (ImageErase, GetResult, ...)");
         }},
        {"misbehave.busy", [&](auto v) { return setBool(misbehave.endlessBusy, v); }},
        {"misbehave.wrong_seq", [&](auto v) { return setProbability(misbehave.wrongSeq, v); }},
        {"misbehave.stale_seq", [&](auto v) { return setProbability(misbehave.staleSeq, v); }},
        {"misbehave.frame_crc", [&](auto v) { return setProbability(misbehave.frameCrc, v); }},
        {"misbehave.readout_crc", [&](auto v) { return setProbability(misbehave.readoutCrc, v); }},
        {"misbehave.short_readout",
         [&](auto v) { return setProbability(misbehave.shortReadout, v); }},
        {"misbehave.late_readout",
         [&](auto v) { return setProbability(misbehave.lateReadout, v); }},
        {"misbehave.late_ms", [&](auto v) { return setUnsigned(misbehave.lateMs, v, 60000); }},
        {"misbehave.silent_after",
         [&](auto v) { return setUnsigned(misbehave.silentAfter, v, UINT64_MAX); }},
        {"misbehave.silent_for_ms",
         [&](auto v) { return setUnsigned(misbehave.silentForMs, v, UINT32_MAX); }},
        {"unplug.after_bytes",
         [&](auto v) { return setUnsigned(unplugAfterBytes, v, UINT64_MAX); }},
        {"unplug.at_ms", [&](auto v) { return setUnsigned(unplugAtMs, v, UINT32_MAX); }},
        {"unplug.for_ms", [&](auto v) { return setUnsigned(unplugForMs, v, UINT32_MAX); }},
    };
    for (const auto& [name, member] : kTimingKeys) {
        setters.emplace(name, [this, member](auto v) { return setDouble(timing.*member, v); });
    }
    if (key.starts_with("target.")) {
        // target.N.KEY for socket N (1..8), or target.all.KEY for every socket.
        const std::string_view rest = key.substr(7);
        const auto dot = rest.find('.');
        const std::string_view which = rest.substr(0, dot);
        const std::string_view subkey =
            dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        std::vector<TargetSetup*> chosen;
        if (which == "all") {
            for (auto& target : targets) {
                chosen.push_back(&target);
            }
        } else if (const auto number = parseUnsigned(which);
                   number && *number >= 1 && *number <= 8) {
            chosen.push_back(&targets[*number - 1]);
        } else {
            return std::string(key) + ": expected target.1 to target.8 or target.all";
        }
        for (TargetSetup* target : chosen) {
            if (auto error = setTarget(*target, subkey, value)) {
                return std::string(key) + ": " + *error;
            }
        }
        return std::nullopt;
    }
    const auto found = setters.find(key);
    if (found == setters.end()) {
        return "unknown key \"" + std::string(key) + "\"";
    }
    if (auto error = found->second(value)) {
        return std::string(key) + ": " + *error;
    }
    return std::nullopt;
}

std::optional<std::string> Scenario::parse(std::string_view text) {
    uint32_t lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (const auto hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        line = trim(line);
        if (line.empty()) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return "line " + std::to_string(lineNumber) + ": expected key = value";
        }
        if (auto error = set(trim(line.substr(0, equals)), trim(line.substr(equals + 1)))) {
            return "line " + std::to_string(lineNumber) + ": " + *error;
        }
    }
    return std::nullopt;
}

std::optional<std::string> Scenario::loadFiles() {
    for (size_t i = 0; i < targets.size(); ++i) {
        TargetSetup& target = targets[i];
        if (!target.type.empty() && !devices::findDeviceType(target.type)) {
            return "target." + std::to_string(i + 1) + ".type: unknown device type \"" +
                   target.type + "\"";
        }
        if (target.memory != InitialMemory::File || target.memoryImage) {
            continue;
        }
        const std::string where = "target." + std::to_string(i + 1) + ".memory";
        std::ifstream in(target.memoryFile, std::ios::binary);
        if (!in) {
            return where + ": cannot read " + target.memoryFile;
        }
        std::stringstream text;
        text << in.rdbuf();
        objfile::Image image;
        const auto result = objfile::loadObjectFile(target.memoryFile, text.str(), image);
        if (!result.ok()) {
            return where + ": " + target.memoryFile + ", " + result.error->describe();
        }
        target.memoryImage = std::move(image);
    }
    return std::nullopt;
}

} // namespace octo::unitsim

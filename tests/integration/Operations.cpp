#include "Operations.h"

#include "CallBounds.h"

#include <files/atomic_file.h>
#include <objfile/firmware_file.h>
#include <objfile/load.h>
#include <octo816.h>
#include <wire/messages.h>

#include <array>
#include <chrono>
#include <cstdio>

namespace octo::testing {

namespace {

namespace opt = wire::option;

constexpr uint32_t kProgramAll = opt::kEraseInfo | opt::kEraseMain | opt::kProgram | opt::kVerify;
constexpr uint8_t kThreeVolts = 30;
constexpr uint16_t kSettleMs = 10;
constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kEveryTarget = 0xFF;
constexpr uint32_t kFirmwareAreaStart = 0x2400;
constexpr uint32_t kFirmwareAreaLength = 0xDA00;

uint64_t stateNumber(const SimulatedUnit& unit, const std::string& key) {
    const std::string value = unit.state(key);
    return value.empty() || value[0] < '0' || value[0] > '9' ? 0 : std::stoull(value);
}

} // namespace

Outcome Operations::timed(double boundMs, const std::function<int32_t()>& call) const {
    Outcome outcome;
    outcome.boundMs = boundMs;
    const auto started = std::chrono::steady_clock::now();
    outcome.code = call();
    outcome.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    return outcome;
}

Outcome Operations::eraseImage() {
    Outcome outcome = timed(bounds::erase(rate_), [] { return OctoEraseImage(); });
    if (outcome.code == 0 && unit_.state("image.0.state") != "erased") {
        outcome.truthful = false;
        outcome.detail = "erase reported, slot 0 " + unit_.state("image.0.state");
    }
    return outcome;
}

Outcome Operations::loadImage(const std::filesystem::path& file, const std::string& type) {
    const objfile::Image expected = imageOfFile(file);
    Outcome outcome = timed(bounds::loadImage(static_cast<double>(expected.byteCount()), rate_),
                            [&] { return OctoLoadImage(file.c_str(), type.c_str()); });
    const bool complete = unit_.state("image.0.state") == "complete";
    // A slot marked complete holds exactly the file, whatever the call said (its last
    // answer may have been lost after the unit had checked everything).
    if ((outcome.code == 0 && !complete) || (complete && !(unit_.slot(0) == expected))) {
        outcome.truthful = false;
        outcome.detail = "load " + file.filename().string() + " gave " +
                         std::to_string(outcome.code) + ", slot 0 " + unit_.state("image.0.state") +
                         (complete ? " with other bytes than the file's" : "");
    }
    return outcome;
}

Outcome Operations::mainProcess(uint32_t tenths, uint32_t presentSockets) {
    Outcome outcome = timed(bounds::shortCall(rate_),
                            [] { return OctoLoadParameters(kProgramAll, kThreeVolts, kSettleMs); });
    if (outcome.code != 0) {
        return outcome;
    }
    const double parametersOverrun = outcome.overrunMs();
    const uint64_t runsBefore = stateNumber(unit_, "run.main_processes");
    outcome = timed(bounds::mainProcess(tenths, rate_), [&] { return OctoMainProcess(tenths); });
    outcome.otherOverrunMs = parametersOverrun;
    if (outcome.code != 0) {
        return outcome;
    }
    const std::string unitRun = unit_.state("run.result");
    if (stateNumber(unit_, "run.main_processes") != runsBefore + 1) {
        outcome.truthful = false;
        outcome.detail = "run reported, the unit ran " + unit_.state("run.main_processes") +
                         " (before " + std::to_string(runsBefore) + ")";
        return outcome;
    }
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    const Outcome result =
        timed(bounds::getResult(rate_), [&] { return OctoGetResult(block.data()); });
    outcome.otherOverrunMs = std::max(outcome.otherOverrunMs, result.overrunMs());
    if (result.code != 0 && result.code != 50) {
        return outcome; // the link failed after the run: nothing reported to check
    }
    std::string reported;
    for (size_t i = 0; i < wire::ResultReply::kRunBytes; ++i) {
        char item[4];
        std::snprintf(item, sizeof item, "%02X", block[i]);
        reported += reported.empty() ? item : std::string(" ") + item;
    }
    if (reported != unitRun) {
        outcome.truthful = false;
        outcome.detail = "run reported as " + reported + ", the unit's was " + unitRun;
        return outcome;
    }
    if (unit_.state("run.failed") != "no" || block[wire::kOverAllByte] != kEveryTarget) {
        return outcome;
    }
    const objfile::Image image = unit_.slot(0);
    for (uint32_t socket = 1; socket <= presentSockets; ++socket) {
        const objfile::Image memory = unit_.targetMemory(static_cast<int>(socket));
        for (const auto& run : image.runs()) {
            for (size_t i = 0; i < run.bytes.size(); ++i) {
                const uint32_t address = run.start + static_cast<uint32_t>(i);
                if (memory.at(address) != run.bytes[i]) {
                    outcome.truthful = false;
                    outcome.detail = "run reported passed, target " + std::to_string(socket) +
                                     " differs at " + std::to_string(address);
                    return outcome;
                }
            }
        }
    }
    return outcome;
}

Outcome Operations::eraseFirmware() {
    return timed(bounds::erase(rate_),
                 [] { return OctoEraseFirmware(kFirmwareAreaStart, kFirmwareAreaLength); });
}

Outcome Operations::loadFirmware(const std::filesystem::path& file) {
    const objfile::FirmwareFile firmware = objfile::readFirmwareFile(file.string(), "firmware");
    const uint64_t loadsBefore = stateNumber(unit_, "firmware.loads");
    Outcome outcome =
        timed(bounds::loadFirmware(static_cast<double>(firmware.image.byteCount()), rate_),
              [&] { return OctoLoadFirmware(file.c_str()); });
    char version[16] = "none";
    if (firmware.check.info) {
        std::snprintf(version, sizeof version, "0x%04X", firmware.check.info->version);
    }
    if (outcome.code == 0 && (unit_.state("firmware.state") != "installed" ||
                              stateNumber(unit_, "firmware.loads") != loadsBefore + 1 ||
                              unit_.state("identity.firmware_version") != version)) {
        outcome.truthful = false;
        outcome.detail = "firmware reported loaded, unit " + unit_.state("firmware.state");
    }
    return outcome;
}

Outcome Operations::readOut(uint8_t target, uint32_t start, uint32_t length,
                            const std::filesystem::path& path) {
    Outcome outcome = timed(bounds::readTargetFile(length, rate_), [&] {
        return OctoReadTargetFile(target, start, length, path.c_str(), OCTO_FORMAT_QX_TEXT);
    });
    if (outcome.code == 0) {
        outcome.truthful =
            readOutMatches(path, unit_.targetMemory(target + 1), start, length, outcome.detail);
    } else if (std::filesystem::exists(path) || temporaryLeftovers(path.parent_path())) {
        outcome.truthful = false;
        outcome.detail =
            "read-out failed with " + std::to_string(outcome.code) + " and left a file behind";
    }
    return outcome;
}

Outcome Operations::getResult() {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    Outcome outcome = timed(bounds::getResult(rate_), [&] { return OctoGetResult(block.data()); });
    if (outcome.code == 0) {
        char hardware[16];
        std::snprintf(hardware, sizeof hardware, "0x%02X%02X", block[8], block[9]);
        if (unit_.state("identity.hardware_version") != hardware) {
            outcome.truthful = false;
            outcome.detail = std::string("result block names hardware ") + hardware;
        }
    }
    return outcome;
}

Outcome Operations::setSupply(uint32_t code) {
    Outcome outcome = timed(bounds::shortCall(rate_), [&] { return OctoSetVccTarget(code); });
    if (outcome.code == 0 && unit_.state("supply.voltage") != std::to_string(code)) {
        outcome.truthful = false;
        outcome.detail = "supply reported on, unit at " + unit_.state("supply.voltage");
    }
    return outcome;
}

Outcome Operations::setSignals(uint16_t word) {
    Outcome outcome =
        timed(bounds::shortCall(rate_), [&] { return OctoSetSignals(word, kThreeVolts); });
    char expected[16];
    std::snprintf(expected, sizeof expected, "0x%04X", word);
    if (outcome.code == 0 && unit_.state("signals.word") != expected) {
        outcome.truthful = false;
        outcome.detail = "signals reported set, unit has " + unit_.state("signals.word");
    }
    return outcome;
}

bool readOutMatches(const std::filesystem::path& file, const objfile::Image& target, uint32_t start,
                    uint32_t length, std::string& detail) {
    objfile::Image back;
    if (!objfile::loadObjectFile(file.filename().string(), readFile(file), back).ok()) {
        detail = file.string() + " is not a readable object file";
        return false;
    }
    if (back.byteCount() != length) {
        detail = file.string() + " holds " + std::to_string(back.byteCount()) + " bytes";
        return false;
    }
    for (uint64_t address = start; address < uint64_t{start} + length; ++address) {
        const auto a = static_cast<uint32_t>(address);
        if (back.at(a) != target.at(a).value_or(kErased)) {
            detail = "read-out differs from the target at " + std::to_string(a);
            return false;
        }
    }
    return true;
}

bool temporaryLeftovers(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().string().ends_with(files::kTemporarySuffix)) {
            return true;
        }
    }
    return false;
}

} // namespace octo::testing

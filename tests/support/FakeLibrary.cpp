#include "support/FakeLibrary.h"

#include <objfile/firmware_file.h>

#include <algorithm>
#include <cstring>

namespace octo::testing {

namespace {

// The real library's answer when no port has been named.
constexpr int32_t kNoUnit = 5;

std::string call(const std::string& name, std::initializer_list<uint32_t> args) {
    std::string text = name;
    for (uint32_t arg : args) {
        text += " " + std::to_string(arg);
    }
    return text;
}

} // namespace

void FakeLibrary::script(const std::string& function, std::initializer_list<int32_t> results) {
    auto& queue = scripted_[function];
    queue.insert(queue.end(), results.begin(), results.end());
}

int FakeLibrary::calls(const std::string& function) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
        return c == function || c.starts_with(function + " ");
    }));
}

void FakeLibrary::record(const std::string& text) {
    calls_.push_back(text);
    if (log_) {
        log_->add(text);
    }
}

int32_t FakeLibrary::answer(const std::string& function, const std::string& text,
                            int32_t unscripted) {
    record(text);
    if (whileWaiting) {
        whileWaiting(function);
    }
    auto& queue = scripted_[function];
    if (!queue.empty()) {
        const int32_t result = queue.front();
        queue.pop_front();
        return result;
    }
    const auto fallback = fallback_.find(function);
    return fallback == fallback_.end() ? unscripted : fallback->second;
}

int32_t FakeLibrary::unitAnswer(const std::string& function, const std::string& text) {
    if (!portNamed) {
        record(text);
        return kNoUnit;
    }
    return answer(function, text);
}

int32_t FakeLibrary::initProgress(void*, void*) {
    return answer("InitProgress", "InitProgress");
}

int32_t FakeLibrary::initStatusLamp(const OctoStatusLampTable*) {
    return answer("InitStatusLamp", "InitStatusLamp");
}

int32_t FakeLibrary::initCom(const std::string& portPath, uint32_t baudRate) {
    portNamed = true;
    return answer("InitCom", "InitCom " + portPath + " " + std::to_string(baudRate));
}

int32_t FakeLibrary::releaseCom() {
    return answer("ReleaseCom", "ReleaseCom");
}

std::string FakeLibrary::getErrorString(int32_t code) {
    answer("GetErrorString", "GetErrorString " + std::to_string(code));
    return errorText(code);
}

int32_t FakeLibrary::getDevice(const std::string& typeName, const OctoSegmentEntry** table) {
    const int32_t result = answer("GetDevice", "GetDevice " + typeName);
    const auto found = devices.find(typeName);
    if (result != 0 || found == devices.end()) {
        return result != 0 ? result : 1;
    }
    handedOut_ = found->second;
    *table = handedOut_.data();
    return 0;
}

int32_t FakeLibrary::loadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) {
    return unitAnswer("OctoLoadParameters",
                      call("OctoLoadParameters", {options, targetVcc, settleMs}));
}

int32_t FakeLibrary::mainProcess(uint32_t timeoutTenths) {
    return unitAnswer("OctoMainProcess", call("OctoMainProcess", {timeoutTenths}));
}

int32_t FakeLibrary::getResult(uint8_t* block) {
    const int32_t result = unitAnswer("OctoGetResult", "OctoGetResult");
    // 50: the block is filled, but the run counts as failed.
    if (result == 0 || result == 50) {
        std::memcpy(block, resultBlock.data(), resultBlock.size());
    }
    return result;
}

int32_t FakeLibrary::selftest(uint32_t timeoutTenths) {
    return unitAnswer("OctoSelftest", call("OctoSelftest", {timeoutTenths}));
}

int32_t FakeLibrary::eraseImage() {
    return unitAnswer("OctoEraseImage", "OctoEraseImage");
}

int32_t FakeLibrary::loadImage(const std::string& path, const std::string& typeName) {
    return unitAnswer("OctoLoadImage", "OctoLoadImage " + path + " " + typeName);
}

int32_t FakeLibrary::appendImage() {
    return unitAnswer("OctoAppendImage", "OctoAppendImage");
}

int32_t FakeLibrary::selectImage(uint32_t image) {
    return unitAnswer("OctoSelectImage", call("OctoSelectImage", {image}));
}

int32_t FakeLibrary::eraseFirmware(uint32_t start, uint32_t length) {
    return unitAnswer("OctoEraseFirmware", call("OctoEraseFirmware", {start, length}));
}

int32_t FakeLibrary::loadFirmware(const std::string& pathOrLoader) {
    return unitAnswer("OctoLoadFirmware", "OctoLoadFirmware " + pathOrLoader);
}

int32_t FakeLibrary::checkFirmware(const std::string& path) {
    using Problem = objfile::FirmwareFile::Problem;
    const objfile::FirmwareFile file = objfile::readFirmwareFile(path, path);
    constexpr int32_t kCannotOpen = 15;
    constexpr int32_t kFileIo = 13;
    constexpr int32_t kNotFirmware = 18;
    const int32_t code = file.problem == Problem::None         ? 0
                         : file.problem == Problem::CannotOpen ? kCannotOpen
                         : file.problem == Problem::FileIo     ? kFileIo
                         : file.problem == Problem::NotFirmware
                             ? kNotFirmware
                             : static_cast<int32_t>(file.read.code());
    return answer("OctoCheckFirmware", "OctoCheckFirmware " + path, code);
}

int32_t FakeLibrary::selectBaudrate(uint32_t baudIndex) {
    return unitAnswer("OctoSelectBaudrate", call("OctoSelectBaudrate", {baudIndex}));
}

int32_t FakeLibrary::setVccTarget(uint32_t supplyCode) {
    return unitAnswer("OctoSetVccTarget", call("OctoSetVccTarget", {supplyCode}));
}

int32_t FakeLibrary::readTargetFile(uint32_t target, uint32_t start, uint32_t length,
                                    const std::string& path, uint32_t format) {
    return unitAnswer("OctoReadTargetFile", call("OctoReadTargetFile", {target, start, length}) +
                                                " " + path + " " + std::to_string(format));
}

int32_t FakeLibrary::setSignals(uint32_t signalWord, uint32_t supplyCode) {
    return unitAnswer("OctoSetSignals", call("OctoSetSignals", {signalWord, supplyCode}));
}

int32_t FakeLibrary::accessTargetSfr(uint32_t target, uint32_t operation, uint32_t address,
                                     uint16_t* value) {
    return unitAnswer(
        "OctoAccessTargetSFR",
        call("OctoAccessTargetSFR", {target, operation, address, value ? *value : 0u}));
}

int32_t FakeLibrary::getUnitInfo(std::string& serial, uint32_t& runCount) {
    const int32_t result = answer("OctoGetUnitInfo", "OctoGetUnitInfo");
    if (result == 0) {
        serial = unitSerial;
        runCount = unitRuns;
    }
    return result;
}

int32_t FakeLibrary::setTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                                   uint32_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t i = 0; data != nullptr && i < length; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0xF];
    }
    return answer("OctoSetTargetData", call("OctoSetTargetData", {target, address}) + " " + hex);
}

int32_t FakeLibrary::clearTargetData() {
    return answer("OctoClearTargetData", "OctoClearTargetData");
}

} // namespace octo::testing

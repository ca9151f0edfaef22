// Every one of the library's 22 exports called once with arguments it accepts, through a
// table of function pointers: the native tests fill it with the linked functions, a Wine
// client of OCTO816.DLL with GetProcAddress. Used from inside the caller's message pump,
// where every export that touches the library's state must refuse with 4.
#pragma once

#include <octo816.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace octo::testing {

struct ExportTable {
#define OCTO_EXPORT_POINTER(name) decltype(&::name) name = nullptr;
    OCTO816_EXPORTS(OCTO_EXPORT_POINTER)
#undef OCTO_EXPORT_POINTER
};

// What a call answered: its code; for GetErrorString 0 when it gave a text, else -1.
using ExportCodes = std::vector<std::pair<std::string, int32_t>>;

// The codes a call from inside the pump must answer: 4 for all but the two that keep no
// state (the text and the device table), which work as ever.
inline int32_t codeInsideThePump(const std::string& name) {
    constexpr int32_t kBusy = 4;
    return name == "GetErrorString" || name == "GetDevice" ? 0 : kBusy;
}

// Calls all 22. `scratchFile` is a path a stray read-out or load may name (nothing must be
// written there); `port` the port the caller has open.
inline ExportCodes callEveryExport(const ExportTable& t, const std::string& scratchFile,
                                   const std::string& port) {
    static const OctoStatusLampTable kNoLamp{};
    constexpr uint32_t kRate = 115200;
    constexpr uint32_t kSupplyOff = 1;
    constexpr uint32_t kOptions = 0x3BB; // erase, check, program, verify
    constexpr uint32_t kVcc = 30;
    constexpr uint32_t kSettleMs = 100;
    constexpr uint32_t kTenths = 600;
    constexpr uint32_t kFirmwareStart = 0x8000;
    constexpr uint32_t kFirmwareLength = 0x100;
    constexpr uint32_t kReadStart = 0xFC00;
    constexpr uint32_t kReadLength = 0x100;
    constexpr uint32_t kSignalWord = 0x0100;
    constexpr uint32_t kSfrAddress = 0x21;
    const char* const kType = "ZEL816 A110";
    uint8_t block[OCTO_RESULT_BLOCK_BYTES] = {};
    const OctoSegmentEntry* table = nullptr;
    uint16_t value = 0;
    return {
        {"InitProgress", t.InitProgress(nullptr, nullptr)},
        {"InitStatusLamp", t.InitStatusLamp(&kNoLamp)},
        {"InitCom", t.InitCom(port.c_str(), kRate)},
        {"ReleaseCom", t.ReleaseCom()},
        {"GetErrorString", t.GetErrorString(4) && *t.GetErrorString(4) ? 0 : -1},
        {"GetDevice", t.GetDevice(kType, &table)},
        {"OctoLoadParameters", t.OctoLoadParameters(kOptions, kVcc, kSettleMs)},
        {"OctoMainProcess", t.OctoMainProcess(kTenths)},
        {"OctoGetResult", t.OctoGetResult(block)},
        {"OctoSelftest", t.OctoSelftest(kTenths)},
        {"OctoEraseImage", t.OctoEraseImage()},
        {"OctoLoadImage", t.OctoLoadImage(scratchFile.c_str(), kType)},
        {"OctoAppendImage", t.OctoAppendImage()},
        {"OctoSelectImage", t.OctoSelectImage(1)},
        {"OctoEraseFirmware", t.OctoEraseFirmware(kFirmwareStart, kFirmwareLength)},
        {"OctoLoadFirmware", t.OctoLoadFirmware(scratchFile.c_str())},
        {"OctoSelectBaudrate", t.OctoSelectBaudrate(0)},
        {"OctoSetVccTarget", t.OctoSetVccTarget(kSupplyOff)},
        {"OctoReadTargetFile", t.OctoReadTargetFile(0, kReadStart, kReadLength, scratchFile.c_str(),
                                                    OCTO_FORMAT_QX_TEXT)},
        {"OctoSetSignals", t.OctoSetSignals(kSignalWord, kVcc)},
        {"OctoAccessTargetSFR", t.OctoAccessTargetSFR(1, 0, kSfrAddress, &value)},
        {"OctoCheckFirmware", t.OctoCheckFirmware(scratchFile.c_str())},
    };
}

} // namespace octo::testing

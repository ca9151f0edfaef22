// The 21 exports, the two of target records and the unit's own record: check every
// argument (kOutOfRange, never a crash), refuse a second call from inside the first one's
// message pump, and keep every exception inside.
#include "api/Library.h"

#include <devices/device_table.h>
#include <wire/messages.h>

#include <cstring>
#include <span>

namespace {

using octo::library::Library;
namespace codes = octo::library;

// Longest device path accepted (Windows' MAX_PATH less the terminating zero).
constexpr size_t kLongestPortPath = 259;
constexpr size_t kLongestFilePath = 4095;
constexpr size_t kLongestTypeName = 255;
// Time-outs of OctoMainProcess and OctoSelftest, in tenths of a second: at most a day.
constexpr uint32_t kLongestTimeoutTenths = 24 * 60 * 60 * 10;
static_assert(OCTO_TARGET_DATA_BYTES == octo::wire::kLongestTargetRecord,
              "a record the library takes fits the request");
static_assert(OCTO_UNIT_SERIAL_BYTES == octo::wire::UnitRecord::kMaxSerialChars + 1,
              "the longest serial number and its zero fit the caller's buffer");

bool validText(const char* text, size_t longest) {
    return text != nullptr && text[0] != '\0' && strnlen(text, longest + 1) <= longest;
}

template <typename Body>
int32_t guarded(Body&& body) {
    // The first call builds the instance; that can throw as well.
    try {
        Library& library = Library::instance();
        Library::CallGuard guard(library);
        if (!guard.entered()) {
            return codes::kBusy;
        }
        return body(library);
    } catch (...) {
        return codes::kInternal;
    }
}

} // namespace

extern "C" {

int32_t OCTO_API InitProgress(OctoHandle statusLine, OctoHandle progressBar) {
    return guarded([&](Library& l) { return l.initProgress(statusLine, progressBar); });
}

int32_t OCTO_API InitStatusLamp(const OctoStatusLampTable* table) {
    if (!table) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.initStatusLamp(*table); });
}

int32_t OCTO_API InitCom(const char* portPath, uint32_t baudRate) {
    if (!validText(portPath, kLongestPortPath)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.initCom(portPath, baudRate); });
}

int32_t OCTO_API ReleaseCom(void) {
    return guarded([](Library& l) { return l.releaseCom(); });
}

const char* OCTO_API GetErrorString(int32_t code) {
    return codes::errorText(code);
}

int32_t OCTO_API GetDevice(const char* typeName, const OctoSegmentEntry** table) {
    if (!validText(typeName, kLongestTypeName) || !table) {
        return codes::kOutOfRange;
    }
    try {
        return octo::devices::getDeviceTable(typeName, table);
    } catch (...) {
        return codes::kInternal;
    }
}

int32_t OCTO_API OctoLoadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) {
    if (!octo::wire::validParameters(options, targetVcc, settleMs)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        return l.loadParameters(options, static_cast<uint8_t>(targetVcc),
                                static_cast<uint16_t>(settleMs));
    });
}

int32_t OCTO_API OctoMainProcess(uint32_t timeoutTenths) {
    if (timeoutTenths == 0 || timeoutTenths > kLongestTimeoutTenths) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.mainProcess(timeoutTenths); });
}

int32_t OCTO_API OctoGetResult(uint8_t* block) {
    if (!block) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.getResult(block); });
}

int32_t OCTO_API OctoSelftest(uint32_t timeoutTenths) {
    if (timeoutTenths == 0 || timeoutTenths > kLongestTimeoutTenths) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.selftest(timeoutTenths); });
}

int32_t OCTO_API OctoEraseImage(void) {
    return guarded([](Library& l) { return l.eraseImage(); });
}

int32_t OCTO_API OctoLoadImage(const char* path, const char* typeName) {
    if (!validText(path, kLongestFilePath) || !validText(typeName, kLongestTypeName)) {
        return guarded([](Library& l) {
            l.dropAppend();
            return codes::kOutOfRange;
        });
    }
    return guarded([&](Library& l) { return l.loadImage(path, typeName); });
}

int32_t OCTO_API OctoAppendImage(void) {
    return guarded([](Library& l) { return l.appendImage(); });
}

int32_t OCTO_API OctoSelectImage(uint32_t image) {
    if (image >= octo::wire::kImageSlots) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.selectImage(static_cast<uint8_t>(image)); });
}

int32_t OCTO_API OctoEraseFirmware(uint32_t start, uint32_t length) {
    if (length == 0 || uint64_t{start} + length > octo::wire::kUnitMemoryEnd) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.eraseFirmware(start, length); });
}

int32_t OCTO_API OctoLoadFirmware(const char* pathOrLoader) {
    if (!validText(pathOrLoader, kLongestFilePath)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.loadFirmware(pathOrLoader); });
}

int32_t OCTO_API OctoCheckFirmware(const char* path) {
    if (!validText(path, kLongestFilePath)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.checkFirmware(path); });
}

int32_t OCTO_API OctoSelectBaudrate(uint32_t baudIndex) {
    if (baudIndex >= octo::wire::kBaudRates.size()) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.selectBaudrate(baudIndex); });
}

int32_t OCTO_API OctoSetVccTarget(uint32_t supplyCode) {
    if (!octo::wire::validSupplyCode(supplyCode)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.setVccTarget(supplyCode); });
}

int32_t OCTO_API OctoReadTargetFile(uint32_t target, uint32_t start, uint32_t length,
                                    const char* path, uint32_t format) {
    // A target's whole address space is 1 MiB: nothing beyond it can be read.
    if (target >= octo::wire::kTargets || length == 0 ||
        uint64_t{start} + length > octo::wire::kTargetAddressSpace ||
        !validText(path, kLongestFilePath) ||
        (format != OCTO_FORMAT_QX_TEXT && format != OCTO_FORMAT_INTEL_HEX)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        return l.readTargetFile(static_cast<uint8_t>(target), start, length, path, format);
    });
}

int32_t OCTO_API OctoSetSignals(uint32_t signalWord, uint32_t supplyCode) {
    if (signalWord > 0xFFFF || !octo::wire::validSupplyCode(supplyCode)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        return l.setSignals(static_cast<uint16_t>(signalWord), static_cast<uint8_t>(supplyCode));
    });
}

int32_t OCTO_API OctoAccessTargetSFR(uint32_t target, uint32_t operation, uint32_t address,
                                     uint16_t* value) {
    if (target < 1 || target > octo::wire::kTargets || operation > octo::wire::kLastSfrOperation ||
        address >= octo::wire::kSfrSpaceEnd || !value) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        // A read sends 0, never whatever the caller's variable happened to hold.
        uint16_t inOut =
            operation == static_cast<uint32_t>(octo::wire::SfrOperation::Read) ? 0 : *value;
        const int32_t code =
            l.accessTargetSfr(static_cast<uint8_t>(target - 1), static_cast<uint8_t>(operation),
                              static_cast<uint16_t>(address), inOut);
        if (code == codes::kOk) {
            *value = inOut;
        }
        return code;
    });
}

int32_t OCTO_API OctoSetTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                                   uint32_t length) {
    if (target < 1 || target > octo::wire::kTargets || !data || length == 0 ||
        length > OCTO_TARGET_DATA_BYTES ||
        uint64_t{address} + length > octo::wire::kTargetAddressSpace) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        return l.setTargetData(static_cast<uint8_t>(target - 1), address,
                               std::span<const uint8_t>(data, length));
    });
}

int32_t OCTO_API OctoClearTargetData(void) {
    return guarded([](Library& l) { return l.clearTargetData(); });
}

int32_t OCTO_API OctoGetUnitInfo(char* serial, uint32_t serialSize, uint32_t* runCount) {
    if (!serial || serialSize < OCTO_UNIT_SERIAL_BYTES || !runCount) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        std::string text;
        std::optional<uint32_t> count;
        const int32_t code = l.getUnitInfo(text, count);
        if (code == codes::kOk) {
            std::memcpy(serial, text.c_str(), text.size() + 1);
            *runCount = count.value_or(OCTO_RUN_COUNT_UNKNOWN);
        }
        return code;
    });
}

} // extern "C"

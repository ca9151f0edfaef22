// The 21 exports: check every argument (kOutOfRange, never a crash), refuse a second
// call from inside the first one's message pump, and keep every exception inside.
#include "api/Library.h"

#include <devices/device_table.h>
#include <wire/messages.h>

#include <cstring>
#include <new>

namespace {

using octo::library::Library;
namespace codes = octo::library;

// Longest device path accepted (Windows' MAX_PATH less the terminating zero).
constexpr size_t kLongestPortPath = 259;
constexpr size_t kLongestFilePath = 4095;
constexpr size_t kLongestTypeName = 255;

bool validText(const char* text, size_t longest) {
    return text != nullptr && text[0] != '\0' && strnlen(text, longest + 1) <= longest;
}

template <typename Body>
int32_t guarded(Body&& body) {
    Library& library = Library::instance();
    Library::CallGuard guard(library);
    if (!guard.entered()) {
        return codes::kBusy;
    }
    try {
        return body(library);
    } catch (const std::bad_alloc&) {
        return codes::kInternal;
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

int32_t OCTO_API OctoLoadParameters(uint32_t /*options*/, uint32_t targetVcc, uint32_t settleMs) {
    if (targetVcc > 0xFF || settleMs > 0xFFFF) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

int32_t OCTO_API OctoMainProcess(uint32_t timeoutTenths) {
    if (timeoutTenths == 0) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

int32_t OCTO_API OctoGetResult(uint8_t* block) {
    if (!block) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) { return l.getResult(block); });
}

int32_t OCTO_API OctoSelftest(uint32_t timeoutTenths) {
    if (timeoutTenths == 0) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

int32_t OCTO_API OctoEraseImage(void) {
    return guarded([](Library& l) { return l.eraseImage(); });
}

int32_t OCTO_API OctoLoadImage(const char* path, const char* typeName) {
    if (!validText(path, kLongestFilePath) || !validText(typeName, kLongestTypeName)) {
        return codes::kOutOfRange;
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
    if (length == 0 || uint64_t{start} + length > 0x10000) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

int32_t OCTO_API OctoLoadFirmware(const char* pathOrLoader) {
    if (!validText(pathOrLoader, kLongestFilePath)) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
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
    if (target > 7 || length == 0 || uint64_t{start} + length > (uint64_t{1} << 32) ||
        !validText(path, kLongestFilePath) ||
        (format != OCTO_FORMAT_QX_TEXT && format != OCTO_FORMAT_INTEL_HEX)) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

int32_t OCTO_API OctoSetSignals(uint32_t signalWord, uint32_t supplyCode) {
    if (signalWord > 0xFFFF || !octo::wire::validSupplyCode(supplyCode)) {
        return codes::kOutOfRange;
    }
    return guarded([&](Library& l) {
        return l.setSignals(static_cast<uint16_t>(signalWord), static_cast<uint8_t>(supplyCode));
    });
}

int32_t OCTO_API OctoAccessTargetSFR(uint32_t target, uint32_t /*operation*/, uint32_t address,
                                     uint16_t* value) {
    if (target < 1 || target > 8 || address > 0xFFFF || !value) {
        return codes::kOutOfRange;
    }
    return codes::kNotAvailable;
}

} // extern "C"

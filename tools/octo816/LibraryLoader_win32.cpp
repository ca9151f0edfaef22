// OCTO816.DLL's exports carry undecorated __stdcall names, which the compiler's import
// libraries cannot name; the tool resolves them itself and defines the functions of the
// header as calls through the resolved addresses.
#include "LibraryLoader.h"

#include <octo816.h>

#include <windows.h>

namespace octo::cli {

namespace {

constexpr char kLibraryName[] = "OCTO816.DLL";
// The library's code for a function it does not have.
constexpr int32_t kNotAvailable = 10;

struct Exports {
#define OCTO_POINTER(name) decltype(&::name) name = nullptr;
    OCTO816_EXPORTS(OCTO_POINTER)
    OCTO816_UNIT_INFO_EXPORTS(OCTO_POINTER)
    OCTO816_TARGET_DATA_EXPORTS(OCTO_POINTER)
#undef OCTO_POINTER
};

Exports& exports() {
    static Exports table;
    return table;
}

template <typename Function>
bool resolve(HMODULE module, const char* name, Function& function) {
    // GetProcAddress returns a generic pointer; the export's type is the header's.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

} // namespace

bool loadLibrary() {
    const HMODULE module = LoadLibraryA(kLibraryName);
    if (module == nullptr) {
        return false;
    }
    bool complete = true;
#define OCTO_RESOLVE(name) complete = resolve(module, #name, exports().name) && complete;
    OCTO816_EXPORTS(OCTO_RESOLVE)
#undef OCTO_RESOLVE
    // Optional: an older library leaves it null, and the unit's record is then unknown.
    resolve(module, "OctoGetUnitInfo", exports().OctoGetUnitInfo);
    // Looked up on their own: their absence matters only to a command that serializes.
#define OCTO_RESOLVE_OPTIONAL(name) resolve(module, #name, exports().name);
    OCTO816_TARGET_DATA_EXPORTS(OCTO_RESOLVE_OPTIONAL)
#undef OCTO_RESOLVE_OPTIONAL
    return complete;
}

bool hasTargetData() {
    return exports().OctoSetTargetData != nullptr && exports().OctoClearTargetData != nullptr;
}

} // namespace octo::cli

using octo::cli::exports;

extern "C" {

int32_t OCTO_API InitCom(const char* portPath, uint32_t baudRate) {
    return exports().InitCom(portPath, baudRate);
}
int32_t OCTO_API ReleaseCom(void) {
    return exports().ReleaseCom();
}
const char* OCTO_API GetErrorString(int32_t code) {
    return exports().GetErrorString(code);
}
int32_t OCTO_API GetDevice(const char* typeName, const OctoSegmentEntry** table) {
    return exports().GetDevice(typeName, table);
}
int32_t OCTO_API OctoLoadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) {
    return exports().OctoLoadParameters(options, targetVcc, settleMs);
}
int32_t OCTO_API OctoMainProcess(uint32_t timeoutTenths) {
    return exports().OctoMainProcess(timeoutTenths);
}
int32_t OCTO_API OctoGetResult(uint8_t* block) {
    return exports().OctoGetResult(block);
}
int32_t OCTO_API OctoSelftest(uint32_t timeoutTenths) {
    return exports().OctoSelftest(timeoutTenths);
}
int32_t OCTO_API OctoEraseImage(void) {
    return exports().OctoEraseImage();
}
int32_t OCTO_API OctoLoadImage(const char* path, const char* typeName) {
    return exports().OctoLoadImage(path, typeName);
}
int32_t OCTO_API OctoAppendImage(void) {
    return exports().OctoAppendImage();
}
int32_t OCTO_API OctoSelectImage(uint32_t image) {
    return exports().OctoSelectImage(image);
}
int32_t OCTO_API OctoEraseFirmware(uint32_t start, uint32_t length) {
    return exports().OctoEraseFirmware(start, length);
}
int32_t OCTO_API OctoLoadFirmware(const char* pathOrLoader) {
    return exports().OctoLoadFirmware(pathOrLoader);
}
int32_t OCTO_API OctoCheckFirmware(const char* path) {
    return exports().OctoCheckFirmware(path);
}
// Called only after hasTargetData(): serialization refuses to start without them.
int32_t OCTO_API OctoSetTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                                   uint32_t length) {
    return exports().OctoSetTargetData(target, address, data, length);
}
int32_t OCTO_API OctoClearTargetData(void) {
    return exports().OctoClearTargetData();
}
int32_t OCTO_API OctoReadTargetFile(uint32_t target, uint32_t start, uint32_t length,
                                    const char* path, uint32_t format) {
    return exports().OctoReadTargetFile(target, start, length, path, format);
}
int32_t OCTO_API OctoGetUnitInfo(char* serial, uint32_t serialSize, uint32_t* runCount) {
    if (!exports().OctoGetUnitInfo) {
        return octo::cli::kNotAvailable;
    }
    return exports().OctoGetUnitInfo(serial, serialSize, runCount);
}

} // extern "C"

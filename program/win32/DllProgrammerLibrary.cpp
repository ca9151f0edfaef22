#include "win32/DllProgrammerLibrary.h"

#include <windows.h>

#include <array>

namespace octo {

namespace {

// Owns the loaded module.
class Module {
public:
    explicit Module(HMODULE module) : module_(module) {}
    ~Module() {
        if (module_) {
            FreeLibrary(module_);
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

struct Functions {
#define OCTO_POINTER(name) decltype(&::name) name = nullptr;
    OCTO816_EXPORTS(OCTO_POINTER)
    OCTO816_UNIT_INFO_EXPORTS(OCTO_POINTER)
#undef OCTO_POINTER
};

template <typename Function>
bool resolve(HMODULE module, const char* name, Function& function) {
    // GetProcAddress returns a generic pointer; the export's type is the header's.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

// The target-record exports, looked up at their first use only: a program that does not
// serialize never asks for them, and a library without them serves everything else.
struct TargetDataFunctions {
#define OCTO_POINTER(name) decltype(&::name) name = nullptr;
    OCTO816_TARGET_DATA_EXPORTS(OCTO_POINTER)
#undef OCTO_POINTER
};

class DllProgrammerLibrary final : public ProgrammerLibrary {
public:
    DllProgrammerLibrary(std::unique_ptr<Module> module, const Functions& functions)
        : module_(std::move(module)), f_(functions) {}

    int32_t initProgress(void* statusLine, void* progressBar) override {
        return f_.InitProgress(statusLine, progressBar);
    }
    int32_t initStatusLamp(const OctoStatusLampTable* table) override {
        return f_.InitStatusLamp(table);
    }
    int32_t initCom(const std::string& portPath, uint32_t baudRate) override {
        return f_.InitCom(portPath.c_str(), baudRate);
    }
    int32_t releaseCom() override { return f_.ReleaseCom(); }
    std::string getErrorString(int32_t code) override {
        const char* text = f_.GetErrorString(code);
        return text ? std::string(text) : std::string();
    }
    int32_t getDevice(const std::string& typeName, const OctoSegmentEntry** table) override {
        return f_.GetDevice(typeName.c_str(), table);
    }
    int32_t loadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) override {
        return f_.OctoLoadParameters(options, targetVcc, settleMs);
    }
    int32_t mainProcess(uint32_t timeoutTenths) override {
        return f_.OctoMainProcess(timeoutTenths);
    }
    int32_t getResult(uint8_t* block) override { return f_.OctoGetResult(block); }
    int32_t selftest(uint32_t timeoutTenths) override { return f_.OctoSelftest(timeoutTenths); }
    int32_t eraseImage() override { return f_.OctoEraseImage(); }
    int32_t loadImage(const std::string& path, const std::string& typeName) override {
        return f_.OctoLoadImage(path.c_str(), typeName.c_str());
    }
    int32_t appendImage() override { return f_.OctoAppendImage(); }
    int32_t selectImage(uint32_t image) override { return f_.OctoSelectImage(image); }
    int32_t eraseFirmware(uint32_t start, uint32_t length) override {
        return f_.OctoEraseFirmware(start, length);
    }
    int32_t loadFirmware(const std::string& pathOrLoader) override {
        return f_.OctoLoadFirmware(pathOrLoader.c_str());
    }
    int32_t selectBaudrate(uint32_t baudIndex) override { return f_.OctoSelectBaudrate(baudIndex); }
    int32_t setVccTarget(uint32_t supplyCode) override { return f_.OctoSetVccTarget(supplyCode); }
    int32_t readTargetFile(uint32_t target, uint32_t start, uint32_t length,
                           const std::string& path, uint32_t format) override {
        return f_.OctoReadTargetFile(target, start, length, path.c_str(), format);
    }
    int32_t setSignals(uint32_t signalWord, uint32_t supplyCode) override {
        return f_.OctoSetSignals(signalWord, supplyCode);
    }
    int32_t accessTargetSfr(uint32_t target, uint32_t operation, uint32_t address,
                            uint16_t* value) override {
        return f_.OctoAccessTargetSFR(target, operation, address, value);
    }
    int32_t checkFirmware(const std::string& path) override {
        return f_.OctoCheckFirmware(path.c_str());
    }

    int32_t getUnitInfo(std::string& serial, uint32_t& runCount) override {
        if (!f_.OctoGetUnitInfo) {
            return kNotAvailableResult;
        }
        std::array<char, OCTO_UNIT_SERIAL_BYTES> text{};
        const int32_t code = f_.OctoGetUnitInfo(text.data(), text.size(), &runCount);
        if (code == 0) {
            serial = text.data();
        }
        return code;
    }
    int32_t setTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                          uint32_t length) override {
        return resolveTargetData() ? t_.OctoSetTargetData(target, address, data, length)
                                   : kNotAvailableResult;
    }
    int32_t clearTargetData() override {
        return resolveTargetData() ? t_.OctoClearTargetData() : kNotAvailableResult;
    }

private:
    bool resolveTargetData() {
        if (!targetDataResolved_) {
            targetDataResolved_ = true;
            bool complete = true;
#define OCTO_RESOLVE(name) complete = resolve(module_->get(), #name, t_.name) && complete;
            OCTO816_TARGET_DATA_EXPORTS(OCTO_RESOLVE)
#undef OCTO_RESOLVE
            if (!complete) {
                t_ = {};
            }
        }
        return t_.OctoSetTargetData != nullptr;
    }

    std::unique_ptr<Module> module_;
    Functions f_;
    TargetDataFunctions t_;
    bool targetDataResolved_ = false;
};

} // namespace

std::unique_ptr<ProgrammerLibrary> loadDllProgrammerLibrary(const std::string& path) {
    auto module = std::make_unique<Module>(LoadLibraryA(path.c_str()));
    if (!module->get()) {
        return nullptr;
    }
    Functions functions;
    bool complete = true;
#define OCTO_RESOLVE(name) complete = resolve(module->get(), #name, functions.name) && complete;
    OCTO816_EXPORTS(OCTO_RESOLVE)
#undef OCTO_RESOLVE
    if (!complete) {
        return nullptr;
    }
    // Optional: an older library leaves it null, and the unit's record is then unknown.
    resolve(module->get(), "OctoGetUnitInfo", functions.OctoGetUnitInfo);
    return std::make_unique<DllProgrammerLibrary>(std::move(module), functions);
}

} // namespace octo

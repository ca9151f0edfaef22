// The Programmer library as the program calls it: the 22 functions of OCTO816.DLL, the unit's
// own record and the two target-record calls as one C++ interface, arguments in the library's
// order. Implementations: the DLL loaded at run time (program/win32), the library code linked
// in directly (native integration tests), a scripted fake (unit tests) and NoLibrary, which
// answers every call with a failure so that the window works while no library is loaded.
#pragma once

#include "octo816.h"

#include <cstdint>
#include <memory>
#include <string>

namespace octo {

class ProgrammerLibrary {
public:
    virtual ~ProgrammerLibrary() = default;

    virtual int32_t initProgress(void* statusLine, void* progressBar) = 0;
    virtual int32_t initStatusLamp(const OctoStatusLampTable* table) = 0;
    virtual int32_t initCom(const std::string& portPath, uint32_t baudRate) = 0;
    virtual int32_t releaseCom() = 0;
    virtual std::string getErrorString(int32_t code) = 0;
    virtual int32_t getDevice(const std::string& typeName, const OctoSegmentEntry** table) = 0;
    virtual int32_t loadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) = 0;
    virtual int32_t mainProcess(uint32_t timeoutTenths) = 0;
    virtual int32_t getResult(uint8_t* block) = 0;
    virtual int32_t selftest(uint32_t timeoutTenths) = 0;
    virtual int32_t eraseImage() = 0;
    virtual int32_t loadImage(const std::string& path, const std::string& typeName) = 0;
    virtual int32_t appendImage() = 0;
    virtual int32_t selectImage(uint32_t image) = 0;
    virtual int32_t eraseFirmware(uint32_t start, uint32_t length) = 0;
    virtual int32_t loadFirmware(const std::string& pathOrLoader) = 0;
    virtual int32_t selectBaudrate(uint32_t baudIndex) = 0;
    virtual int32_t setVccTarget(uint32_t supplyCode) = 0;
    virtual int32_t readTargetFile(uint32_t target, uint32_t start, uint32_t length,
                                   const std::string& path, uint32_t format) = 0;
    virtual int32_t setSignals(uint32_t signalWord, uint32_t supplyCode) = 0;
    virtual int32_t accessTargetSfr(uint32_t target, uint32_t operation, uint32_t address,
                                    uint16_t* value) = 0;
    virtual int32_t checkFirmware(const std::string& path) = 0;
    // OctoGetUnitInfo: the unit's serial number ("" unknown) and count of main processes
    // (OCTO_RUN_COUNT_UNKNOWN), both left alone on failure; kNotAvailableResult from a
    // library without that export.
    virtual int32_t getUnitInfo(std::string& serial, uint32_t& runCount) = 0;
    // Each target's own record for the next main process. A library without these exports
    // answers kNotAvailableResult.
    virtual int32_t setTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                                  uint32_t length) = 0;
    virtual int32_t clearTargetData() = 0;
};

// The answer of every call while no library is loaded: the unit cannot be reached.
inline constexpr int32_t kNoLibraryResult = 5;
// The library's code for a function it does not have.
inline constexpr int32_t kNotAvailableResult = 10;

class NoLibrary final : public ProgrammerLibrary {
public:
    int32_t initProgress(void*, void*) override { return kNoLibraryResult; }
    int32_t initStatusLamp(const OctoStatusLampTable*) override { return kNoLibraryResult; }
    int32_t initCom(const std::string&, uint32_t) override { return kNoLibraryResult; }
    int32_t releaseCom() override { return kNoLibraryResult; }
    std::string getErrorString(int32_t) override;
    int32_t getDevice(const std::string&, const OctoSegmentEntry** table) override;
    int32_t loadParameters(uint32_t, uint32_t, uint32_t) override { return kNoLibraryResult; }
    int32_t mainProcess(uint32_t) override { return kNoLibraryResult; }
    int32_t getResult(uint8_t*) override { return kNoLibraryResult; }
    int32_t selftest(uint32_t) override { return kNoLibraryResult; }
    int32_t eraseImage() override { return kNoLibraryResult; }
    int32_t loadImage(const std::string&, const std::string&) override { return kNoLibraryResult; }
    int32_t appendImage() override { return kNoLibraryResult; }
    int32_t selectImage(uint32_t) override { return kNoLibraryResult; }
    int32_t eraseFirmware(uint32_t, uint32_t) override { return kNoLibraryResult; }
    int32_t loadFirmware(const std::string&) override { return kNoLibraryResult; }
    int32_t selectBaudrate(uint32_t) override { return kNoLibraryResult; }
    int32_t setVccTarget(uint32_t) override { return kNoLibraryResult; }
    int32_t readTargetFile(uint32_t, uint32_t, uint32_t, const std::string&, uint32_t) override {
        return kNoLibraryResult;
    }
    int32_t setSignals(uint32_t, uint32_t) override { return kNoLibraryResult; }
    int32_t accessTargetSfr(uint32_t, uint32_t, uint32_t, uint16_t*) override {
        return kNoLibraryResult;
    }
    int32_t checkFirmware(const std::string&) override { return kNoLibraryResult; }
    int32_t getUnitInfo(std::string&, uint32_t&) override { return kNoLibraryResult; }
    int32_t setTargetData(uint32_t, uint32_t, const uint8_t*, uint32_t) override {
        return kNoLibraryResult;
    }
    int32_t clearTargetData() override { return kNoLibraryResult; }
};

// The library in use. The start-up command replaces the stand-in with the loaded library,
// so the subsystems keep the slot, never the library itself.
class LibrarySlot {
public:
    LibrarySlot() : library_(std::make_unique<NoLibrary>()) {}
    // Takes the library; none puts the stand-in back.
    void use(std::unique_ptr<ProgrammerLibrary> library) {
        library_ = library ? std::move(library) : std::make_unique<NoLibrary>();
    }
    ProgrammerLibrary& operator*() const { return *library_; }
    ProgrammerLibrary* operator->() const { return library_.get(); }

private:
    std::unique_ptr<ProgrammerLibrary> library_;
};

} // namespace octo

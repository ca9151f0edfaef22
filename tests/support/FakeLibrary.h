// A scripted Programmer library: every call is logged and answers with the result the
// test scripted for that function (0 unless told), in order. As the real library, it
// answers a call that needs the unit with "no unit" until InitCom has named the port.
#pragma once

#include "link/ProgrammerLibrary.h"
#include "support/EventLog.h"

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace octo::testing {

class FakeLibrary final : public ProgrammerLibrary {
public:
    explicit FakeLibrary(EventLog* log = nullptr) : log_(log) {}

    // Set by InitCom; a test of a window past its start-up sets it itself.
    bool portNamed = false;

    // The next calls of function answer with these results; after them, `fallback`.
    void script(const std::string& function, std::initializer_list<int32_t> results);
    void setFallback(const std::string& function, int32_t result) { fallback_[function] = result; }
    // What OctoGetResult copies into the caller's block.
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> resultBlock{};
    // What OctoGetUnitInfo reports.
    std::string unitSerial;
    uint32_t unitRuns = OCTO_RUN_COUNT_UNKNOWN;
    // The segment table GetDevice hands out, by type name.
    std::map<std::string, std::vector<OctoSegmentEntry>> devices;
    // Runs inside each call, as window messages do while the real library waits for the
    // unit: given the function's name.
    std::function<void(const std::string& function)> whileWaiting;
    int calls(const std::string& function) const;
    const std::vector<std::string>& callLog() const { return calls_; }

    int32_t initProgress(void* statusLine, void* progressBar) override;
    int32_t initStatusLamp(const OctoStatusLampTable* table) override;
    int32_t initCom(const std::string& portPath, uint32_t baudRate) override;
    int32_t releaseCom() override;
    std::string getErrorString(int32_t code) override;
    int32_t getDevice(const std::string& typeName, const OctoSegmentEntry** table) override;
    int32_t loadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) override;
    int32_t mainProcess(uint32_t timeoutTenths) override;
    int32_t getResult(uint8_t* block) override;
    int32_t selftest(uint32_t timeoutTenths) override;
    int32_t eraseImage() override;
    int32_t loadImage(const std::string& path, const std::string& typeName) override;
    int32_t appendImage() override;
    int32_t selectImage(uint32_t image) override;
    int32_t eraseFirmware(uint32_t start, uint32_t length) override;
    int32_t loadFirmware(const std::string& pathOrLoader) override;
    int32_t selectBaudrate(uint32_t baudIndex) override;
    int32_t setVccTarget(uint32_t supplyCode) override;
    int32_t readTargetFile(uint32_t target, uint32_t start, uint32_t length,
                           const std::string& path, uint32_t format) override;
    int32_t setSignals(uint32_t signalWord, uint32_t supplyCode) override;
    int32_t accessTargetSfr(uint32_t target, uint32_t operation, uint32_t address,
                            uint16_t* value) override;
    // Unless scripted, the library's answer for the file: 0 for a firmware file, else the
    // code of the file's fault.
    int32_t checkFirmware(const std::string& path) override;
    int32_t getUnitInfo(std::string& serial, uint32_t& runCount) override;
    int32_t setTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                          uint32_t length) override;
    int32_t clearTargetData() override;

    // The text getErrorString gives for a code.
    static std::string errorText(int32_t code) { return "library text " + std::to_string(code); }

private:
    void record(const std::string& call);
    int32_t answer(const std::string& function, const std::string& call, int32_t unscripted = 0);
    // A call that talks to the unit.
    int32_t unitAnswer(const std::string& function, const std::string& call);

    EventLog* log_;
    std::map<std::string, std::deque<int32_t>> scripted_;
    std::map<std::string, int32_t> fallback_;
    std::vector<std::string> calls_;
    std::vector<OctoSegmentEntry> handedOut_;
};

} // namespace octo::testing

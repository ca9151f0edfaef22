// The library's one state: the port, the protocol client, what the caller handed over
// for status output, and what the library knows of the unit's image memory. The
// exports check their arguments and then call in here.
#pragma once

#include "api/Codes.h"
#include "api/Host.h"
#include "protocol/Client.h"
#include "serial/SerialPort.h"

#include <devices/device_table.h>
#include <objfile/image.h>
#include <wire/messages.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace octo::library {

class Library {
public:
    static Library& instance();

    // A library on these parts: the host's message pump and status output, a serial port
    // and a monotonic millisecond clock. instance() runs on the platform's; tests and
    // fuzzers give a fake port and clock, so they see every bound in fake time.
    Library(Host& host, std::unique_ptr<serial::SerialPort> port,
            std::function<uint64_t()> clock = protocol::nowMs);

    // A call in progress; the exports refuse to enter a second one from the message
    // pump of the first (code kBusy).
    class CallGuard {
    public:
        // Atomic, so a call from a second thread is refused as well instead of racing.
        explicit CallGuard(Library& library)
            : library_(library), entered_(!library.inCall_.exchange(true)) {}
        ~CallGuard() {
            if (entered_) {
                library_.inCall_.store(false);
            }
        }
        CallGuard(const CallGuard&) = delete;
        CallGuard& operator=(const CallGuard&) = delete;
        bool entered() const { return entered_; }

    private:
        Library& library_;
        bool entered_;
    };

    // Connection and identity (LibraryConnection.cpp).
    int32_t initCom(const std::string& path, uint32_t rate);
    int32_t releaseCom();
    int32_t selectBaudrate(uint32_t index);
    int32_t getResult(uint8_t* block);
    // The unit's serial number ("" when it does not say) and count of main processes.
    int32_t getUnitInfo(std::string& serial, std::optional<uint32_t>& runCount);
    protocol::LinkStats stats() const { return client_.stats(); }

    // Status and progress (LibraryStatus.cpp).
    int32_t initProgress(OctoHandle statusLine, OctoHandle progressBar);
    int32_t initStatusLamp(const OctoStatusLampTable& table);

    // Image (LibraryImage.cpp).
    int32_t eraseImage();
    int32_t selectImage(uint8_t slot);
    int32_t appendImage();
    // An OctoLoadImage refused before it reached the library still uses up the append.
    void dropAppend() { append_ = false; }
    int32_t loadImage(const std::string& path, const std::string& typeName);

    // Target supply and signals, parameters, main process and self-test (LibraryRuns.cpp).
    int32_t setVccTarget(uint32_t code);
    int32_t setSignals(uint16_t word, uint8_t code);
    int32_t loadParameters(uint32_t options, uint8_t targetVcc, uint16_t settleMs);
    int32_t mainProcess(uint32_t timeoutTenths);
    int32_t selftest(uint32_t timeoutTenths);

    // Firmware (LibraryFirmware.cpp).
    // Reads a firmware file whole and checks it, before anything is erased; the next
    // loadFirmware of the same path sends what was read here.
    int32_t checkFirmware(const std::string& path);
    int32_t eraseFirmware(uint32_t start, uint32_t length);
    int32_t loadFirmware(const std::string& pathOrLoader);

    // Each target's own record for the next main process (LibraryTargetData.cpp).
    int32_t setTargetData(uint8_t target, uint32_t address, std::span<const uint8_t> data);
    int32_t clearTargetData();

    // Read-out and register access (LibraryReadOut.cpp).
    int32_t readTargetFile(uint8_t target, uint32_t start, uint32_t length, const std::string& path,
                           uint32_t format);
    int32_t accessTargetSfr(uint8_t target, uint8_t operation, uint16_t address, uint16_t& value);

private:
    enum Lamp { kLampError = 1, kLampSuccess = 2, kLampBusy = 3 };

    // Connection (LibraryConnection.cpp).
    // Makes sure a port is open on the last path and the unit answered on it; reopens
    // after the port failed or a call timed out (a replugged unit needs a new handle).
    int32_t ensureLink();
    // Says Hello: kOk, kNoUnit when nothing answers, kFailed for a unit this library
    // cannot talk to (another protocol version, smaller frames).
    int32_t hello(int attempts);
    // Looks for the unit at the other rates, fastest first, and brings it to ours (rate_),
    // as after a reset it runs at its power-on rate; the port is at rate_ afterwards when it
    // was found (else the caller's stale link opens it anew). kOk, kNoUnit or what hello()
    // says at our rate after the switch.
    int32_t fetchUnit();
    int32_t linkCode(protocol::LinkError error);
    // Reads the unit's result and identity into reply: kOk, a link code or kFailed. Leaves
    // the run failure that OctoGetResult reports pending.
    int32_t readResultReply(std::optional<wire::ResultReply>& reply);

    // Status and progress (LibraryStatus.cpp).
    void text(const std::string& message);
    void lamp(Lamp picture);
    // The status line and the lamp that goes with it; returns code, so a call can end
    // with what it shows.
    int32_t status(const std::string& message, Lamp picture, int32_t code = kOk);
    void progress(uint64_t position, uint64_t range);
    int32_t failedTransfer(const std::string& what, int32_t code);
    // A link failure or a time-out of a call bounded by deadline.
    int32_t linkFailure(protocol::LinkError error, const std::string& what);
    // Shows why the unit refused a target operation (Failed or BadState with a fault
    // body) and gives the code for it.
    int32_t refused(const wire::Response& response, const std::string& target);
    // Streams total bytes in either direction by deadline, showing the progress: the bar
    // follows every confirmed byte, the status line says "<what> ... 40 %" every 10 %.
    // A stream that fails leaves the link stale, so the next call starts a new session.
    protocol::StreamOutcome stream(protocol::StreamDirection& direction, wire::Command command,
                                   uint64_t total, uint64_t deadline, const std::string& what);
    // The deadline of a stream and its closing exchange, from the stream's time on the line
    // with lineBytesPerChunk around each of its smallest chunks.
    uint64_t streamDeadline(uint64_t total, uint32_t lineBytesPerChunk) const;

    // Image (LibraryImage.cpp).
    void abandonLoad();

    // Runs (LibraryRuns.cpp).
    // Asks the unit for a run (main process, self-test) and waits for its answer until the
    // caller's deadline; late tells that the wait reached it.
    struct TimedWork {
        protocol::Exchange exchange;
        bool late;
    };
    TimedWork timedWork(wire::Command command, uint64_t limitMs, uint64_t deadline);

    // Firmware (LibraryFirmware.cpp).
    // Reads and checks a firmware file into image; kOk, or the code it showed.
    int32_t readFirmware(const std::string& path, objfile::Image& image);

    // Target records (LibraryTargetData.cpp).
    // Empties the store; when it held records, checks them against the image of the
    // selected slot and sends them. kOk when there were none or the unit took them.
    int32_t sendTargetData();
    // Why the stored records cannot go to the unit; kOk when they can.
    int32_t checkTargetData();

    // Read-out (LibraryReadOut.cpp).
    // Ends a read-out the unit holds (ReadTargetEnd), or when that is not answered makes
    // the next call start a new session.
    void endReadOut();

    Host& host_;
    std::unique_ptr<serial::SerialPort> port_;
    std::function<uint64_t()> clock_;
    protocol::Client client_;
    std::atomic<bool> inCall_{false};

    // Connection: the port's path and rate; a stale link is opened anew by the next call.
    std::string path_;
    uint32_t rate_ = 115200;
    bool stale_ = false;

    // Status output the caller handed over; none where it handed none.
    OctoHandle statusLine_ = nullptr;
    OctoHandle progressBar_ = nullptr;
    std::optional<OctoStatusLampTable> lamps_;

    // Image: what each slot of the unit holds, as far as this library loaded it, with the
    // CRC-32 the unit confirmed for it; none when unknown (before the first erase, after an
    // interrupted load). The CRC is kept so that reading the result does not walk the image.
    struct SlotImage {
        objfile::Image image;
        uint32_t crc = 0;
    };
    static SlotImage blankSlot();
    std::array<std::optional<SlotImage>, wire::kImageSlots> images_;
    uint8_t slot_ = 0;
    bool append_ = false;
    // The device type of each slot's image, beside images_.
    std::array<const devices::DeviceType*, wire::kImageSlots> imageTypes_{};

    // Target records for the next main process, by socket.
    std::array<std::optional<wire::TargetRecord>, wire::kTargets> targetData_;
    // The option word of the parameters the unit last took from this library; none before
    // the first, after one that did not reach the unit or was refused, and after InitCom.
    // Records go only with a run that erases and programs their memory.
    std::optional<uint32_t> runOptions_;

    // Firmware: the file checkFirmware read last, until a loadFirmware of its path sends it.
    struct CheckedFirmware {
        std::string path;
        objfile::Image image;
    };
    std::optional<CheckedFirmware> checkedFirmware_;

    // Runs: whether a main process ended with the unit's result since the last
    // OctoGetResult; the next one answers kRunFailed when the unit counts that run as failed.
    bool runPending_ = false;
    // The result the last main process or self-test answered with. OctoGetResult reports
    // it rather than what the unit says now: a unit that reset since has forgotten it.
    std::optional<wire::RunReply> lastRun_;
};

} // namespace octo::library

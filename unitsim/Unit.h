// The unit's side of the protocol, without any I/O: one decoded request in, one answer
// out, plus what the answer means for the line (a modelled working time, a rate switch).
#pragma once

#include "Scenario.h"
#include "Targets.h"

#include <wire/frame.h>
#include <wire/messages.h>

#include <objfile/image.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace octo::unitsim {

struct ImageSlot {
    wire::SlotState state = wire::SlotState::Erased;
    objfile::Image data;
    std::string typeName;
    uint32_t crc = 0; // CRC-32 of the complete image
    // The load in progress.
    uint32_t streamBytes = 0;
    uint32_t received = 0;
    uint32_t streamCrc = 0;
    uint32_t loads = 0; // completed loads into this slot since the last erase
};

// A firmware or temporary loader being received.
struct FirmwareLoad {
    wire::FirmwareKind kind = wire::FirmwareKind::Firmware;
    objfile::Image data;
    uint32_t streamBytes = 0;
    uint32_t received = 0;
    uint32_t streamCrc = 0;
};

enum class SupplyMode { External, Off, On };

struct Reply {
    std::vector<uint8_t> frame;        // the encoded answer
    uint32_t workMs = 0;               // modelled time before the answer (time scale applied)
    std::optional<uint32_t> baudAfter; // switch the rate once the answer is out
};

class Unit {
public:
    explicit Unit(const Scenario& scenario);

    // Answers one request frame. Repeats of the last request (same sequence number,
    // command and payload) get the same answer again without being carried out twice.
    Reply handle(const wire::Frame& request);
    // The answer to a frame whose header checked and whose payload did not.
    std::vector<uint8_t> nak(uint8_t seq) const;

    uint32_t baud() const { return baud_; }
    void setBaud(uint32_t baud) { baud_ = baud; }

    // The state file's unit lines ("key = value").
    std::string stateText() const;
    // Bytes 0..7 of the last run's result in hex, as the state file's run.result.
    std::string runText() const;
    // Sockets whose memory changed since the last call.
    std::vector<uint8_t> takeChangedTargets() { return targets_.takeChanged(); }
    const TargetBank& targets() const { return targets_; }

    // The unit loses its power and starts again: the line at its power-on rate, the
    // supply off, parameters, result, loads in progress and a started loader gone. Its
    // flash (image memory, firmware, or the lack of it) survives.
    void powerCycle();
    // A scenario's power cycle is due (a firmware load reached its byte count).
    bool powerCycleDue() const { return powerCycleDue_; }
    // Firmware version and name as reported; none while the firmware area is not whole.
    bool hasFirmware() const { return firmware_.has_value(); }
    // Slots whose contents changed since the last call.
    std::vector<uint8_t> takeChangedSlots();
    const ImageSlot& slot(uint8_t index) const { return slots_.at(index); }
    uint64_t commands() const { return commands_; }
    uint64_t duplicates() const { return duplicates_; }
    // Main processes since the start, and the records the last one wrote (once).
    uint64_t mainProcesses() const { return mainProcesses_; }
    std::vector<RecordWrite> takeRecordWrites() { return std::exchange(recordWrites_, {}); }

private:
    // Each command's handler gets its request decoded (a payload that does not decode is
    // answered BadArgument before the handler is called), and the reply too when it has
    // a say in what happens on the line.
    template <typename Request, typename... Line>
    using Handler = wire::Response (Unit::*)(const Request&, Line&...);
    // A request that must come without payload.
    struct NoPayload {
        static std::optional<NoPayload> decode(std::span<const uint8_t> payload);
    };
    // Work on the targets needs the unit's firmware.
    enum class Needs { Nothing, Firmware };

    wire::Response execute(uint8_t command, std::span<const uint8_t> payload, Reply& reply);
    template <typename Request, typename... Line>
    wire::Response call(Handler<Request, Line...> handler, std::span<const uint8_t> payload,
                        Reply& reply, Needs needs = Needs::Nothing);
    // Link and identity, supply and signals (Unit.cpp).
    wire::Response hello(const wire::HelloRequest& request);
    wire::Response getResult(const NoPayload& request);
    wire::Response setBaud(const wire::SetBaudRequest& request, Reply& reply);
    wire::Response setSupply(const wire::SetSupplyRequest& request);
    wire::Response setSignals(const wire::SetSignalsRequest& request);
    // The image memory (UnitImage.cpp).
    wire::Response imageErase(const NoPayload& request, Reply& reply);
    wire::Response imageSelect(const wire::ImageSelectRequest& request);
    wire::Response imageBegin(const wire::ImageBeginRequest& request);
    wire::Response imageData(const wire::ImageDataRequest& request);
    wire::Response imageEnd(const wire::ImageEndRequest& request);
    wire::Response imageAbort(const wire::ImageSlotRequest& request);
    wire::Response imageStatus(const wire::ImageSlotRequest& request);
    // Work on the targets (UnitTargets.cpp).
    wire::Response loadParameters(const wire::LoadParametersRequest& request);
    wire::Response mainProcess(const wire::WorkRequest& request, Reply& reply);
    wire::Response selftest(const wire::WorkRequest& request, Reply& reply);
    wire::Response targetData(const wire::TargetDataRequest& request);
    // Firmware from the version that brought the request knows target records.
    bool knowsTargetData() const;
    wire::Response readTargetBegin(const wire::ReadTargetBeginRequest& request, Reply& reply);
    wire::Response readTargetData(const wire::ReadTargetDataRequest& request);
    wire::Response readTargetEnd(const NoPayload& request);
    wire::Response accessSfr(const wire::AccessSfrRequest& request, Reply& reply);
    // The firmware area (UnitFirmware.cpp).
    wire::Response firmwareErase(const wire::FirmwareEraseRequest& request, Reply& reply);
    wire::Response firmwareBegin(const wire::FirmwareBeginRequest& request);
    wire::Response firmwareData(const wire::ImageDataRequest& request);
    wire::Response firmwareEnd(const wire::FirmwareEndRequest& request);
    wire::Response tempLoader(const NoPayload& request, Reply& reply);
    // The supply at the sockets now and the interface of the last parameters.
    Reach currentReach() const;
    // The device type of the image in the selected slot, if the unit knows it.
    const devices::DeviceType* selectedType() const;
    uint32_t scaledMs(double ms) const;
    uint32_t scaled(uint32_t ms) const;
    void markChanged(uint8_t index);

    Scenario scenario_;
    uint32_t baud_;
    std::array<ImageSlot, wire::kImageSlots> slots_;
    uint8_t selected_ = 0;
    std::optional<uint8_t> loadingSlot_;
    SupplyMode supply_ = SupplyMode::External;
    uint32_t supplyVoltage_ = 0;
    std::optional<uint16_t> signalWord_;
    uint32_t signalSupply_ = 0;
    std::array<uint8_t, wire::ResultReply::kRunBytes> run_{};
    uint8_t runFailed_ = 0;

    TargetBank targets_;
    std::optional<wire::LoadParametersRequest> parameters_;
    std::optional<std::vector<uint8_t>> readBuffer_; // a read-out in progress
    uint64_t mainProcesses_ = 0;
    double modelledMs_ = 0; // the last main process or self-test, before the time scale
    uint64_t selftests_ = 0;
    // The records for the next main process: gone after it, after an image erase, a Hello
    // and a power cycle.
    std::vector<wire::TargetRecord> records_;
    std::vector<RecordWrite> recordWrites_;

    // Firmware: version and name while the firmware area holds a whole firmware.
    struct Firmware {
        uint16_t version = 0;
        std::optional<std::string> name;
    };
    std::optional<Firmware> firmware_;
    bool firmwareAreaErased_ = false; // the whole area, ready for a load
    bool loaderAreaErased_ = false;
    bool loaderLoaded_ = false;
    bool loaderRunning_ = false;
    std::optional<FirmwareLoad> firmwareLoad_;
    uint64_t firmwareLoads_ = 0;
    uint64_t firmwareBytes_ = 0; // received by firmware loads since the start
    bool powerCycleDue_ = false;
    bool powerCycled_ = false;
    uint64_t powerCycles_ = 0;
    std::string lastCommand_ = "none";
    uint64_t commands_ = 0;
    uint64_t duplicates_ = 0;
    std::optional<std::pair<uint8_t, uint8_t>> cachedRequest_; // seq, command
    std::vector<uint8_t> cachedPayload_;
    std::vector<uint8_t> cachedFrame_;
    std::vector<uint8_t> changedSlots_;
};

} // namespace octo::unitsim

// The unit's dispatch: repeats, decoding, each command to its handler; the link and
// identity commands, the supply and signals, and the state file's lines. The handlers of
// the image, the firmware and the targets' work live in UnitImage, UnitFirmware and
// UnitTargets.
#include "Unit.h"
#include "UnitInternal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace octo::unitsim {

using wire::Command;
using wire::Response;
using wire::Status;

namespace {

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

const char* supplyName(SupplyMode mode) {
    switch (mode) {
    case SupplyMode::External:
        return "external";
    case SupplyMode::Off:
        return "off";
    case SupplyMode::On:
        return "on";
    }
    return "unknown";
}

std::string runBytes(const std::array<uint8_t, wire::ResultReply::kRunBytes>& run) {
    std::string text;
    for (uint8_t b : run) {
        char item[4];
        std::snprintf(item, sizeof item, "%02X", b);
        text += text.empty() ? item : std::string(" ") + item;
    }
    return text;
}

} // namespace

Unit::Unit(const Scenario& scenario)
    : scenario_(scenario), baud_(scenario.baud), targets_(scenario) {
    if (scenario.firmwareVersion != 0xFFFF) {
        firmware_ = Firmware{scenario.firmwareVersion, scenario.firmwareName};
    }
}

uint32_t Unit::scaledMs(double ms) const {
    return static_cast<uint32_t>(std::lround(ms * scenario_.timeScale));
}

void Unit::powerCycle() {
    baud_ = scenario_.baud;
    supply_ = SupplyMode::External;
    supplyVoltage_ = 0;
    signalWord_.reset();
    parameters_.reset();
    run_ = {};
    runFailed_ = 0;
    readBuffer_.reset();
    firmwareLoad_.reset();
    loaderRunning_ = false;
    if (loadingSlot_) {
        markChanged(*loadingSlot_); // stays loading: unusable
        loadingSlot_.reset();
    }
    cachedRequest_.reset();
    records_.clear();
    powerCycleDue_ = false;
    ++powerCycles_;
}

Reach Unit::currentReach() const {
    Reach reach;
    switch (supply_) {
    case SupplyMode::External:
        reach.volts = scenario_.externalSupply;
        break;
    case SupplyMode::Off:
        reach.volts = 0;
        break;
    case SupplyMode::On:
        reach.volts = supplyVoltage_;
        break;
    }
    reach.options = parameters_ ? parameters_->options : 0;
    return reach;
}

const devices::DeviceType* Unit::selectedType() const {
    const ImageSlot& slot = slots_[selected_];
    return slot.typeName.empty() ? nullptr : devices::findDeviceType(slot.typeName);
}

uint32_t Unit::scaled(uint32_t ms) const {
    return static_cast<uint32_t>(std::lround(ms * scenario_.timeScale));
}

void Unit::markChanged(uint8_t index) {
    if (std::find(changedSlots_.begin(), changedSlots_.end(), index) == changedSlots_.end()) {
        changedSlots_.push_back(index);
    }
}

std::vector<uint8_t> Unit::takeChangedSlots() {
    return std::exchange(changedSlots_, {});
}

std::vector<uint8_t> Unit::nak(uint8_t seq) const {
    return wire::encodeFrame(wire::Frame{seq, wire::responseCode(Command::Nak), {}});
}

Reply Unit::handle(const wire::Frame& request) {
    Reply reply;
    // Streamed data is idempotent through its offset (or, read-out, harmless to repeat).
    const bool repeatable = request.command != static_cast<uint8_t>(Command::ImageData) &&
                            request.command != static_cast<uint8_t>(Command::FirmwareData) &&
                            request.command != static_cast<uint8_t>(Command::ReadTargetData);
    // A repeat carries the same payload too: a new request that happens to get the kept
    // number (a sender whose numbers wrapped) must be carried out, not answered from the
    // kept answer of another one.
    if (repeatable && cachedRequest_ &&
        *cachedRequest_ == std::make_pair(request.seq, request.command) &&
        cachedPayload_ == request.payload) {
        ++duplicates_;
        reply.frame = cachedFrame_;
        return reply;
    }
    ++commands_;
    lastCommand_ = std::string(wire::commandName(request.command));
    const Response response = execute(request.command, request.payload, reply);
    reply.frame = wire::encodeFrame(
        wire::Frame{request.seq, static_cast<uint8_t>(request.command | wire::kResponseFlag),
                    response.encode()});
    if (repeatable) {
        cachedRequest_ = std::make_pair(request.seq, request.command);
        cachedPayload_ = request.payload;
        cachedFrame_ = reply.frame;
    }
    return reply;
}

std::optional<Unit::NoPayload> Unit::NoPayload::decode(std::span<const uint8_t> payload) {
    if (!payload.empty()) {
        return std::nullopt;
    }
    return NoPayload{};
}

template <typename Request, typename... Line>
Response Unit::call(Handler<Request, Line...> handler, std::span<const uint8_t> payload,
                    Reply& reply, Needs needs) {
    const auto request = Request::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (needs == Needs::Firmware && !firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    if constexpr (sizeof...(Line) == 0) {
        return (this->*handler)(*request);
    } else {
        return (this->*handler)(*request, reply);
    }
}

Response Unit::execute(uint8_t command, std::span<const uint8_t> payload, Reply& reply) {
    switch (static_cast<Command>(command)) {
    case Command::Hello:
        return call(&Unit::hello, payload, reply);
    case Command::GetResult:
        return call(&Unit::getResult, payload, reply);
    case Command::SetBaud:
        return call(&Unit::setBaud, payload, reply);
    case Command::SetSupply:
        return call(&Unit::setSupply, payload, reply);
    case Command::SetSignals:
        return call(&Unit::setSignals, payload, reply);
    case Command::ImageErase:
        return call(&Unit::imageErase, payload, reply);
    case Command::ImageSelect:
        return call(&Unit::imageSelect, payload, reply);
    case Command::ImageBegin:
        return call(&Unit::imageBegin, payload, reply);
    case Command::ImageData:
        return call(&Unit::imageData, payload, reply);
    case Command::ImageEnd:
        return call(&Unit::imageEnd, payload, reply);
    case Command::ImageAbort:
        return call(&Unit::imageAbort, payload, reply);
    case Command::ImageStatus:
        return call(&Unit::imageStatus, payload, reply);
    case Command::LoadParameters:
        return call(&Unit::loadParameters, payload, reply, Needs::Firmware);
    case Command::MainProcess: {
        // The records were for this request, whatever becomes of it.
        const Response response = call(&Unit::mainProcess, payload, reply, Needs::Firmware);
        records_.clear();
        return response;
    }
    case Command::TargetData:
        if (!knowsTargetData()) {
            return answer(Status::UnknownCommand);
        }
        return call(&Unit::targetData, payload, reply);
    case Command::Selftest:
        return call(&Unit::selftest, payload, reply, Needs::Firmware);
    case Command::FirmwareErase:
        return call(&Unit::firmwareErase, payload, reply);
    case Command::FirmwareBegin:
        return call(&Unit::firmwareBegin, payload, reply);
    case Command::FirmwareData:
        return call(&Unit::firmwareData, payload, reply);
    case Command::FirmwareEnd:
        return call(&Unit::firmwareEnd, payload, reply);
    case Command::TempLoader:
        return call(&Unit::tempLoader, payload, reply);
    case Command::ReadTargetBegin:
        return call(&Unit::readTargetBegin, payload, reply, Needs::Firmware);
    case Command::ReadTargetData:
        return call(&Unit::readTargetData, payload, reply);
    case Command::ReadTargetEnd:
        return call(&Unit::readTargetEnd, payload, reply);
    case Command::AccessSfr:
        return call(&Unit::accessSfr, payload, reply, Needs::Firmware);
    default:
        return answer(Status::UnknownCommand);
    }
}

Response Unit::hello(const wire::HelloRequest&) {
    // A new session: forget the last answer, so a fresh sequence number never meets an
    // old one. Records another program left are not this one's.
    cachedRequest_.reset();
    records_.clear();
    wire::HelloReply helloReply;
    helloReply.maxPayload = static_cast<uint16_t>(wire::kMaxPayload);
    helloReply.baudRate = baud_;
    return answer(Status::Ok, helloReply.encode());
}

Response Unit::getResult(const NoPayload&) {
    wire::ResultReply result;
    result.run = run_;
    result.runFailed = runFailed_;
    result.hardwareVersion = scenario_.hardwareVersion;
    result.firmwareVersion = firmware_ ? firmware_->version : uint16_t{0xFFFF};
    result.thirdVersion = scenario_.thirdVersion;
    result.firmwareName = firmware_ ? firmware_->name : std::nullopt;
    result.unit = wire::UnitRecord{.serial = scenario_.serial,
                                   .mainProcesses = static_cast<uint32_t>(std::min<uint64_t>(
                                       mainProcesses_, std::numeric_limits<uint32_t>::max()))};
    return answer(Status::Ok, result.encode());
}

Response Unit::setBaud(const wire::SetBaudRequest& request, Reply& reply) {
    reply.baudAfter = wire::kBaudRates[request.index];
    return answer(Status::Ok);
}

Response Unit::setSupply(const wire::SetSupplyRequest& request) {
    if (request.code == 0) {
        supply_ = SupplyMode::External;
        supplyVoltage_ = 0;
        return answer(Status::NotSupplied);
    }
    if (request.code == 1) {
        supply_ = SupplyMode::Off;
        supplyVoltage_ = 0;
        return answer(Status::Ok);
    }
    if (scenario_.supplyBroken || request.code < scenario_.supplyMin ||
        request.code > scenario_.supplyMax) {
        supply_ = SupplyMode::Off;
        supplyVoltage_ = 0;
        return answer(Status::Failed);
    }
    supply_ = SupplyMode::On;
    supplyVoltage_ = request.code;
    return answer(Status::Ok);
}

Response Unit::setSignals(const wire::SetSignalsRequest& request) {
    signalWord_ = request.word;
    signalSupply_ = request.supplyCode;
    return answer(Status::Ok);
}

std::string Unit::runText() const {
    return runBytes(run_);
}

std::string Unit::stateText() const {
    std::string text;
    auto line = [&](const std::string& key, const std::string& value) {
        text += key + " = " + value + "\n";
    };
    line("unit.baud", std::to_string(baud_));
    line("unit.commands", std::to_string(commands_));
    line("unit.duplicates", std::to_string(duplicates_));
    line("unit.last_command", lastCommand_);
    line("unit.power_cycles", std::to_string(powerCycles_));
    line("identity.hardware_version", hex(scenario_.hardwareVersion, 4));
    line("identity.firmware_version", firmware_ ? hex(firmware_->version, 4) : "0xFFFF");
    line("identity.third_version", hex(scenario_.thirdVersion, 4));
    line("identity.serial", scenario_.serial);
    line("identity.firmware_name",
         firmware_ && firmware_->name ? *firmware_->name : std::string("none"));
    line("firmware.state", firmware_             ? "installed"
                           : firmwareLoad_       ? "loading"
                           : firmwareAreaErased_ ? "erased"
                                                 : "incomplete");
    line("firmware.loads", std::to_string(firmwareLoads_));
    line("firmware.loader", loaderRunning_ ? "running" : loaderLoaded_ ? "loaded" : "none");
    line("params.options", parameters_ ? hex(parameters_->options, 5) : std::string("none"));
    line("params.target_vcc", parameters_ ? hex(parameters_->targetVcc, 2) : std::string("none"));
    line("params.settle_ms",
         parameters_ ? std::to_string(parameters_->settleMs) : std::string("none"));
    line("run.main_processes", std::to_string(mainProcesses_));
    line("run.selftests", std::to_string(selftests_));
    line("run.records", std::to_string(records_.size()));
    line("run.result", runText());
    line("run.failed", runFailed_ ? "yes" : "no");
    char modelled[32];
    std::snprintf(modelled, sizeof modelled, "%.1f", modelledMs_);
    line("run.modelled_ms", modelled);
    line("supply.mode", supplyName(supply_));
    line("supply.voltage", std::to_string(supplyVoltage_));
    line("signals.word", signalWord_ ? hex(*signalWord_, 4) : std::string("none"));
    line("signals.supply", std::to_string(signalSupply_));
    line("image.selected", std::to_string(selected_));
    for (size_t i = 0; i < slots_.size(); ++i) {
        const ImageSlot& slot = slots_[i];
        const std::string prefix = "image." + std::to_string(i) + ".";
        line(prefix + "state", std::string(wire::slotStateName(slot.state)));
        line(prefix + "bytes", std::to_string(slot.data.byteCount()));
        line(prefix + "crc32", hex(slot.crc, 8));
        line(prefix + "type", slot.typeName);
        line(prefix + "received", std::to_string(slot.received));
        line(prefix + "loads", std::to_string(slot.loads));
    }
    text += targets_.stateText();
    return text;
}

} // namespace octo::unitsim

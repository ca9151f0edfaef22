#include "Unit.h"

#include <objfile/crc32.h>
#include <objfile/firmware.h>
#include <wire/checksums.h>

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

Response answer(Status status, std::vector<uint8_t> body = {}) {
    return Response{status, std::move(body)};
}

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

// A run that finds no usable image refuses at once.
constexpr double kRefusedRunMs = 50;
constexpr uint32_t kFirmwareAreaEnd = objfile::kFirmwareAreaStart + objfile::kFirmwareAreaLength;
constexpr uint32_t kLoaderAreaEnd = objfile::kLoaderAreaStart + objfile::kLoaderAreaLength;
// Units whose boot loader reports a lower third version word need the temporary loader.
constexpr uint16_t kCapableBootLoader = 0x0200;

Response targetFault(Status status, wire::TargetFault fault) {
    return answer(status, wire::TargetFaultReply{fault}.encode());
}

bool inside(uint32_t start, uint64_t length, uint32_t areaStart, uint32_t areaEnd) {
    return start >= areaStart && start + length <= areaEnd;
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
    if (repeatable && cachedRequest_ &&
        *cachedRequest_ == std::make_pair(request.seq, request.command)) {
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
        cachedFrame_ = reply.frame;
    }
    return reply;
}

Response Unit::execute(uint8_t command, std::span<const uint8_t> payload, Reply& reply) {
    switch (static_cast<Command>(command)) {
    case Command::Hello: {
        if (!wire::HelloRequest::decode(payload)) {
            return answer(Status::BadArgument);
        }
        // A new session: forget the last answer, so a fresh sequence number never
        // meets an old one.
        cachedRequest_.reset();
        wire::HelloReply hello;
        hello.maxPayload = static_cast<uint16_t>(wire::kMaxPayload);
        hello.baudRate = baud_;
        return answer(Status::Ok, hello.encode());
    }
    case Command::GetResult: {
        if (!payload.empty()) {
            return answer(Status::BadArgument);
        }
        wire::ResultReply result;
        result.run = run_;
        result.runFailed = runFailed_;
        result.hardwareVersion = scenario_.hardwareVersion;
        result.firmwareVersion = firmware_ ? firmware_->version : uint16_t{0xFFFF};
        result.thirdVersion = scenario_.thirdVersion;
        result.firmwareName = firmware_ ? firmware_->name : std::nullopt;
        return answer(Status::Ok, result.encode());
    }
    case Command::SetBaud: {
        const auto request = wire::SetBaudRequest::decode(payload);
        if (!request) {
            return answer(Status::BadArgument);
        }
        reply.baudAfter = wire::kBaudRates[request->index];
        return answer(Status::Ok);
    }
    case Command::SetSupply:
        return setSupply(payload);
    case Command::SetSignals: {
        const auto request = wire::SetSignalsRequest::decode(payload);
        if (!request) {
            return answer(Status::BadArgument);
        }
        signalWord_ = request->word;
        signalSupply_ = request->supplyCode;
        return answer(Status::Ok);
    }
    case Command::ImageErase:
        if (!payload.empty()) {
            return answer(Status::BadArgument);
        }
        for (uint8_t i = 0; i < wire::kImageSlots; ++i) {
            slots_[i] = ImageSlot{};
            markChanged(i);
        }
        loadingSlot_.reset();
        reply.workMs = scaled(scenario_.eraseImageMs);
        return answer(Status::Ok);
    case Command::ImageSelect: {
        const auto request = wire::ImageSelectRequest::decode(payload);
        if (!request) {
            return answer(Status::BadArgument);
        }
        selected_ = request->slot;
        return answer(Status::Ok);
    }
    case Command::ImageBegin:
        return imageBegin(payload);
    case Command::ImageData:
        return imageData(payload);
    case Command::ImageEnd:
        return imageEnd(payload);
    case Command::ImageAbort: {
        const auto request = wire::ImageSlotRequest::decode(payload);
        if (!request) {
            return answer(Status::BadArgument);
        }
        // An abandoned load leaves nothing that a run could take for a whole image.
        slots_[request->slot] = ImageSlot{};
        markChanged(request->slot);
        if (loadingSlot_ == request->slot) {
            loadingSlot_.reset();
        }
        return answer(Status::Ok);
    }
    case Command::ImageStatus: {
        const auto request = wire::ImageSlotRequest::decode(payload);
        if (!request) {
            return answer(Status::BadArgument);
        }
        const ImageSlot& slot = slots_[request->slot];
        wire::ImageStatusReply status{slot.state, static_cast<uint32_t>(slot.data.byteCount()),
                                      slot.crc, slot.typeName};
        return answer(Status::Ok, status.encode());
    }
    case Command::LoadParameters:
        return loadParameters(payload);
    case Command::MainProcess:
        return mainProcess(payload, reply);
    case Command::Selftest:
        return selftest(payload, reply);
    case Command::FirmwareErase:
        return firmwareErase(payload, reply);
    case Command::FirmwareBegin:
        return firmwareBegin(payload);
    case Command::FirmwareData:
        return firmwareData(payload);
    case Command::FirmwareEnd:
        return firmwareEnd(payload);
    case Command::TempLoader:
        return tempLoader(payload, reply);
    case Command::ReadTargetBegin:
        return readTargetBegin(payload, reply);
    case Command::ReadTargetData:
        return readTargetData(payload);
    case Command::ReadTargetEnd:
        if (!payload.empty()) {
            return answer(Status::BadArgument);
        }
        readBuffer_.reset();
        return answer(Status::Ok);
    case Command::AccessSfr:
        return accessSfr(payload, reply);
    default:
        return answer(Status::UnknownCommand);
    }
}

Response Unit::loadParameters(std::span<const uint8_t> payload) {
    const auto request = wire::LoadParametersRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    parameters_ = *request;
    return answer(Status::Ok);
}

Response Unit::mainProcess(std::span<const uint8_t> payload, Reply& reply) {
    const auto request = wire::WorkRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    if (!parameters_) {
        return targetFault(Status::BadState, wire::TargetFault::NoParameters);
    }
    ++mainProcesses_;
    wire::RunReply result;
    const ImageSlot& slot = slots_[selected_];
    const devices::DeviceType* type = selectedType();
    if (slot.state != wire::SlotState::Complete || !type) {
        // Nothing to program from: no target is touched.
        run_ = {};
        run_[wire::kMiscErrorsByte] = wire::kMiscImageCorrupted;
        runFailed_ = 1;
        modelledMs_ = kRefusedRunMs;
        reply.workMs = scaledMs(kRefusedRunMs);
        result.run = run_;
        result.runFailed = runFailed_;
        return answer(Status::Ok, result.encode());
    }

    const uint32_t options = parameters_->options;
    const uint32_t volts = parameters_->targetVcc & ~uint32_t{wire::kVccSwitchOff};
    const bool switchOffs = parameters_->targetVcc & wire::kVccSwitchOff;
    Reach reach;
    reach.options = options;
    if (volts == 0) {
        supply_ = SupplyMode::External;
        supplyVoltage_ = 0;
        reach.volts = scenario_.externalSupply;
    } else if (scenario_.supplyBroken || volts < scenario_.supplyMin ||
               volts > scenario_.supplyMax) {
        supply_ = SupplyMode::Off; // the generator cannot give it: nothing is supplied
        supplyVoltage_ = 0;
        reach.volts = 0;
    } else {
        reach.volts = volts;
        supply_ = switchOffs ? SupplyMode::Off : SupplyMode::On;
        supplyVoltage_ = switchOffs ? 0 : volts;
    }
    const double budget = scenario_.timeScale > 0 ? request->limitMs / scenario_.timeScale
                                                  : std::numeric_limits<double>::infinity();
    const RunOutcome outcome = targets_.mainProcess(options, parameters_->settleMs, switchOffs,
                                                    reach, slot.data, *type, budget);
    run_ = outcome.run;
    runFailed_ = outcome.failed ? 1 : 0;
    modelledMs_ = outcome.workMs;
    reply.workMs = scaledMs(outcome.workMs);
    result.run = run_;
    result.runFailed = runFailed_;
    return answer(outcome.failed ? Status::Failed : Status::Ok, result.encode());
}

Response Unit::selftest(std::span<const uint8_t> payload, Reply& reply) {
    const auto request = wire::WorkRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    ++selftests_;
    run_ = {};
    runFailed_ = 0;
    wire::RunReply result;
    const uint32_t needed = scaledMs(scenario_.timing.selftestMs);
    if (needed > request->limitMs) {
        // Stopped at the caller's time-out: no outcome.
        reply.workMs = request->limitMs;
        return answer(Status::Failed, result.encode());
    }
    reply.workMs = needed;
    run_[wire::kMiscErrorsByte] = scenario_.selftest;
    result.run = run_;
    return answer(scenario_.selftest == 0 ? Status::Ok : Status::Failed, result.encode());
}

Response Unit::firmwareErase(std::span<const uint8_t> payload, Reply& reply) {
    const auto request = wire::FirmwareEraseRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    // The boot section below the firmware area is never erased.
    if (!inside(request->start, request->length, objfile::kFirmwareAreaStart, kFirmwareAreaEnd)) {
        return answer(Status::BadArgument);
    }
    const bool loaderArea =
        inside(request->start, request->length, objfile::kLoaderAreaStart, kLoaderAreaEnd);
    const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
    if (oldBootLoader && !loaderRunning_ && !loaderArea) {
        // The old boot loader can only clear the loader area.
        return answer(Status::Failed);
    }
    firmware_.reset();
    firmwareLoad_.reset();
    if (request->start == objfile::kFirmwareAreaStart &&
        request->length == objfile::kFirmwareAreaLength) {
        firmwareAreaErased_ = true;
    }
    if (request->start <= objfile::kLoaderAreaStart &&
        uint64_t{request->start} + request->length >= kLoaderAreaEnd) {
        loaderAreaErased_ = true;
        loaderLoaded_ = false; // a started loader runs from RAM and goes on
    }
    reply.workMs = scaledMs(scenario_.timing.firmwareEraseMsPerKib * (request->length / 1024.0));
    return answer(Status::Ok);
}

Response Unit::firmwareBegin(std::span<const uint8_t> payload) {
    const auto request = wire::FirmwareBeginRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (request->kind == wire::FirmwareKind::Loader) {
        if (!loaderAreaErased_) {
            return answer(Status::BadState);
        }
    } else {
        const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
        if (!firmwareAreaErased_ || (oldBootLoader && !loaderRunning_)) {
            return answer(Status::BadState);
        }
    }
    firmwareLoad_ = FirmwareLoad{request->kind, {}, request->streamBytes, 0, 0};
    return answer(Status::Ok);
}

Response Unit::firmwareData(std::span<const uint8_t> payload) {
    const auto request = wire::ImageDataRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    FirmwareLoad& load = *firmwareLoad_;
    const wire::ImageDataReply progress{load.received};
    if (request->offset > load.received) {
        return answer(Status::Gap, progress.encode());
    }
    if (request->offset < load.received) {
        return answer(Status::Ok, progress.encode());
    }
    const bool loader = load.kind == wire::FirmwareKind::Loader;
    const uint32_t areaStart = loader ? objfile::kLoaderAreaStart : objfile::kFirmwareAreaStart;
    const uint32_t areaEnd = loader ? kLoaderAreaEnd : kFirmwareAreaEnd;
    if (uint64_t{request->offset} + request->data.size() > load.streamBytes ||
        !inside(request->address, request->data.size(), areaStart, areaEnd) ||
        load.data.insert(request->address, request->data)) {
        return answer(Status::BadArgument, progress.encode());
    }
    load.received += static_cast<uint32_t>(request->data.size());
    load.streamCrc = wire::crc32(request->data, load.streamCrc);
    firmwareBytes_ += request->data.size();
    if (!loader && scenario_.powerCycleAfterFirmwareBytes != 0 && !powerCycled_ &&
        firmwareBytes_ >= scenario_.powerCycleAfterFirmwareBytes) {
        powerCycled_ = true;
        powerCycleDue_ = true;
    }
    return answer(Status::Ok, wire::ImageDataReply{load.received}.encode());
}

Response Unit::firmwareEnd(std::span<const uint8_t> payload) {
    const auto request = wire::FirmwareEndRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    const FirmwareLoad load = std::move(*firmwareLoad_);
    firmwareLoad_.reset();
    const bool complete = load.received == load.streamBytes &&
                          request->streamBytes == load.streamBytes &&
                          request->streamCrc == load.streamCrc;
    if (load.kind == wire::FirmwareKind::Loader) {
        loaderAreaErased_ = false;
        if (!complete || !objfile::isTemporaryLoader(load.data)) {
            return answer(Status::ImageMismatch);
        }
        loaderLoaded_ = true;
        return answer(Status::Ok, wire::FirmwareEndReply{0, "temporary loader"}.encode());
    }
    // The area now holds what arrived: it must be erased again before another load.
    firmwareAreaErased_ = false;
    const objfile::FirmwareCheck check = objfile::identifyFirmware(load.data);
    if (!complete || !check.isFirmware()) {
        return answer(Status::ImageMismatch);
    }
    firmware_ = Firmware{check.info->version, check.info->name};
    loaderRunning_ = false; // the unit starts the new firmware
    ++firmwareLoads_;
    return answer(Status::Ok,
                  wire::FirmwareEndReply{check.info->version, check.info->name}.encode());
}

Response Unit::tempLoader(std::span<const uint8_t> payload, Reply& reply) {
    if (!payload.empty()) {
        return answer(Status::BadArgument);
    }
    if (!loaderLoaded_) {
        return answer(Status::BadState);
    }
    loaderRunning_ = true;
    reply.workMs = scaledMs(scenario_.timing.loaderStartMs);
    return answer(Status::Ok);
}

Response Unit::readTargetBegin(std::span<const uint8_t> payload, Reply& reply) {
    const auto request = wire::ReadTargetBeginRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    readBuffer_.reset();
    const Reach reach = currentReach();
    if (const auto fault = targets_.reachable(request->target, reach, selectedType())) {
        return targetFault(Status::Failed, *fault);
    }
    double workMs = 0;
    readBuffer_ = targets_.read(request->target, request->start, request->length, reach, workMs);
    reply.workMs = scaledMs(workMs);
    return answer(Status::Ok,
                  wire::ReadTargetBeginReply{request->length, wire::crc32(*readBuffer_)}.encode());
}

Response Unit::readTargetData(std::span<const uint8_t> payload) {
    const auto request = wire::ReadTargetDataRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!readBuffer_) {
        return answer(Status::BadState);
    }
    if (request->offset >= readBuffer_->size()) {
        return answer(Status::BadArgument);
    }
    const size_t count = std::min<size_t>(request->count, readBuffer_->size() - request->offset);
    const auto first = readBuffer_->begin() + request->offset;
    wire::ReadTargetDataReply data{
        request->offset, std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(count))};
    return answer(Status::Ok, data.encode());
}

Response Unit::accessSfr(std::span<const uint8_t> payload, Reply& reply) {
    const auto request = wire::AccessSfrRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!firmware_) {
        return targetFault(Status::BadState, wire::TargetFault::NoFirmware);
    }
    const Reach reach = currentReach();
    if (const auto fault = targets_.reachable(request->target, reach, selectedType())) {
        return targetFault(Status::Failed, *fault);
    }
    reply.workMs = 0;
    const uint16_t value = targets_.accessRegister(request->target, request->operation,
                                                   request->address, request->value);
    return answer(Status::Ok, wire::AccessSfrReply{value}.encode());
}

Response Unit::setSupply(std::span<const uint8_t> payload) {
    const auto request = wire::SetSupplyRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (request->code == 0) {
        supply_ = SupplyMode::External;
        supplyVoltage_ = 0;
        return answer(Status::NotSupplied);
    }
    if (request->code == 1) {
        supply_ = SupplyMode::Off;
        supplyVoltage_ = 0;
        return answer(Status::Ok);
    }
    if (scenario_.supplyBroken || request->code < scenario_.supplyMin ||
        request->code > scenario_.supplyMax) {
        supply_ = SupplyMode::Off;
        supplyVoltage_ = 0;
        return answer(Status::Failed);
    }
    supply_ = SupplyMode::On;
    supplyVoltage_ = request->code;
    return answer(Status::Ok);
}

Response Unit::imageBegin(std::span<const uint8_t> payload) {
    const auto request = wire::ImageBeginRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    ImageSlot& slot = slots_[request->slot];
    markChanged(request->slot);
    if (request->mode == wire::ImageMode::Append) {
        // Appending onto nothing is a fresh load; onto something, it must be the image
        // the sender means.
        const bool empty = request->baseBytes == 0 && slot.data.empty();
        if (!empty &&
            (slot.state != wire::SlotState::Complete ||
             slot.data.byteCount() != request->baseBytes || slot.crc != request->baseCrc)) {
            slot = ImageSlot{};
            return answer(Status::ImageMismatch);
        }
    } else {
        slot = ImageSlot{};
    }
    slot.state = wire::SlotState::Loading;
    slot.typeName = request->typeName;
    slot.streamBytes = request->streamBytes;
    slot.received = 0;
    slot.streamCrc = 0;
    slot.crc = 0;
    loadingSlot_ = request->slot;
    return answer(Status::Ok);
}

Response Unit::imageData(std::span<const uint8_t> payload) {
    const auto request = wire::ImageDataRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    ImageSlot& slot = slots_[*loadingSlot_];
    const wire::ImageDataReply progress{slot.received};
    if (request->offset > slot.received) {
        return answer(Status::Gap, progress.encode());
    }
    if (request->offset < slot.received) {
        // A repeat of data already stored: the sender missed our answer.
        return answer(Status::Ok, progress.encode());
    }
    if (uint64_t{request->offset} + request->data.size() > slot.streamBytes ||
        slot.data.insert(request->address, request->data)) {
        return answer(Status::BadArgument, progress.encode());
    }
    slot.received += static_cast<uint32_t>(request->data.size());
    slot.streamCrc = wire::crc32(request->data, slot.streamCrc);
    return answer(Status::Ok, wire::ImageDataReply{slot.received}.encode());
}

Response Unit::imageEnd(std::span<const uint8_t> payload) {
    const auto request = wire::ImageEndRequest::decode(payload);
    if (!request) {
        return answer(Status::BadArgument);
    }
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    const uint8_t index = *loadingSlot_;
    ImageSlot& slot = slots_[index];
    markChanged(index);
    loadingSlot_.reset();
    const uint32_t imageCrc = objfile::imageCrc32(slot.data);
    if (slot.received != slot.streamBytes || request->streamBytes != slot.streamBytes ||
        request->streamCrc != slot.streamCrc || request->imageBytes != slot.data.byteCount() ||
        request->imageCrc != imageCrc) {
        // Whatever arrived is not what was meant: the slot stays unusable.
        slot.state = wire::SlotState::Loading;
        return answer(Status::ImageMismatch);
    }
    slot.state = wire::SlotState::Complete;
    slot.crc = imageCrc;
    ++slot.loads;
    wire::ImageStatusReply status{slot.state, static_cast<uint32_t>(slot.data.byteCount()),
                                  slot.crc, slot.typeName};
    return answer(Status::Ok, status.encode());
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
    line("run.result", runBytes(run_));
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

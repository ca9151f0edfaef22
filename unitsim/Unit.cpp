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

Response slotStatus(const ImageSlot& slot) {
    const wire::ImageStatusReply status{slot.state, static_cast<uint32_t>(slot.data.byteCount()),
                                        slot.crc, slot.typeName};
    return answer(Status::Ok, status.encode());
}

// Takes a chunk of an image or firmware load. It is stored only at exactly the bytes
// received so far: a chunk beyond them is answered Gap, a repeat of stored data (the
// sender missed our answer) Ok, and one that does not fit the load or lies outside where
// it may go BadArgument. Every answer carries the count received.
template <typename Load>
Response takeChunk(Load& load, const wire::ImageDataRequest& request, bool allowedArea) {
    const auto progress = [&](Status status) {
        return answer(status, wire::ImageDataReply{load.received}.encode());
    };
    if (request.offset > load.received) {
        return progress(Status::Gap);
    }
    if (request.offset < load.received) {
        return progress(Status::Ok);
    }
    if (uint64_t{request.offset} + request.data.size() > load.streamBytes || !allowedArea ||
        load.data.insert(request.address, request.data)) {
        return progress(Status::BadArgument);
    }
    load.received += static_cast<uint32_t>(request.data.size());
    load.streamCrc = wire::crc32(request.data, load.streamCrc);
    return progress(Status::Ok);
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
    case Command::MainProcess:
        return call(&Unit::mainProcess, payload, reply, Needs::Firmware);
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
    // old one.
    cachedRequest_.reset();
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

Response Unit::imageErase(const NoPayload&, Reply& reply) {
    for (uint8_t i = 0; i < wire::kImageSlots; ++i) {
        slots_[i] = ImageSlot{};
        markChanged(i);
    }
    loadingSlot_.reset();
    reply.workMs = scaled(scenario_.eraseImageMs);
    return answer(Status::Ok);
}

Response Unit::imageSelect(const wire::ImageSelectRequest& request) {
    selected_ = request.slot;
    return answer(Status::Ok);
}

Response Unit::imageBegin(const wire::ImageBeginRequest& request) {
    ImageSlot& slot = slots_[request.slot];
    markChanged(request.slot);
    if (request.mode == wire::ImageMode::Append) {
        // Appending onto nothing is a fresh load; onto something, it must be the image
        // the sender means.
        const bool empty = request.baseBytes == 0 && slot.data.empty();
        if (!empty && (slot.state != wire::SlotState::Complete ||
                       slot.data.byteCount() != request.baseBytes || slot.crc != request.baseCrc)) {
            slot = ImageSlot{};
            return answer(Status::ImageMismatch);
        }
    } else {
        slot = ImageSlot{};
    }
    slot.state = wire::SlotState::Loading;
    slot.typeName = request.typeName;
    slot.streamBytes = request.streamBytes;
    slot.received = 0;
    slot.streamCrc = 0;
    slot.crc = 0;
    loadingSlot_ = request.slot;
    return answer(Status::Ok);
}

Response Unit::imageData(const wire::ImageDataRequest& request) {
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    return takeChunk(slots_[*loadingSlot_], request, true);
}

Response Unit::imageEnd(const wire::ImageEndRequest& request) {
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    const uint8_t index = *loadingSlot_;
    ImageSlot& slot = slots_[index];
    markChanged(index);
    loadingSlot_.reset();
    const uint32_t imageCrc = objfile::imageCrc32(slot.data);
    if (slot.received != slot.streamBytes || request.streamBytes != slot.streamBytes ||
        request.streamCrc != slot.streamCrc || request.imageBytes != slot.data.byteCount() ||
        request.imageCrc != imageCrc) {
        // Whatever arrived is not what was meant: the slot stays unusable.
        slot.state = wire::SlotState::Loading;
        return answer(Status::ImageMismatch);
    }
    slot.state = wire::SlotState::Complete;
    slot.crc = imageCrc;
    ++slot.loads;
    return slotStatus(slot);
}

Response Unit::imageAbort(const wire::ImageSlotRequest& request) {
    // An abandoned load leaves nothing that a run could take for a whole image.
    slots_[request.slot] = ImageSlot{};
    markChanged(request.slot);
    if (loadingSlot_ == request.slot) {
        loadingSlot_.reset();
    }
    return answer(Status::Ok);
}

Response Unit::imageStatus(const wire::ImageSlotRequest& request) {
    return slotStatus(slots_[request.slot]);
}

Response Unit::loadParameters(const wire::LoadParametersRequest& request) {
    parameters_ = request;
    return answer(Status::Ok);
}

Response Unit::mainProcess(const wire::WorkRequest& request, Reply& reply) {
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
    const double budget = scenario_.timeScale > 0 ? request.limitMs / scenario_.timeScale
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

Response Unit::selftest(const wire::WorkRequest& request, Reply& reply) {
    ++selftests_;
    run_ = {};
    runFailed_ = 0;
    wire::RunReply result;
    const uint32_t needed = scaledMs(scenario_.timing.selftestMs);
    if (needed > request.limitMs) {
        // Stopped at the caller's time-out: no outcome.
        reply.workMs = request.limitMs;
        return answer(Status::Failed, result.encode());
    }
    reply.workMs = needed;
    const bool outcomeApplies =
        scenario_.selftestOnlyRun == 0 || scenario_.selftestOnlyRun == selftests_;
    const uint8_t error = outcomeApplies ? scenario_.selftest : 0;
    run_[wire::kMiscErrorsByte] = error;
    result.run = run_;
    return answer(error == 0 ? Status::Ok : Status::Failed, result.encode());
}

Response Unit::firmwareErase(const wire::FirmwareEraseRequest& request, Reply& reply) {
    // The boot section below the firmware area is never erased.
    if (!inside(request.start, request.length, objfile::kFirmwareAreaStart, kFirmwareAreaEnd)) {
        return answer(Status::BadArgument);
    }
    const bool loaderArea =
        inside(request.start, request.length, objfile::kLoaderAreaStart, kLoaderAreaEnd);
    const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
    if (oldBootLoader && !loaderRunning_ && !loaderArea) {
        // The old boot loader can only clear the loader area.
        return answer(Status::Failed);
    }
    firmware_.reset();
    firmwareLoad_.reset();
    if (request.start == objfile::kFirmwareAreaStart &&
        request.length == objfile::kFirmwareAreaLength) {
        firmwareAreaErased_ = true;
    }
    if (request.start <= objfile::kLoaderAreaStart &&
        uint64_t{request.start} + request.length >= kLoaderAreaEnd) {
        loaderAreaErased_ = true;
        loaderLoaded_ = false; // a started loader runs from RAM and goes on
    }
    reply.workMs = scaledMs(scenario_.timing.firmwareEraseMsPerKib * (request.length / 1024.0));
    return answer(Status::Ok);
}

Response Unit::firmwareBegin(const wire::FirmwareBeginRequest& request) {
    if (request.kind == wire::FirmwareKind::Loader) {
        if (!loaderAreaErased_) {
            return answer(Status::BadState);
        }
    } else {
        const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
        if (!firmwareAreaErased_ || (oldBootLoader && !loaderRunning_)) {
            return answer(Status::BadState);
        }
    }
    firmwareLoad_ = FirmwareLoad{request.kind, {}, request.streamBytes, 0, 0};
    return answer(Status::Ok);
}

Response Unit::firmwareData(const wire::ImageDataRequest& request) {
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    FirmwareLoad& load = *firmwareLoad_;
    const bool loader = load.kind == wire::FirmwareKind::Loader;
    const uint32_t areaStart = loader ? objfile::kLoaderAreaStart : objfile::kFirmwareAreaStart;
    const uint32_t areaEnd = loader ? kLoaderAreaEnd : kFirmwareAreaEnd;
    const uint32_t before = load.received;
    Response response =
        takeChunk(load, request, inside(request.address, request.data.size(), areaStart, areaEnd));
    if (load.received == before) {
        return response;
    }
    firmwareBytes_ += load.received - before;
    if (!loader && scenario_.powerCycleAfterFirmwareBytes != 0 && !powerCycled_ &&
        firmwareBytes_ >= scenario_.powerCycleAfterFirmwareBytes) {
        powerCycled_ = true;
        powerCycleDue_ = true;
    }
    return response;
}

Response Unit::firmwareEnd(const wire::FirmwareEndRequest& request) {
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    const FirmwareLoad load = std::move(*firmwareLoad_);
    firmwareLoad_.reset();
    const bool complete = load.received == load.streamBytes &&
                          request.streamBytes == load.streamBytes &&
                          request.streamCrc == load.streamCrc;
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

Response Unit::tempLoader(const NoPayload&, Reply& reply) {
    if (!loaderLoaded_) {
        return answer(Status::BadState);
    }
    loaderRunning_ = true;
    reply.workMs = scaledMs(scenario_.timing.loaderStartMs);
    return answer(Status::Ok);
}

Response Unit::readTargetBegin(const wire::ReadTargetBeginRequest& request, Reply& reply) {
    readBuffer_.reset();
    const Reach reach = currentReach();
    if (const auto fault = targets_.reachable(request.target, reach, selectedType())) {
        return targetFault(Status::Failed, *fault);
    }
    double workMs = 0;
    readBuffer_ = targets_.read(request.target, request.start, request.length, reach, workMs);
    reply.workMs = scaledMs(workMs);
    return answer(Status::Ok,
                  wire::ReadTargetBeginReply{request.length, wire::crc32(*readBuffer_)}.encode());
}

Response Unit::readTargetData(const wire::ReadTargetDataRequest& request) {
    if (!readBuffer_) {
        return answer(Status::BadState);
    }
    if (request.offset >= readBuffer_->size()) {
        return answer(Status::BadArgument);
    }
    const size_t count = std::min<size_t>(request.count, readBuffer_->size() - request.offset);
    const auto first = readBuffer_->begin() + request.offset;
    wire::ReadTargetDataReply data{
        request.offset, std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(count))};
    return answer(Status::Ok, data.encode());
}

Response Unit::readTargetEnd(const NoPayload&) {
    readBuffer_.reset();
    return answer(Status::Ok);
}

Response Unit::accessSfr(const wire::AccessSfrRequest& request, Reply& reply) {
    const Reach reach = currentReach();
    if (const auto fault = targets_.reachable(request.target, reach, selectedType())) {
        return targetFault(Status::Failed, *fault);
    }
    reply.workMs = 0;
    const uint16_t value =
        targets_.accessRegister(request.target, request.operation, request.address, request.value);
    return answer(Status::Ok, wire::AccessSfrReply{value}.encode());
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

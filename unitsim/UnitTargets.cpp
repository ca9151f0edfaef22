// Work on the targets: the parameters, the main process, the self-test, read-out and
// register access.
#include "Unit.h"
#include "UnitInternal.h"

#include <wire/checksums.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace octo::unitsim {

using wire::Response;
using wire::Status;

namespace {

// A run that finds no usable image refuses at once.
constexpr double kRefusedRunMs = 50;
// The firmware version (decimal digits in nibbles) that brought target records.
constexpr uint16_t kTargetDataFirmware = 0x0156;

} // namespace

Response Unit::loadParameters(const wire::LoadParametersRequest& request) {
    parameters_ = request;
    return answer(Status::Ok);
}

Response Unit::mainProcess(const wire::WorkRequest& request, Reply& reply) {
    if (!parameters_) {
        return targetFault(Status::BadState, wire::TargetFault::NoParameters);
    }
    ++mainProcesses_;
    if (mainProcesses_ == scenario_.imageLostAtRun) {
        slots_[selected_] = ImageSlot{};
        markChanged(selected_);
    }
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
    RunOutcome outcome = targets_.mainProcess(options, parameters_->settleMs, switchOffs, reach,
                                              slot.data, *type, budget, records_, mainProcesses_);
    recordWrites_ = std::move(outcome.records);
    run_ = outcome.run;
    runFailed_ = outcome.failed ? 1 : 0;
    modelledMs_ = outcome.workMs;
    reply.workMs = scaledMs(outcome.workMs);
    result.run = run_;
    result.runFailed = runFailed_;
    return answer(outcome.failed ? Status::Failed : Status::Ok, result.encode());
}

bool Unit::knowsTargetData() const {
    return firmware_ && firmware_->version >= kTargetDataFirmware;
}

Response Unit::targetData(const wire::TargetDataRequest& request) {
    records_ = request.records;
    return answer(Status::Ok);
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

} // namespace octo::unitsim

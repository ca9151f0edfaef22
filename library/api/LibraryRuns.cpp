// The targets' supply and signals, the parameters of a run, the main process and the
// self-test.
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

constexpr uint32_t kTenthMs = 100;
// Room for the formatted texts: the supply error, a time-out in seconds.
constexpr size_t kSupplyTextBytes = 96;
constexpr size_t kSecondsTextBytes = 32;

} // namespace

int32_t Library::setVccTarget(uint32_t code) {
    if (const int32_t linkError = ensureLink()) {
        return status(errorText(linkError), kLampError, linkError);
    }
    const auto exchange = client_.transact(
        Command::SetSupply, wire::SetSupplyRequest{static_cast<uint8_t>(code)}.encode());
    if (!exchange.ok()) {
        const int32_t result = linkCode(exchange.error);
        return status(errorText(result), kLampError, result);
    }
    switch (exchange.response.status) {
    case Status::Ok:
        return kOk;
    case Status::NotSupplied:
        return kNotSupplied;
    default: {
        char message[kSupplyTextBytes];
        std::snprintf(message, sizeof message,
                      "ERROR: The programmer unit cannot supply the targets with %u.%u V !",
                      code / 10, code % 10);
        return status(message, kLampError, kFailed);
    }
    }
}

int32_t Library::setSignals(uint16_t word, uint8_t code) {
    if (const int32_t linkError = ensureLink()) {
        return linkError;
    }
    const auto exchange =
        client_.transact(Command::SetSignals, wire::SetSignalsRequest{word, code}.encode());
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    return exchange.response.status == Status::Ok ? kOk : kFailed;
}

int32_t Library::loadParameters(uint32_t options, uint8_t targetVcc, uint16_t settleMs) {
    // What the unit holds after a failed send is not known: records wait for a new one.
    runOptions_.reset();
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Parameters not sent:", code);
    }
    const auto exchange =
        client_.transact(Command::LoadParameters,
                         wire::LoadParametersRequest{options, targetVcc, settleMs}.encode());
    if (!exchange.ok()) {
        return linkFailure(exchange.error, "Parameters not sent:");
    }
    if (exchange.response.status != Status::Ok) {
        return refused(exchange.response, "");
    }
    runOptions_ = options;
    return kOk;
}

Library::TimedWork Library::timedWork(Command command, uint64_t limitMs, uint64_t deadline) {
    const auto limit = static_cast<uint32_t>(std::min<uint64_t>(limitMs, UINT32_MAX));
    protocol::TransactOptions options;
    options.deadlineMs = deadline;
    options.workLimitMs = limit;
    auto exchange = client_.transact(command, wire::WorkRequest{limit}.encode(), options);
    return {std::move(exchange), clock_() >= deadline};
}

int32_t Library::mainProcess(uint32_t timeoutTenths) {
    runPending_ = false;
    lastRun_.reset();
    const uint64_t limitMs = uint64_t{timeoutTenths} * kTenthMs;
    // The clock counts whole milliseconds: one more never ends the call early.
    const uint64_t deadline = clock_() + limitMs + 1;
    char limitText[kSecondsTextBytes];
    std::snprintf(limitText, sizeof limitText, "%.1f s", static_cast<double>(limitMs) / 1000.0);
    if (const int32_t code = sendTargetData()) {
        return code;
    }
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Main Process not started:", code);
    }
    status("Main Process running on the targets ...", kLampBusy);
    const auto [exchange, late] = timedWork(Command::MainProcess, limitMs, deadline);
    if (!exchange.ok() && !(late && exchange.error == LinkError::Timeout)) {
        return linkFailure(exchange.error, "Main Process interrupted.");
    }
    const auto result =
        exchange.ok() ? wire::RunReply::decode(exchange.response.body) : std::nullopt;
    if (!exchange.ok() || (exchange.response.status == Status::Failed && result)) {
        // Not finished within the caller's time-out; the unit stops the run then too.
        stale_ = true;
        return status(std::string("ERROR: Main Process not finished within its time-out of ") +
                          limitText + " !",
                      kLampError, kTimeout);
    }
    if (exchange.response.status != Status::Ok || !result) {
        return refused(exchange.response, "");
    }
    runPending_ = true;
    lastRun_ = result;
    const auto& run = result->run;
    if (result->runFailed) {
        return status(run[wire::kMiscErrorsByte] == wire::kMiscImageCorrupted
                          ? "FATAL ERROR: Image Memory corrupted or erased !"
                          : "ERROR: Main Process failed at the programmer unit !",
                      kLampError, kOk);
    }
    const int connected = std::popcount(run[wire::kConnectedByte]);
    const int passed = std::popcount(run[wire::kOverAllByte]);
    return status("Main Process finished: " + std::to_string(passed) + " of " +
                      std::to_string(connected) + " connected targets passed.",
                  connected > 0 && passed == connected ? kLampSuccess : kLampError);
}

int32_t Library::selftest(uint32_t timeoutTenths) {
    runPending_ = false;
    lastRun_.reset();
    const uint64_t limitMs = uint64_t{timeoutTenths} * kTenthMs;
    // The clock counts whole milliseconds: one more never ends the call early.
    const uint64_t deadline = clock_() + limitMs + 1;
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Selftest not started:", code);
    }
    lamp(kLampBusy);
    const auto [exchange, late] = timedWork(Command::Selftest, limitMs, deadline);
    if (!exchange.ok() && !(late && exchange.error == LinkError::Timeout)) {
        return linkFailure(exchange.error, "Selftest interrupted.");
    }
    const auto result =
        exchange.ok() ? wire::RunReply::decode(exchange.response.body) : std::nullopt;
    const uint8_t failure = result ? result->run[wire::kMiscErrorsByte] : 0;
    if (!exchange.ok() || (exchange.response.status == Status::Failed && result && failure == 0)) {
        stale_ = true;
        return status("ERROR: Selftest not finished within its time-out !", kLampError, kTimeout);
    }
    if ((exchange.response.status == Status::Ok || exchange.response.status == Status::Failed) &&
        result) {
        lastRun_ = result;
    }
    if (exchange.response.status == Status::Ok && result) {
        return status("Selftest passed.", kLampSuccess);
    }
    if (exchange.response.status == Status::Failed && result) {
        return status("ERROR: Selftest failed: unit error " + std::to_string(failure) +
                          " (see the result block) !",
                      kLampError, kFailed);
    }
    return refused(exchange.response, "");
}

} // namespace octo::library

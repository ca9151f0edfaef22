// Connection and identity: the port, Hello and the unit's rate, the link's failures, and
// the result block with the unit's versions.
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <objfile/crc32.h>

#include <algorithm>
#include <utility>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

constexpr int kHelloAttempts = 2;
// The largest payload the library sends: a data frame of the largest chunk.
constexpr uint16_t kLargestPayloadSent =
    protocol::Client::kLargestChunk + wire::ImageDataRequest::kHeaderBytes;
constexpr int kPollAttempts = 4;

std::optional<uint8_t> baudIndex(uint32_t rate) {
    const auto found = std::find(wire::kBaudRates.begin(), wire::kBaudRates.end(), rate);
    if (found == wire::kBaudRates.end()) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(found - wire::kBaudRates.begin());
}

void putBigEndian(uint8_t* at, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        *at++ = static_cast<uint8_t>(value >> shift);
    }
}

} // namespace

int32_t Library::hello(int attempts) {
    client_.setRate(rate_);
    protocol::TransactOptions options;
    options.attempts = attempts;
    const auto exchange = client_.transact(Command::Hello, wire::HelloRequest{}.encode(), options);
    const auto reply = okReply<wire::HelloReply>(exchange);
    if (!exchange.ok() || !reply) {
        return kNoUnit;
    }
    // A unit of another protocol version, or one that cannot take our largest data frame,
    // would misread what we send: talk to it no further.
    if (reply->protocolVersion != wire::kProtocolVersion ||
        reply->maxPayload < kLargestPayloadSent) {
        return kFailed;
    }
    return kOk;
}

int32_t Library::linkCode(LinkError error) {
    switch (error) {
    case LinkError::None:
        return kOk;
    case LinkError::NoPort:
        return kNoUnit;
    case LinkError::PortFailed:
        port_->close();
        stale_ = true;
        return kTimeout;
    case LinkError::Timeout:
        stale_ = true;
        return kTimeout;
    case LinkError::FrameErrors:
        stale_ = true;
        return kFrameErrors;
    }
    return kFailed;
}

int32_t Library::ensureLink() {
    if (path_.empty()) {
        return kNoUnit;
    }
    if (port_->isOpen() && !stale_) {
        return kOk;
    }
    // A port that failed stays dead even after the unit is back: open it anew.
    if (!port_->open(path_, rate_)) {
        return kNoUnit;
    }
    client_.reset();
    int32_t code = hello(kHelloAttempts);
    if (code == kNoUnit) {
        // A unit that was reset (power cycle, replug) runs at its power-on rate again.
        code = fetchUnit();
    }
    if (code != kOk) {
        stale_ = true;
        return code;
    }
    stale_ = false;
    return kOk;
}

int32_t Library::initCom(const std::string& path, uint32_t rate) {
    const auto wanted = baudIndex(rate);
    if (!wanted) {
        return kOutOfRange;
    }
    // Another port may have another unit behind it, with results of its own; records and
    // parameters set before belong to the session that ends.
    lastRun_.reset();
    clearTargetData();
    runOptions_.reset();
    path_ = path;
    rate_ = rate;
    if (!port_->open(path_, rate_)) {
        return kCannotOpenPort;
    }
    client_.reset();
    const int32_t greeted = hello(kHelloAttempts);
    if (greeted != kNoUnit) {
        stale_ = greeted != kOk;
        return greeted;
    }
    // The unit may still run at another rate (left there by an earlier session): find
    // it and tell it to come to ours. The port stays open either way: a unit that turns
    // up later answers the next call.
    const int32_t found = fetchUnit();
    stale_ = found != kOk;
    return found;
}

int32_t Library::fetchUnit() {
    const uint32_t wanted = rate_;
    const auto index = baudIndex(wanted);
    int32_t code = kNoUnit;
    for (auto it = wire::kBaudRates.rbegin(); index && it != wire::kBaudRates.rend(); ++it) {
        if (*it == wanted) {
            continue;
        }
        rate_ = *it;
        if (!port_->setRate(rate_) || hello(1) != kOk) {
            continue;
        }
        const auto exchange =
            client_.transact(Command::SetBaud, wire::SetBaudRequest{*index}.encode());
        rate_ = wanted;
        port_->setRate(rate_);
        if (exchange.ok() && exchange.response.status == Status::Ok) {
            code = hello(kHelloAttempts);
        }
        break;
    }
    rate_ = wanted;
    return code;
}

int32_t Library::releaseCom() {
    port_->close();
    path_.clear();
    return kOk;
}

int32_t Library::readResultReply(std::optional<wire::ResultReply>& reply) {
    if (const int32_t code = ensureLink()) {
        return code;
    }
    protocol::TransactOptions options;
    options.attempts = kPollAttempts;
    const auto exchange = client_.transact(Command::GetResult, {}, options);
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    reply = okReply<wire::ResultReply>(exchange);
    return reply ? kOk : kFailed;
}

int32_t Library::getResult(uint8_t* block) {
    std::optional<wire::ResultReply> result;
    if (const int32_t code = readResultReply(result)) {
        return code;
    }
    if (lastRun_) {
        result->run = lastRun_->run;
        result->runFailed = lastRun_->runFailed;
    }
    std::fill(block, block + OCTO_RESULT_BLOCK_BYTES, uint8_t{0});
    std::copy(result->run.begin(), result->run.end(), block);
    block[8] = static_cast<uint8_t>(result->hardwareVersion >> 8);
    block[9] = static_cast<uint8_t>(result->hardwareVersion);
    block[10] = static_cast<uint8_t>(result->firmwareVersion >> 8);
    block[11] = static_cast<uint8_t>(result->firmwareVersion);
    if (result->firmwareName) {
        // Bytes 12..29: the name and its terminating zero.
        std::copy(result->firmwareName->begin(), result->firmwareName->end(), block + 12);
    } else {
        block[12] = 0xFF;
    }
    block[30] = static_cast<uint8_t>(result->thirdVersion >> 8);
    block[31] = static_cast<uint8_t>(result->thirdVersion);
    if (const auto& loaded = images_[slot_]) {
        putBigEndian(block + OCTO_RESULT_IMAGE_BYTES,
                     static_cast<uint32_t>(loaded->image.byteCount()));
        putBigEndian(block + OCTO_RESULT_IMAGE_CRC32, loaded->crc);
    }
    // Only the read that follows a main process reports that run's failure; any other
    // read wants the identification and gets it with 0.
    const bool afterRun = std::exchange(runPending_, false);
    return afterRun && result->runFailed ? kRunFailed : kOk;
}

int32_t Library::getUnitInfo(std::string& serial, std::optional<uint32_t>& runCount) {
    // Its own read: the run failure that the next OctoGetResult reports stays pending.
    std::optional<wire::ResultReply> result;
    if (const int32_t code = readResultReply(result)) {
        return code;
    }
    serial = result->unit ? result->unit->serial : std::string();
    runCount = result->unit ? std::optional<uint32_t>(result->unit->mainProcesses) : std::nullopt;
    return kOk;
}

int32_t Library::selectBaudrate(uint32_t index) {
    if (const int32_t code = ensureLink()) {
        return status(errorText(code), kLampError, code);
    }
    const uint32_t newRate = wire::kBaudRates[index];
    const auto exchange = client_.transact(
        Command::SetBaud, wire::SetBaudRequest{static_cast<uint8_t>(index)}.encode());
    if (exchange.ok() && exchange.response.status != Status::Ok) {
        return status("ERROR: The programmer unit refused the baud rate !", kLampError, kFailed);
    }
    // Answered or not, the unit may have switched: follow it and look.
    // A port that failed meanwhile cannot take the rate: the call ends with kTimeout below.
    const int32_t code = exchange.ok() ? kOk : linkCode(exchange.error);
    rate_ = newRate;
    if (!port_->setRate(rate_)) {
        stale_ = true;
        return kTimeout;
    }
    if (hello(kHelloAttempts) == kOk) {
        stale_ = false;
        return kOk;
    }
    stale_ = true;
    return code == kOk ? kTimeout : code;
}

} // namespace octo::library

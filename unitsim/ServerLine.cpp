// The line between the pty and the unit: bytes paced at the line rate, the scenario's
// faults, bursts, stalls and idle noise, bytes garbled at a wrong rate, and the rate
// switch after an answer has left.
#include "Server.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace octo::unitsim {

namespace {

constexpr size_t kReadBytes = 4096;

// Idle-line noise: at most this many bytes a burst, one in kNoiseZeroOneIn of them a zero
// byte (a false frame delimiter), one burst in kFalseStartOneIn the cut-off start of an
// answer whose header checks.
constexpr uint64_t kNoiseBytes = 8;
constexpr uint64_t kNoiseZeroOneIn = 4;
constexpr uint64_t kFalseStartOneIn = 4;
constexpr size_t kFalseStartPayload = 8;

} // namespace

Server::Clock::duration Server::byteTime() const {
    // 8N1: ten bit times per byte.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / unit_.baud()));
}

Server::Fault Server::drawFault(bool toUnit) {
    const bool applies = scenario_.faultDirection == FaultDirection::Both ||
                         (toUnit ? scenario_.faultDirection == FaultDirection::ToUnit
                                 : scenario_.faultDirection == FaultDirection::FromUnit);
    if (!applies ||
        (scenario_.faultDrop <= 0 && scenario_.faultCorrupt <= 0 && scenario_.faultDelay <= 0)) {
        return Fault::None;
    }
    const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
    if (draw < scenario_.faultDrop) {
        return Fault::Drop;
    }
    if (draw < scenario_.faultDrop + scenario_.faultCorrupt) {
        return Fault::Corrupt;
    }
    if (draw < scenario_.faultDrop + scenario_.faultCorrupt + scenario_.faultDelay) {
        return Fault::Delay;
    }
    return Fault::None;
}

bool Server::lineRateMatches() const {
    if (!scenario_.checkLineRate) {
        return true;
    }
    const uint32_t farEnd = pty_.farEndRate();
    return farEnd == 0 || farEnd == unit_.baud();
}

void Server::readLine(Time now) {
    uint8_t buffer[kReadBytes];
    const ssize_t count = read(pty_.fd(), buffer, sizeof buffer);
    if (count <= 0) {
        return;
    }
    const bool rateOk = lineRateMatches();
    for (ssize_t i = 0; i < count; ++i) {
        ++rxBytes_;
        if (auto passed = overTheLine(buffer[i], now, rxFree_, rx_, true, rateOk)) {
            rx_.push_back(*passed);
        }
        if (scenario_.unplugAfterBytes != 0 && !unpluggedOnce_ &&
            rxBytes_ >= scenario_.unplugAfterBytes) {
            unplug(now);
            return;
        }
    }
}

std::optional<Server::TimedByte> Server::overTheLine(uint8_t byte, Time now, Time& lineFree,
                                                     const std::deque<TimedByte>& queue,
                                                     bool toUnit, bool rateOk) {
    Time due = now;
    if (scenario_.pace) {
        lineFree = std::max(lineFree, now) + byteTime();
        due = lineFree;
    }
    const bool applies =
        scenario_.faultDirection == FaultDirection::Both ||
        scenario_.faultDirection == (toUnit ? FaultDirection::ToUnit : FaultDirection::FromUnit);
    uint32_t& burstLeft = burstLeft_[toUnit ? 1 : 0];
    if (burstLeft > 0) {
        --burstLeft;
        ++dropped_;
        return std::nullopt;
    }
    auto chance = [&](double probability) {
        return applies && probability > 0 &&
               std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
    };
    if (chance(scenario_.faultBurst)) {
        const uint32_t shortest = std::min(scenario_.faultBurstMin, scenario_.faultBurstMax);
        const uint32_t longest = std::max(scenario_.faultBurstMin, scenario_.faultBurstMax);
        burstLeft = std::uniform_int_distribution<uint32_t>(shortest, longest)(random_) - 1;
        ++bursts_;
        ++dropped_;
        return std::nullopt;
    }
    if (byte == wire::kDelimiter && chance(scenario_.faultStall)) {
        // The line stops at a frame boundary; what follows waits behind it.
        ++stalls_;
        due += std::chrono::milliseconds(scenario_.faultStallMs);
    }
    switch (drawFault(toUnit)) {
    case Fault::Drop:
        ++dropped_;
        return std::nullopt;
    case Fault::Corrupt:
        ++corrupted_;
        byte ^= static_cast<uint8_t>(1 + random_() % 255);
        break;
    case Fault::Delay:
        ++delayed_;
        due += std::chrono::milliseconds(scenario_.faultDelayMs);
        break;
    case Fault::None:
        break;
    }
    if (!rateOk) {
        // Bytes sent at another rate arrive as framing garbage.
        ++garbled_;
        byte = static_cast<uint8_t>(random_());
    }
    // A delayed byte holds up the ones behind it: the line keeps their order.
    if (!queue.empty()) {
        due = std::max(due, queue.back().due);
    }
    return TimedByte{due, byte};
}

void Server::send(const std::vector<uint8_t>& bytes, Time now, std::optional<uint32_t> baudAfter,
                  uint32_t holdMs) {
    if (!plugged_) {
        return;
    }
    const bool rateOk = lineRateMatches();
    const Time from = now + std::chrono::milliseconds(holdMs);
    for (uint8_t byte : bytes) {
        if (auto passed = overTheLine(byte, from, txFree_, tx_, false, rateOk)) {
            tx_.push_back(*passed);
            ++txQueued_;
        }
    }
    if (baudAfter) {
        baudSwitch_ = std::make_pair(txQueued_, *baudAfter);
    }
    flushTx(now);
}

void Server::flushTx(Time now) {
    std::vector<uint8_t> batch;
    for (const auto& item : tx_) {
        if (item.due > now) {
            break;
        }
        batch.push_back(item.byte);
    }
    if (!batch.empty()) {
        const ssize_t written = write(pty_.fd(), batch.data(), batch.size());
        size_t consumed = 0;
        if (written > 0) {
            consumed = static_cast<size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            // Nobody has the line open: the bytes are gone, as on a cable to nowhere.
            consumed = batch.size();
        }
        tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(consumed));
        txWritten_ += consumed;
    }
    if (baudSwitch_ && txWritten_ >= baudSwitch_->first) {
        unit_.setBaud(baudSwitch_->second);
        baudSwitch_.reset();
        rxFree_ = txFree_ = now;
        writeState();
    }
}

void Server::scheduleNoise(Time now) {
    if (scenario_.faultNoise <= 0) {
        return;
    }
    const double waitMs =
        std::exponential_distribution<double>(scenario_.faultNoise / 1000.0)(random_);
    nextNoise_ = now + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double, std::milli>(waitMs));
}

void Server::sendNoise(Time now) {
    if (!nextNoise_ || now < *nextNoise_ || !tx_.empty()) {
        return;
    }
    std::vector<uint8_t> noise;
    if (random_() % kFalseStartOneIn == 0) {
        const wire::Frame ghost{static_cast<uint8_t>(random_()),
                                static_cast<uint8_t>(random_() | wire::kResponseFlag),
                                std::vector<uint8_t>(kFalseStartPayload, 0x55)};
        noise = wire::encodeFrame(ghost);
        noise.resize(noise.size() / 2);
    } else {
        const uint64_t count = 1 + random_() % kNoiseBytes;
        for (uint64_t i = 0; i < count; ++i) {
            noise.push_back(random_() % kNoiseZeroOneIn == 0 ? wire::kDelimiter
                                                             : static_cast<uint8_t>(random_()));
        }
    }
    for (uint8_t byte : noise) {
        Time due = now;
        if (scenario_.pace) {
            txFree_ = std::max(txFree_, now) + byteTime();
            due = txFree_;
        }
        tx_.push_back(TimedByte{due, byte});
        ++txQueued_;
        ++noiseBytes_;
    }
    scheduleNoise(now);
    flushTx(now);
}

} // namespace octo::unitsim

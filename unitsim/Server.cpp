#include "Server.h"

#include <files/atomic_file.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace octo::unitsim {

using namespace std::chrono_literals;

namespace {

constexpr auto kIdlePoll = 10ms;     // re-check of a line nobody has open
constexpr auto kLongestWait = 100ms; // signal flags are looked at least this often
constexpr size_t kReadBytes = 4096;

constexpr size_t kDumpBytesPerLine = 16;

// Endless Busy: how long the stuck unit claims it needs, how often it says so again, and
// how long the stuck work lasts (for ever, in a test's terms).
constexpr uint32_t kStuckEstimateMs = 3600 * 1000;
constexpr auto kStuckBusyEvery = 500ms;
constexpr auto kStuckFor = std::chrono::hours(24);
// Idle-line noise: at most this many bytes a burst, one in kNoiseZeroOneIn of them a zero
// byte (a false frame delimiter), one burst in kFalseStartOneIn the cut-off start of an
// answer whose header checks.
constexpr uint64_t kNoiseBytes = 8;
constexpr uint64_t kNoiseZeroOneIn = 4;
constexpr uint64_t kFalseStartOneIn = 4;
constexpr size_t kFalseStartPayload = 8;

std::string hexByte(uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// Runs of bytes (each with a start address) as QX-Text: an "@ADDR" line before each run,
// 16 bytes a line, "q" at the end.
template <typename Runs>
std::string qxText(const Runs& runs) {
    std::string text;
    for (const auto& run : runs) {
        char address[16];
        std::snprintf(address, sizeof address, "@%X\n", run.start);
        text += address;
        for (size_t i = 0; i < run.bytes.size(); ++i) {
            text += hexByte(run.bytes[i]);
            text += (i % kDumpBytesPerLine == kDumpBytesPerLine - 1 || i + 1 == run.bytes.size())
                        ? "\n"
                        : " ";
        }
    }
    text += "q\n";
    return text;
}

} // namespace

Server::Server(const Scenario& scenario, ServerOptions options)
    : scenario_(scenario), options_(std::move(options)), unit_(scenario),
      misbehaviour_(scenario.misbehave, scenario.faultSeed + 1), pty_(options_.link),
      random_(scenario.faultSeed), started_(Clock::now()), rxFree_(started_), txFree_(started_) {}

std::optional<std::string> Server::start() {
    if (!options_.eventLog.empty()) {
        events_.reset(std::fopen(options_.eventLog.c_str(), "w"));
        if (!events_) {
            return "cannot create the event log " + options_.eventLog.string();
        }
    }
    if (auto error = pty_.open()) {
        return error;
    }
    plugged_ = true;
    scheduleNoise(Clock::now());
    writeState();
    for (uint8_t i = 0; i < wire::kImageSlots; ++i) {
        writeSlot(i);
    }
    return std::nullopt;
}

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

void Server::deliver(Time now) {
    while (!workUntil_ && !held_.empty()) {
        wire::Frame frame = std::move(held_.front());
        held_.pop_front();
        handleFrame(frame, now);
    }
    // Bytes are decoded during work too: frames wait in held_, and a repeat of the request
    // being worked on is answered with Busy at once.
    while (!rx_.empty() && rx_.front().due <= now) {
        std::vector<uint8_t> batch;
        while (!rx_.empty() && rx_.front().due <= now) {
            batch.push_back(rx_.front().byte);
            rx_.pop_front();
        }
        absorb(decoder_.feed(batch), now);
    }
}

void Server::absorb(std::vector<wire::FrameDecoder::Event> events, Time now) {
    if (silent_) {
        return; // a hung unit hears nothing
    }
    for (auto& event : events) {
        if (event.kind == wire::FrameDecoder::Event::Kind::BadFrame) {
            // Frames the unit itself would send are echoes, not requests.
            if ((event.frame.command & wire::kResponseFlag) == 0) {
                ++naks_;
                send(unit_.nak(event.frame.seq), now);
            }
        } else if (workUntil_ && event.frame.seq == workRequest_.first &&
                   event.frame.command == workRequest_.second) {
            // The sender missed the Busy answer: tell it again how long the work has left.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*workUntil_ - now);
            sendBusy(event.frame.seq, event.frame.command,
                     static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 0, UINT32_MAX)), now);
        } else if (workUntil_) {
            held_.push_back(std::move(event.frame));
        } else {
            handleFrame(event.frame, now);
        }
    }
}

void Server::handleFrame(const wire::Frame& frame, Time now) {
    if (silent_ || (frame.command & wire::kResponseFlag)) {
        return;
    }
    if (misbehaviour_.stuckOn(frame.command)) {
        // Stuck before doing anything: Busy now and again, and never a final answer.
        misbehaviour_.countHit();
        stuck_ = true;
        workUntil_ = now + kStuckFor;
        workAnswer_.clear();
        workBaud_.reset();
        workRequest_ = {frame.seq, frame.command};
        workStarted_ = now;
        nextBusy_ = now + kStuckBusyEvery;
        writeState();
        sendBusy(frame.seq, frame.command, kStuckEstimateMs, now);
        return;
    }
    const uint64_t carriedOut = unit_.commands();
    Reply reply = unit_.handle(frame);
    if (unit_.commands() != carriedOut) {
        logEvent(now, "request", frame.command);
    }
    if (!silencedOnce_ && misbehaviour_.silentAfter(unit_.commands())) {
        // Hung after this command: its answer never leaves.
        silencedOnce_ = silent_ = true;
        misbehaviour_.countHit();
        if (misbehaviour_.silentForMs() != 0) {
            silentUntil_ = now + std::chrono::milliseconds(misbehaviour_.silentForMs());
        }
        writeState();
        return;
    }
    if (unit_.powerCycleDue()) {
        // The power goes before the answer does.
        powerCycle();
        return;
    }
    if (reply.workMs > 0) {
        workUntil_ = now + std::chrono::milliseconds(reply.workMs);
        workAnswer_ = std::move(reply.frame);
        workBaud_ = reply.baudAfter;
        workRequest_ = {frame.seq, frame.command};
        workStarted_ = now;
    }
    // The state file tells what the unit holds (and that it is working) before its answer
    // is on the line, so a reader that has the answer sees the state that goes with it.
    writeState();
    if (reply.workMs > 0) {
        sendBusy(frame.seq, frame.command, reply.workMs, now);
    } else {
        sendAnswer(std::move(reply.frame), now, reply.baudAfter);
        logEvent(now, "answer", frame.command);
    }
}

void Server::sendBusy(uint8_t seq, uint8_t command, uint32_t expectedMs, Time now) {
    const wire::Response busy{wire::Status::Busy, wire::BusyReply{expectedMs}.encode()};
    sendAnswer(wire::encodeFrame(wire::Frame{
                   seq, static_cast<uint8_t>(command | wire::kResponseFlag), busy.encode()}),
               now);
}

void Server::sendAnswer(std::vector<uint8_t> bytes, Time now, std::optional<uint32_t> baudAfter) {
    if (silent_) {
        return;
    }
    const Misbehaviour::Outgoing out = misbehaviour_.answer(std::move(bytes));
    send(out.bytes, now, baudAfter, out.delayMs);
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

void Server::finishWork(Time now) {
    workUntil_.reset();
    lastWorkMs_ = std::chrono::duration<double, std::milli>(now - workStarted_).count();
    totalWorkMs_ += lastWorkMs_;
    sendAnswer(std::move(workAnswer_), now, workBaud_);
    logEvent(now, "answer", workRequest_.second);
    workAnswer_.clear();
    workBaud_.reset();
    writeState();
}

void Server::logEvent(Time now, const char* what, uint8_t command) {
    if (!events_) {
        return;
    }
    const double ms = std::chrono::duration<double, std::milli>(now - started_).count();
    std::string line = std::string(what) + " " + std::string(wire::commandName(command));
    // A main process's answer carries what the run did, so each run of a series can be
    // told apart after the fact.
    if (std::string_view(what) == "answer" &&
        command == static_cast<uint8_t>(wire::Command::MainProcess)) {
        line += " run " + unit_.runText();
    }
    std::fprintf(events_.get(), "%.3f %s\n", ms, line.c_str());
    std::fflush(events_.get());
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

// Bytes on their way in either direction, a partial frame, requests held for the unit and
// a rate switch waiting for its answer to leave are all lost.
void Server::dropTraffic() {
    rx_.clear();
    tx_.clear();
    txQueued_ = txWritten_;
    held_.clear();
    decoder_.reset();
    baudSwitch_.reset();
}

void Server::unplug(Time now) {
    unpluggedOnce_ = true;
    ++unplugs_;
    pty_.close();
    plugged_ = false;
    dropTraffic();
    if (workUntil_) {
        // The work itself is done (its effects are in the unit); its answer has no line.
        workUntil_.reset();
        workAnswer_.clear();
    }
    stuck_ = false;
    if (scenario_.faultUnplugResets) {
        // The unit takes its power from the cable.
        restartUnit();
    }
    replugAt_.reset();
    if (scenario_.unplugForMs != 0) {
        replugAt_ = now + std::chrono::milliseconds(scenario_.unplugForMs);
    }
    writeState();
}

void Server::restartUnit() {
    unit_.powerCycle();
    misbehaviour_.powerCycle();
    silent_ = false;
    silentUntil_.reset();
}

void Server::powerCycle() {
    restartUnit();
    dropTraffic();
    stuck_ = false;
    workUntil_.reset();
    workAnswer_.clear();
    workBaud_.reset();
    rxFree_ = txFree_ = Clock::now();
    if (plugged_) {
        tcflush(pty_.fd(), TCIOFLUSH);
    }
    writeState();
}

void Server::replug(Time now) {
    replugAt_.reset();
    if (auto error = pty_.open()) {
        std::fprintf(stderr, "unitsim: replug failed: %s\n", error->c_str());
        return;
    }
    plugged_ = true;
    rxFree_ = txFree_ = now;
    writeState();
}

int Server::run(ServerSignals& signals) {
    while (!signals.stop) {
        Time now = Clock::now();
        if (signals.powerCycle) {
            signals.powerCycle = 0;
            powerCycle();
        }
        if (signals.togglePlug) {
            signals.togglePlug = 0;
            if (plugged_) {
                unplug(now);
            } else {
                replug(now);
            }
        }
        if (plugged_ && scenario_.unplugAtMs != 0 && !unpluggedOnce_ &&
            now - started_ >= std::chrono::milliseconds(scenario_.unplugAtMs)) {
            unplug(now);
        }
        if (!plugged_) {
            if (replugAt_ && now >= *replugAt_) {
                replug(now);
            } else {
                std::this_thread::sleep_for(kIdlePoll);
            }
            continue;
        }
        if (silentUntil_ && now >= *silentUntil_) {
            silent_ = false;
            silentUntil_.reset();
            writeState();
        }
        if (stuck_ && now >= nextBusy_) {
            sendBusy(workRequest_.first, workRequest_.second, kStuckEstimateMs, now);
            nextBusy_ = now + kStuckBusyEvery;
        }
        if (workUntil_ && now >= *workUntil_) {
            finishWork(now);
        }
        deliver(now);
        sendNoise(now);
        flushTx(now);

        Time wake = now + kLongestWait;
        if (!rx_.empty()) {
            // Whole milliseconds: waking for every byte at 115200 baud would spin.
            wake = std::min(wake, std::max(rx_.front().due, now + 1ms));
        }
        if (workUntil_) {
            wake = std::min(wake, *workUntil_);
        }
        if (stuck_) {
            wake = std::min(wake, nextBusy_);
        }
        if (nextNoise_) {
            wake = std::min(wake, std::max(*nextNoise_, now + 1ms));
        }
        if (silentUntil_) {
            wake = std::min(wake, *silentUntil_);
        }
        if (!tx_.empty()) {
            wake = std::min(wake, std::max(tx_.front().due, now + 1ms));
        }
        if (scenario_.unplugAtMs != 0 && !unpluggedOnce_) {
            wake = std::min(wake, started_ + std::chrono::milliseconds(scenario_.unplugAtMs));
        }
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        pollfd item{pty_.fd(), POLLIN, 0};
        if (!tx_.empty() && tx_.front().due <= now) {
            item.events |= POLLOUT;
        }
        const int ready = poll(&item, 1, static_cast<int>(std::max<long long>(waitMs, 0)));
        now = Clock::now();
        if (ready > 0 && (item.revents & POLLIN)) {
            readLine(now);
        } else if (ready > 0 && (item.revents & POLLHUP)) {
            // No one has the slave open: a master reports a hang-up until someone does.
            std::this_thread::sleep_for(kIdlePoll);
        }
    }
    pty_.close();
    plugged_ = false;
    writeState();
    return 0;
}

void Server::writeState() {
    if (options_.stateFile.empty()) {
        return;
    }
    std::string text;
    auto line = [&](const std::string& key, const std::string& value) {
        text += key + " = " + value + "\n";
    };
    line("link.state", plugged_ ? "plugged" : "unplugged");
    line("link.path", plugged_ ? pty_.slavePath() : std::string());
    line("link.unplugs", std::to_string(unplugs_));
    line("link.rx_bytes", std::to_string(rxBytes_));
    line("link.tx_bytes", std::to_string(txWritten_));
    line("link.dropped", std::to_string(dropped_));
    line("link.corrupted", std::to_string(corrupted_));
    line("link.delayed", std::to_string(delayed_));
    line("link.garbled", std::to_string(garbled_));
    line("link.bad_frames", std::to_string(decoder_.badFrames()));
    line("link.naks", std::to_string(naks_));
    line("link.bursts", std::to_string(bursts_));
    line("link.stalls", std::to_string(stalls_));
    line("link.noise_bytes", std::to_string(noiseBytes_));
    line("misbehave.active", misbehaviour_.active() ? "yes" : "no");
    line("misbehave.hits", std::to_string(misbehaviour_.hits()));
    line("unit.silent", silent_ ? "yes" : "no");
    char work[32];
    std::snprintf(work, sizeof work, "%.3f", lastWorkMs_);
    line("unit.last_work_ms", work);
    std::snprintf(work, sizeof work, "%.3f", totalWorkMs_);
    line("unit.work_ms", work);
    line("unit.working", workUntil_ ? "yes" : "no");
    text += unit_.stateText();
    for (uint8_t index : unit_.takeChangedSlots()) {
        writeSlot(index);
    }
    for (uint8_t index : unit_.takeChangedTargets()) {
        writeTarget(index);
    }
    files::replaceFile(options_.stateFile.string(), text, files::Durability::WriterCrash);
}

// Each slot's bytes as QX-Text beside the state file: "<state>.slot<N>.txt".
void Server::writeSlot(uint8_t index) {
    if (options_.stateFile.empty()) {
        return;
    }
    const std::string text = qxText(unit_.slot(index).data.runs());
    const auto path = options_.stateFile.string() + ".slot" + std::to_string(index) + ".txt";
    files::replaceFile(path, text, files::Durability::WriterCrash);
}

// A target's whole memory as QX-Text beside the state file, "<state>.target<N>.txt" (N
// from 1), when the scenario asks for dumps.
void Server::writeTarget(uint8_t index) {
    const TargetSocket& socket = unit_.targets().socket(index);
    if (options_.stateFile.empty() || !scenario_.dumpTargets || !socket.memory) {
        return;
    }
    const std::string text = qxText(socket.memory->segments());
    const auto path = options_.stateFile.string() + ".target" + std::to_string(index + 1) + ".txt";
    files::replaceFile(path, text, files::Durability::WriterCrash);
}

} // namespace octo::unitsim

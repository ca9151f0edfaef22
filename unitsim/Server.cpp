// The server's loop, and the unit behind the line: requests taken from the line, held
// during work, answered (or not, as the misbehaviour says), and the cable and power that
// come and go. The line itself is in ServerLine, the state file and event log in
// ServerState.
#include "Server.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <termios.h>
#include <thread>

namespace octo::unitsim {

using namespace std::chrono_literals;

namespace {

constexpr auto kIdlePoll = 10ms;     // re-check of a line nobody has open
constexpr auto kLongestWait = 100ms; // signal flags are looked at least this often

// Endless Busy: how long the stuck unit claims it needs, how often it says so again, and
// how long the stuck work lasts (for ever, in a test's terms).
constexpr uint32_t kStuckEstimateMs = 3600 * 1000;
constexpr auto kStuckBusyEvery = 500ms;
constexpr auto kStuckFor = std::chrono::hours(24);

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
    if (!options_.chipLog.empty()) {
        // Appended to: the log of every chip the unit ever wrote outlives a restart.
        chips_.reset(std::fopen(options_.chipLog.c_str(), "a"));
        if (!chips_) {
            return "cannot open the chip log " + options_.chipLog.string();
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
    logRecords();
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

} // namespace octo::unitsim

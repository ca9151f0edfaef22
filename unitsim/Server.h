// The simulated unit on its pty: the event loop that carries bytes between the line and
// the unit, pacing them at the line rate, injecting the scenario's faults, unplugging and
// coming back, and rewriting the state file after every command.
#pragma once

#include "Misbehaviour.h"
#include "Pty.h"
#include "Scenario.h"
#include "Unit.h"

#include <wire/frame.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace octo::unitsim {

struct ServerOptions {
    std::filesystem::path link;
    std::filesystem::path stateFile; // empty: none
    std::filesystem::path eventLog;  // empty: none
    std::filesystem::path chipLog;   // empty: none
};

// Flags the signal handlers set and the loop reads.
struct ServerSignals {
    volatile std::sig_atomic_t stop = 0;
    volatile std::sig_atomic_t togglePlug = 0;
    volatile std::sig_atomic_t powerCycle = 0;
};

class Server {
public:
    Server(const Scenario& scenario, ServerOptions options);

    // Opens the line; an error text on failure.
    std::optional<std::string> start();
    // Runs until signals.stop is set. Returns the process exit status.
    int run(ServerSignals& signals);
    const std::string& slavePath() const { return pty_.slavePath(); }

private:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;
    struct TimedByte {
        Time due;
        uint8_t byte;
    };
    enum class Fault { None, Drop, Corrupt, Delay };

    // The unit behind the line (Server.cpp).
    void deliver(Time now);
    void handleFrame(const wire::Frame& frame, Time now);
    void absorb(std::vector<wire::FrameDecoder::Event> events, Time now);
    // An answer to a request, as the unit (misbehaving or not) sends it.
    void sendAnswer(std::vector<uint8_t> bytes, Time now, std::optional<uint32_t> baudAfter = {});
    void sendBusy(uint8_t seq, uint8_t command, uint32_t expectedMs, Time now);
    void finishWork(Time now);
    // The unit's power goes and comes back: its line rate, its misbehaviour gone.
    void restartUnit();
    void dropTraffic();
    void unplug(Time now);
    void replug(Time now);
    void powerCycle();

    // The line (ServerLine.cpp).
    Clock::duration byteTime() const;
    Fault drawFault(bool toUnit);
    // One byte through the line in either direction: paced, faulted as the scenario says
    // and garbled at a wrong rate; nothing when the line drops it.
    std::optional<TimedByte> overTheLine(uint8_t byte, Time now, Time& lineFree,
                                         const std::deque<TimedByte>& queue, bool toUnit,
                                         bool rateOk);
    bool lineRateMatches() const;
    void readLine(Time now);
    // Bytes to the line; holdMs keeps them (and all behind them) back that long.
    void send(const std::vector<uint8_t>& bytes, Time now, std::optional<uint32_t> baudAfter = {},
              uint32_t holdMs = 0);
    // Idle-line noise from the unit when a burst is due and nothing else is on the line.
    void sendNoise(Time now);
    void scheduleNoise(Time now);
    void flushTx(Time now);

    // What the server tells its tests (ServerState.cpp).
    void writeState();
    void writeSlot(uint8_t index);
    void writeTarget(uint8_t index);
    // One line of the event log: the time since the start and what happened.
    void logEvent(Time now, const char* what, uint8_t command);
    // One line of the chip log for each record the last request wrote into a chip.
    void logRecords();

    Scenario scenario_;
    ServerOptions options_;
    Unit unit_;
    Misbehaviour misbehaviour_;
    Pty pty_;
    wire::FrameDecoder decoder_;
    std::mt19937_64 random_;
    Time started_;

    std::deque<TimedByte> rx_;
    std::deque<TimedByte> tx_;
    Time rxFree_;
    Time txFree_;
    std::deque<wire::Frame> held_; // frames that arrived while the unit was working

    // Work in progress: the answer goes out at workUntil_.
    std::optional<Time> workUntil_;
    std::vector<uint8_t> workAnswer_;
    std::optional<uint32_t> workBaud_;
    std::pair<uint8_t, uint8_t> workRequest_{}; // sequence number and command being worked on
    Time workStarted_;
    double lastWorkMs_ = 0; // measured: from the request to its final answer
    double totalWorkMs_ = 0;
    // Endless Busy: the request the unit is stuck on gets a fresh Busy at nextBusy_.
    bool stuck_ = false;
    Time nextBusy_;
    // Silence with the line up: nothing is taken or answered until silentUntil_ (none: until
    // the power is cycled).
    bool silent_ = false;
    bool silencedOnce_ = false;
    std::optional<Time> silentUntil_;
    std::optional<Time> nextNoise_;
    // Bytes still to lose of a burst, towards the unit [1] and from it [0].
    std::array<uint32_t, 2> burstLeft_{};
    // A rate switch that waits for the answer's last byte to leave.
    std::optional<std::pair<uint64_t, uint32_t>> baudSwitch_;

    bool plugged_ = false;
    std::optional<Time> replugAt_;
    bool unpluggedOnce_ = false;
    uint64_t unplugs_ = 0;

    uint64_t rxBytes_ = 0;
    uint64_t txQueued_ = 0;
    uint64_t txWritten_ = 0;
    uint64_t dropped_ = 0;
    uint64_t corrupted_ = 0;
    uint64_t delayed_ = 0;
    uint64_t garbled_ = 0;
    uint64_t bursts_ = 0;
    uint64_t stalls_ = 0;
    uint64_t noiseBytes_ = 0;
    uint64_t naks_ = 0;

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> events_;
    std::unique_ptr<std::FILE, FileCloser> chips_;
};

} // namespace octo::unitsim

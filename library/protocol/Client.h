// The library's side of the serial protocol: requests with acknowledgement, bounded
// retransmission, resynchronisation and a deadline on every wait, and the windowed
// stream that moves image and firmware data to the unit and read-outs from it.
#pragma once

#include "serial/SerialPort.h"

#include <wire/frame.h>
#include <wire/messages.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace octo::protocol {

enum class LinkError {
    None,
    NoPort,      // no port is open
    PortFailed,  // the port went away (unplugged)
    Timeout,     // no answer within the deadline
    FrameErrors, // answers came, but damaged every time
};

struct LinkStats {
    uint64_t framesSent = 0;
    uint64_t retransmissions = 0; // requests sent again, data frames sent again
    uint64_t naks = 0;            // the unit reported a damaged frame
    uint64_t gaps = 0;            // the unit reported missing data
    uint64_t badFrames = 0;       // damaged answers
    uint64_t timeouts = 0;        // waits that ran out
    uint64_t rewinds = 0;         // the data stream went back to the last acknowledged byte
    uint32_t smallestChunk = 0;   // data bytes per frame: the smallest the stream fell to
};

// Monotonic milliseconds.
uint64_t nowMs();

// The time ten bits take per byte on the line, for so many bytes, in ms (rounded up).
uint32_t lineMs(uint64_t bytes, uint32_t rate);

// Bytes the line carries in one pump period (Client::kSliceMs) at rate, at least 1: the
// largest piece of a frame handed to the port in one write.
size_t writePieceBytes(uint32_t rate);

struct Exchange {
    LinkError error = LinkError::None;
    wire::Response response;
    bool ok() const { return error == LinkError::None; }
};

struct TransactOptions {
    // The figures of a short exchange, which docs/library.md's bounds are made of.
    static constexpr int kAttempts = 5;
    static constexpr uint32_t kReplyBytes = 64;
    static constexpr uint32_t kShortWorkMs = 1000;

    int attempts = kAttempts;          // sends of the request before giving up
    uint32_t replyBytes = kReplyBytes; // expected answer size, for the per-attempt time-out
    // Longest the unit may report itself busy. Requests that start no long work are
    // never answered Busy by a sound unit; their bound stays short.
    uint32_t workLimitMs = kShortWorkMs;
    // When not 0, a clock value the whole exchange ends by, answered or not. A Busy
    // answer then renews the attempts, so a unit that works long and loses an answer is
    // asked again until the deadline.
    uint64_t deadlineMs = 0;
};

// Data of one contiguous piece of an image.
struct Piece {
    uint32_t address = 0;
    std::span<const uint8_t> bytes;
};

struct StreamOutcome {
    LinkError error = LinkError::None;
    std::optional<wire::Status> refusal; // the unit refused the data
};

// A request of a windowed stream, as its direction builds it.
struct StreamFrame {
    std::vector<uint8_t> payload;
    uint32_t length = 0; // stream bytes it moves
    // Line bytes of the exchange that queue up behind the frames before it (the request
    // when sending, the answer when fetching) and of its other half, which does not.
    uint32_t queuedLineBytes = 0;
    uint32_t otherLineBytes = 0;
};

// A request of the stream still waiting for its answer.
struct StreamRequest {
    uint8_t seq = 0;
    uint64_t start = 0;           // stream offset of its first byte
    uint64_t end = 0;             // stream offset after it
    uint32_t queuedLineBytes = 0; // as in its StreamFrame
    uint64_t deadline = 0;        // nowMs() by which its answer is overdue
};

// What one answer of the stream says.
struct StreamAnswer {
    std::optional<wire::Status> refusal; // the unit refused the stream: it ends here
    bool damaged = false;                // not a sound answer
    uint64_t confirmed = 0;              // stream bytes the unit has confirmed so far
    bool clean = false;                  // counts towards growing the chunk again
    bool gap = false;                    // the unit reported missing data
    bool lost = false;                   // a request before it went missing: go back
};

// What differs between the two directions of a stream: the request that moves the stream's
// bytes from an offset on, and what an answer to it says.
class StreamDirection {
public:
    virtual ~StreamDirection() = default;
    virtual StreamFrame frame(uint64_t offset, uint32_t chunk) = 0;
    // request: the request the answer belongs to, null when the stream gave up on it;
    // confirmed: the stream bytes confirmed before this answer.
    virtual StreamAnswer answer(std::span<const uint8_t> payload, const StreamRequest* request,
                                uint64_t confirmed) = 0;
};

// Image or firmware data to the unit (ImageData, FirmwareData): every answer confirms the
// stream bytes the unit has stored so far, so it is news even for a frame sent before a
// rewind. The stream is the pieces' bytes in order.
class SendDirection final : public StreamDirection {
public:
    explicit SendDirection(std::span<const Piece> pieces);
    uint64_t total() const { return total_; }
    StreamFrame frame(uint64_t offset, uint32_t chunk) override;
    StreamAnswer answer(std::span<const uint8_t> payload, const StreamRequest* request,
                        uint64_t confirmed) override;

private:
    std::span<const Piece> pieces_;
    std::vector<uint64_t> starts_; // stream offset of each piece
    uint64_t total_ = 0;
};

// A read-out the unit holds in its buffer (ReadTargetData): each answer carries the bytes
// of its request, taken only in order; out receives them.
class FetchDirection final : public StreamDirection {
public:
    explicit FetchDirection(std::vector<uint8_t>& out) : out_(out) { out_.clear(); }
    StreamFrame frame(uint64_t offset, uint32_t chunk) override;
    StreamAnswer answer(std::span<const uint8_t> payload, const StreamRequest* request,
                        uint64_t confirmed) override;

private:
    std::vector<uint8_t>& out_;
};

class Client {
public:
    // Data bytes per frame: the stream starts at the largest and halves the size after
    // each loss down to the smallest, growing again after kGrowAfter clean answers.
    // 1024 keeps the framing cost near 2 % of the line (see scripts/bench); the small
    // end keeps frames passing on a line that damages one byte in a hundred.
    static constexpr uint32_t kLargestChunk = 1024;
    static constexpr uint32_t kSmallestChunk = 16;
    static constexpr uint32_t kGrowAfter = 4;
    // Frames in flight: enough for the next frame to be on the line while the unit
    // answers the last one, few enough that a loss sends little again.
    static constexpr uint32_t kWindowFrames = 3;
    // Rewinds without progress before a stream gives up.
    static constexpr int kMaxStalls = 32;
    // What the unit and the host's scheduler may add to a round trip.
    static constexpr uint32_t kTurnaroundMs = 60;
    // The longest a wait goes without running the caller's message pump.
    static constexpr uint32_t kSliceMs = 10;
    // A Busy answer lets the wait run to twice the unit's estimate and this much more.
    static constexpr uint32_t kBusySlackMs = 1000;

    // clock: monotonic milliseconds (tests give a clock of their own).
    Client(serial::SerialPort& port, std::function<void()> pump,
           std::function<uint64_t()> clock = nowMs);

    void setRate(uint32_t rate) { rate_ = rate; }
    uint32_t rate() const { return rate_; }

    // Sends a request and waits for its answer. A missing or damaged answer sends the
    // request again with the same sequence number (the unit answers repeats without
    // doing the work twice); a Busy answer extends the wait by the unit's estimate, but
    // never past the exchange's bound (exchangeBoundMs), however often the unit says it.
    Exchange transact(wire::Command command, const std::vector<uint8_t>& payload,
                      const TransactOptions& options = {});

    // Moves total bytes of a stream in either direction with up to kWindowFrames requests
    // of dataCommand in flight: go-back-N to the first byte not confirmed after a loss,
    // the chunk halving at every rewind and growing after kGrowAfter clean answers. The
    // stream gives up after kMaxStalls rewinds without progress or at deadlineMs.
    StreamOutcome stream(StreamDirection& direction, wire::Command dataCommand, uint64_t total,
                         uint64_t deadlineMs, const std::function<void(uint64_t)>& progress);

    // How long transact may take at most: options.deadlineMs when given, else every
    // attempt's time plus twice the work limit and kBusySlackMs.
    uint64_t exchangeBoundMs(size_t payloadBytes, const TransactOptions& options) const;

    const LinkStats& stats() const { return stats_; }
    // A new port or session: forget partial frames, answers not taken, the counters.
    void reset();

private:
    struct Event {
        bool damaged = false;
        wire::Frame frame;
    };

    // The next sequence number, never the one of the last request the unit keeps an
    // answer for: a stream whose numbers wrapped would otherwise hand it to the next
    // request, and the unit would take that for a repeat.
    uint8_t nextSeq();
    uint32_t attemptMs(size_t payloadBytes, const TransactOptions& options) const;
    bool sendFrame(uint8_t seq, wire::Command command, const std::vector<uint8_t>& payload);
    // Reads for at most sliceMs into the event queue; false when the port failed.
    bool poll(uint32_t sliceMs);
    void absorb(std::vector<wire::FrameDecoder::Event> events);

    serial::SerialPort& port_;
    std::function<void()> pump_;
    std::function<uint64_t()> clock_;
    uint32_t rate_ = 115200;
    uint8_t seq_;
    std::optional<uint8_t> keptSeq_; // of the last request answered from the unit's cache
    wire::FrameDecoder decoder_;
    std::deque<Event> events_;
    LinkStats stats_;
};

} // namespace octo::protocol

#include "protocol/Client.h"

#include <algorithm>
#include <chrono>

namespace octo::protocol {

using wire::Command;
using wire::Status;

namespace {

// A byte on the line: start bit, eight data bits, stop bit.
constexpr uint64_t kBitsPerByte = 10;
constexpr uint64_t kMsPerSecond = 1000;
// A frame's write may take this much longer than twice its line time.
constexpr uint64_t kWriteSlackMs = 1000;

} // namespace

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint32_t lineMs(uint64_t bytes, uint32_t rate) {
    if (rate == 0) {
        return 0;
    }
    return static_cast<uint32_t>((bytes * kBitsPerByte * kMsPerSecond + rate - 1) / rate);
}

Client::Client(serial::SerialPort& port, std::function<void()> pump,
               std::function<uint64_t()> clock)
    : port_(port), pump_(std::move(pump)), clock_(std::move(clock)),
      seq_(static_cast<uint8_t>(clock_())) {}

uint8_t Client::nextSeq() {
    uint8_t seq = seq_++;
    if (keptSeq_ && seq == *keptSeq_) {
        seq = seq_++;
    }
    return seq;
}

uint32_t Client::attemptMs(size_t payloadBytes, const TransactOptions& options) const {
    return lineMs(payloadBytes + wire::kFrameOverhead + options.replyBytes, rate_) * 2 +
           kTurnaroundMs;
}

uint64_t Client::exchangeBoundMs(size_t payloadBytes, const TransactOptions& options) const {
    return uint64_t{attemptMs(payloadBytes, options)} * static_cast<uint64_t>(options.attempts) +
           uint64_t{options.workLimitMs} * 2 + kBusySlackMs;
}

void Client::reset() {
    decoder_.reset();
    events_.clear();
    stats_ = {};
}

size_t writePieceBytes(uint32_t rate) {
    return std::max<size_t>(1, uint64_t{rate} * Client::kSliceMs / kBitsPerByte / kMsPerSecond);
}

bool Client::sendFrame(uint8_t seq, Command command, const std::vector<uint8_t>& payload) {
    const auto bytes = wire::encodeFrame(wire::Frame{seq, static_cast<uint8_t>(command), payload});
    ++stats_.framesSent;
    // A write may return only once the line has taken its bytes (Windows serial writes
    // are synchronous): pieces of one pump period of line time keep the pump's period,
    // where a whole 1 KiB frame would hold it up for a second at 9600 baud.
    const size_t piece = writePieceBytes(rate_);
    const uint64_t deadline = clock_() + lineMs(bytes.size(), rate_) * 2 + kWriteSlackMs;
    std::span<const uint8_t> rest(bytes);
    while (!rest.empty()) {
        const auto part = rest.first(std::min(piece, rest.size()));
        const uint64_t now = clock_();
        if (now >= deadline || !port_.write(part, static_cast<uint32_t>(deadline - now))) {
            return false;
        }
        rest = rest.subspan(part.size());
        if (!rest.empty() && pump_) {
            pump_();
        }
    }
    return true;
}

bool Client::poll(uint32_t sliceMs) {
    if (pump_) {
        pump_();
    }
    uint8_t buffer[2048];
    const int count = port_.read(buffer, sliceMs);
    if (count < 0) {
        return false;
    }
    if (count > 0) {
        absorb(decoder_.feed(std::span<const uint8_t>(buffer, static_cast<size_t>(count))));
    }
    return true;
}

void Client::absorb(std::vector<wire::FrameDecoder::Event> events) {
    for (auto& event : events) {
        if (event.kind == wire::FrameDecoder::Event::Kind::BadFrame) {
            ++stats_.badFrames;
            continue;
        }
        // Only the unit's frames count; anything else on the line is an echo or noise.
        if (event.frame.command & wire::kResponseFlag) {
            events_.push_back(Event{false, std::move(event.frame)});
        }
    }
}

Exchange Client::transact(Command command, const std::vector<uint8_t>& payload,
                          const TransactOptions& options) {
    Exchange result;
    if (!port_.isOpen()) {
        result.error = LinkError::NoPort;
        return result;
    }
    const uint8_t seq = nextSeq();
    keptSeq_ = seq;
    const uint8_t answerCode = wire::responseCode(command);
    const uint8_t nakCode = wire::responseCode(Command::Nak);
    const uint32_t attemptMs = this->attemptMs(payload.size(), options);
    // The exchange ends by its bound whatever the unit answers: a unit that keeps saying
    // Busy must not hold the call forever.
    const uint64_t bound = options.deadlineMs != 0
                               ? options.deadlineMs
                               : clock_() + exchangeBoundMs(payload.size(), options);
    events_.clear();
    bool sawDamage = false;
    auto capped = [&](uint64_t deadline) { return std::min(deadline, bound); };
    for (int attempt = 0; attempt < options.attempts; ++attempt) {
        if (clock_() >= bound) {
            break;
        }
        if (attempt > 0) {
            ++stats_.retransmissions;
        }
        if (!sendFrame(seq, command, payload)) {
            result.error = LinkError::PortFailed;
            return result;
        }
        const uint64_t badBefore = stats_.badFrames;
        uint64_t deadline = capped(clock_() + attemptMs);
        bool resend = false;
        while (!resend) {
            const uint64_t now = clock_();
            if (now >= deadline) {
                ++stats_.timeouts;
                break;
            }
            if (!poll(static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kSliceMs)))) {
                result.error = LinkError::PortFailed;
                return result;
            }
            while (!events_.empty()) {
                Event event = std::move(events_.front());
                events_.pop_front();
                if (event.frame.seq != seq) {
                    continue; // a late answer to an earlier request
                }
                if (event.frame.command == nakCode) {
                    ++stats_.naks;
                    sawDamage = true;
                    resend = true;
                    break;
                }
                if (event.frame.command != answerCode) {
                    continue;
                }
                auto response = wire::Response::decode(event.frame.payload);
                if (!response) {
                    sawDamage = true;
                    continue;
                }
                if (response->status == Status::Busy) {
                    // The unit works on it: wait for as long as it says, and more.
                    const auto busy = wire::BusyReply::decode(response->body);
                    const uint32_t expected = busy ? std::min(busy->expectedMs, options.workLimitMs)
                                                   : options.workLimitMs;
                    deadline = capped(clock_() + uint64_t{expected} * 2 + attemptMs + kBusySlackMs);
                    if (options.deadlineMs != 0) {
                        attempt = 0; // alive and working: its later answers get new tries
                    }
                    continue;
                }
                result.response = std::move(*response);
                return result;
            }
        }
        if (stats_.badFrames != badBefore) {
            sawDamage = true;
        }
    }
    result.error = sawDamage ? LinkError::FrameErrors : LinkError::Timeout;
    return result;
}

namespace {

// Line bytes of an answer to a data frame, with room to spare.
constexpr uint32_t kSendAnswerLineBytes = 32;
// A read-out request's line bytes, and the header of its answer before the data.
constexpr uint32_t kFetchRequestLineBytes = wire::kFrameOverhead + 6;
constexpr uint32_t kFetchAnswerHeader = 5;

} // namespace

SendDirection::SendDirection(std::span<const Piece> pieces) : pieces_(pieces) {
    for (const auto& piece : pieces) {
        starts_.push_back(total_);
        total_ += piece.bytes.size();
    }
}

StreamFrame SendDirection::frame(uint64_t offset, uint32_t chunk) {
    // The piece that holds the stream offset, and where in it.
    const auto index = static_cast<size_t>(
        std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin() - 1);
    const Piece& piece = pieces_[index];
    const uint64_t within = offset - starts_[index];
    const uint64_t length = std::min<uint64_t>(chunk, piece.bytes.size() - within);
    wire::ImageDataRequest request;
    request.offset = static_cast<uint32_t>(offset);
    request.address = static_cast<uint32_t>(piece.address + within);
    const auto data = piece.bytes.subspan(within, length);
    request.data.assign(data.begin(), data.end());
    StreamFrame frame;
    frame.payload = request.encode();
    frame.length = static_cast<uint32_t>(length);
    frame.queuedLineBytes =
        static_cast<uint32_t>(frame.payload.size() + wire::lineOverhead(frame.payload.size()));
    frame.otherLineBytes = kSendAnswerLineBytes;
    return frame;
}

StreamAnswer SendDirection::answer(std::span<const uint8_t> payload, const StreamRequest*,
                                   uint64_t) {
    StreamAnswer result;
    const auto response = wire::Response::decode(payload);
    const auto reply = response ? wire::ImageDataReply::decode(response->body) : std::nullopt;
    if (!response || (!reply && response->status != Status::BadState)) {
        result.damaged = true;
        return result;
    }
    if (response->status != Status::Ok && response->status != Status::Gap) {
        result.refusal = response->status;
        return result;
    }
    if (reply->received > total_) {
        result.refusal = Status::BadArgument;
        return result;
    }
    result.confirmed = reply->received;
    result.clean = response->status == Status::Ok;
    result.gap = result.lost = response->status == Status::Gap;
    return result;
}

StreamFrame FetchDirection::frame(uint64_t offset, uint32_t chunk) {
    StreamFrame frame;
    frame.payload =
        wire::ReadTargetDataRequest{static_cast<uint32_t>(offset), static_cast<uint16_t>(chunk)}
            .encode();
    frame.length = chunk;
    frame.queuedLineBytes = static_cast<uint32_t>(chunk + kFetchAnswerHeader +
                                                  wire::lineOverhead(chunk + kFetchAnswerHeader));
    frame.otherLineBytes = kFetchRequestLineBytes;
    return frame;
}

StreamAnswer FetchDirection::answer(std::span<const uint8_t> payload, const StreamRequest* request,
                                    uint64_t confirmed) {
    StreamAnswer result;
    if (!request) {
        return result; // an answer to a request given up on
    }
    const auto response = wire::Response::decode(payload);
    if (response && response->status != Status::Ok) {
        result.refusal = response->status;
        return result;
    }
    const auto reply = response ? wire::ReadTargetDataReply::decode(response->body) : std::nullopt;
    if (!reply || reply->offset != request->start ||
        reply->data.size() != request->end - request->start) {
        result.damaged = result.lost = true;
        return result;
    }
    if (request->start != confirmed) {
        // The answers come in order: one before it was lost.
        result.lost = true;
        return result;
    }
    out_.insert(out_.end(), reply->data.begin(), reply->data.end());
    result.confirmed = out_.size();
    result.clean = true;
    return result;
}

StreamOutcome Client::stream(StreamDirection& direction, Command dataCommand, uint64_t total,
                             uint64_t deadlineMs, const std::function<void(uint64_t)>& progress) {
    StreamOutcome outcome;
    if (!port_.isOpen()) {
        outcome.error = LinkError::NoPort;
        return outcome;
    }
    const uint8_t answerCode = wire::responseCode(dataCommand);
    const uint8_t nakCode = wire::responseCode(Command::Nak);

    uint64_t confirmed = 0;
    uint64_t next = 0;
    uint32_t chunk = kLargestChunk;
    uint32_t clean = 0;
    int stalls = 0;
    bool sawDamage = false;
    std::deque<StreamRequest> window;
    uint64_t queuedLineBytes = 0; // of the requests in the window
    stats_.smallestChunk =
        stats_.smallestChunk == 0 ? chunk : std::min(stats_.smallestChunk, chunk);
    events_.clear();

    auto rewind = [&]() {
        ++stats_.rewinds;
        stats_.retransmissions += window.size();
        window.clear();
        queuedLineBytes = 0;
        next = confirmed;
        chunk = std::max(kSmallestChunk, chunk / 2);
        stats_.smallestChunk = std::min(stats_.smallestChunk, chunk);
        clean = 0;
        ++stalls;
    };

    while (confirmed < total) {
        if (clock_() >= deadlineMs || stalls > kMaxStalls) {
            outcome.error = sawDamage ? LinkError::FrameErrors : LinkError::Timeout;
            return outcome;
        }
        // Keep the window full.
        while (next < total && window.size() < kWindowFrames) {
            const StreamFrame frame = direction.frame(
                next, static_cast<uint32_t>(std::min<uint64_t>(chunk, total - next)));
            const uint8_t seq = nextSeq();
            if (!sendFrame(seq, dataCommand, frame.payload)) {
                outcome.error = LinkError::PortFailed;
                return outcome;
            }
            queuedLineBytes += frame.queuedLineBytes;
            // Its answer comes after everything queued before it has crossed the line.
            const uint64_t deadline = clock_() +
                                      lineMs(queuedLineBytes + frame.otherLineBytes, rate_) * 2 +
                                      kTurnaroundMs;
            window.push_back(
                StreamRequest{seq, next, next + frame.length, frame.queuedLineBytes, deadline});
            next += frame.length;
        }

        const uint64_t now = clock_();
        const uint64_t waitUntil = window.empty() ? now + kSliceMs : window.front().deadline;
        const uint64_t slice = waitUntil > now ? std::min<uint64_t>(waitUntil - now, kSliceMs) : 0;
        const uint64_t badBefore = stats_.badFrames;
        if (!poll(static_cast<uint32_t>(slice))) {
            outcome.error = LinkError::PortFailed;
            return outcome;
        }
        if (stats_.badFrames != badBefore) {
            sawDamage = true;
        }
        // Only a request sent since the last rewind may cause another one.
        bool wentBack = false;
        while (!events_.empty()) {
            Event event = std::move(events_.front());
            events_.pop_front();
            const auto found =
                std::find_if(window.begin(), window.end(),
                             [&](const StreamRequest& r) { return r.seq == event.frame.seq; });
            const bool current = found != window.end();
            if (event.frame.command == nakCode) {
                ++stats_.naks;
                sawDamage = true;
                if (current && !wentBack) {
                    rewind();
                    wentBack = true;
                }
                continue;
            }
            if (event.frame.command != answerCode) {
                continue;
            }
            const StreamAnswer answer =
                direction.answer(event.frame.payload, current ? &*found : nullptr, confirmed);
            if (answer.refusal) {
                outcome.refusal = answer.refusal;
                return outcome;
            }
            if (answer.damaged) {
                sawDamage = true;
            }
            if (answer.confirmed > confirmed) {
                confirmed = answer.confirmed;
                stalls = 0;
                if (progress) {
                    progress(confirmed);
                }
                while (!window.empty() && window.front().end <= confirmed) {
                    queuedLineBytes -= window.front().queuedLineBytes;
                    window.pop_front();
                }
                if (answer.clean && ++clean >= kGrowAfter && chunk < kLargestChunk) {
                    chunk = std::min(kLargestChunk, chunk * 2);
                    clean = 0;
                }
            }
            if (answer.gap) {
                ++stats_.gaps;
            }
            if (answer.lost && current && !wentBack) {
                rewind();
                wentBack = true;
            }
        }
        if (!wentBack && !window.empty() && clock_() >= window.front().deadline) {
            ++stats_.timeouts;
            rewind();
        }
    }
    return outcome;
}

} // namespace octo::protocol

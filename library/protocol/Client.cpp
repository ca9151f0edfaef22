#include "protocol/Client.h"

#include <algorithm>
#include <chrono>

namespace octo::protocol {

using wire::Command;
using wire::Status;

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint32_t lineMs(uint64_t bytes, uint32_t rate) {
    if (rate == 0) {
        return 0;
    }
    return static_cast<uint32_t>((bytes * 10 * 1000 + rate - 1) / rate);
}

Client::Client(serial::SerialPort& port, std::function<void()> pump)
    : port_(port), pump_(std::move(pump)), seq_(static_cast<uint8_t>(nowMs())) {}

void Client::reset() {
    decoder_.reset();
    events_.clear();
    stats_ = {};
}

bool Client::sendFrame(uint8_t seq, Command command, const std::vector<uint8_t>& payload) {
    const auto bytes = wire::encodeFrame(wire::Frame{seq, static_cast<uint8_t>(command), payload});
    ++stats_.framesSent;
    return port_.write(bytes, lineMs(bytes.size(), rate_) * 2 + 1000);
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
    const uint64_t now = nowMs();
    if (count > 0) {
        lastByteMs_ = now;
        absorb(decoder_.feed(std::span<const uint8_t>(buffer, static_cast<size_t>(count))));
    } else if (decoder_.pending() > 0 &&
               now - lastByteMs_ >= std::max(kIdleMs, lineMs(32, rate_))) {
        absorb(decoder_.resync());
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
    const uint8_t answerCode = wire::responseCode(command);
    const uint8_t nakCode = wire::responseCode(Command::Nak);
    const uint32_t attemptMs =
        lineMs(payload.size() + wire::kFrameOverhead + options.replyBytes, rate_) * 2 +
        kTurnaroundMs;
    events_.clear();
    bool sawDamage = false;
    auto capped = [&](uint64_t deadline) {
        return options.deadlineMs != 0 ? std::min(deadline, options.deadlineMs) : deadline;
    };
    for (int attempt = 0; attempt < options.attempts; ++attempt) {
        if (options.deadlineMs != 0 && nowMs() >= options.deadlineMs) {
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
        uint64_t deadline = capped(nowMs() + attemptMs);
        bool resend = false;
        while (!resend) {
            const uint64_t now = nowMs();
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
                    deadline = capped(nowMs() + uint64_t{expected} * 2 + attemptMs + 1000);
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

StreamOutcome Client::sendImage(std::span<const Piece> pieces, uint64_t total, uint64_t deadlineMs,
                                const std::function<void(uint64_t)>& progress,
                                Command dataCommand) {
    StreamOutcome outcome;
    if (!port_.isOpen()) {
        outcome.error = LinkError::NoPort;
        return outcome;
    }
    struct InFlight {
        uint8_t seq;
        uint64_t end;       // stream offset after this frame
        uint32_t lineBytes; // frame size on the line
        uint64_t deadline;
    };
    const uint8_t answerCode = wire::responseCode(dataCommand);
    const uint8_t nakCode = wire::responseCode(Command::Nak);

    // Where stream offset o lies: piece index and offset within it.
    std::vector<uint64_t> starts;
    starts.reserve(pieces.size());
    uint64_t sum = 0;
    for (const auto& piece : pieces) {
        starts.push_back(sum);
        sum += piece.bytes.size();
    }
    auto locate = [&](uint64_t offset) {
        const auto it = std::upper_bound(starts.begin(), starts.end(), offset);
        return static_cast<size_t>(it - starts.begin()) - 1;
    };

    uint64_t acked = 0;
    uint64_t next = 0;
    uint32_t chunk = kLargestChunk;
    uint32_t clean = 0;
    int stalls = 0;
    bool sawDamage = false;
    std::deque<InFlight> inFlight;
    uint32_t bytesInFlight = 0;
    stats_.smallestChunk =
        stats_.smallestChunk == 0 ? chunk : std::min(stats_.smallestChunk, chunk);
    events_.clear();

    auto rewind = [&]() {
        ++stats_.rewinds;
        stats_.retransmissions += inFlight.size();
        inFlight.clear();
        bytesInFlight = 0;
        next = acked;
        chunk = std::max(kSmallestChunk, chunk / 2);
        stats_.smallestChunk = std::min(stats_.smallestChunk, chunk);
        clean = 0;
        ++stalls;
    };

    while (acked < total) {
        const uint64_t now = nowMs();
        if (now >= deadlineMs) {
            outcome.error = sawDamage ? LinkError::FrameErrors : LinkError::Timeout;
            return outcome;
        }
        if (stalls > kMaxStalls) {
            outcome.error = sawDamage ? LinkError::FrameErrors : LinkError::Timeout;
            return outcome;
        }
        // Keep the window full.
        while (next < total && inFlight.size() < kWindowFrames) {
            const size_t index = locate(next);
            const Piece& piece = pieces[index];
            const uint64_t within = next - starts[index];
            const uint64_t length = std::min<uint64_t>(chunk, piece.bytes.size() - within);
            wire::ImageDataRequest request;
            request.offset = static_cast<uint32_t>(next);
            request.address = static_cast<uint32_t>(piece.address + within);
            const auto data = piece.bytes.subspan(within, length);
            request.data.assign(data.begin(), data.end());
            const uint8_t seq = nextSeq();
            const auto payload = request.encode();
            if (!sendFrame(seq, dataCommand, payload)) {
                outcome.error = LinkError::PortFailed;
                return outcome;
            }
            const uint32_t lineBytes = static_cast<uint32_t>(payload.size() + wire::kFrameOverhead);
            bytesInFlight += lineBytes;
            // The unit answers this frame after every frame queued before it has crossed.
            const uint64_t deadline =
                nowMs() + lineMs(bytesInFlight + 32, rate_) * 2 + kTurnaroundMs;
            inFlight.push_back(InFlight{seq, next + length, lineBytes, deadline});
            next += length;
        }

        const uint64_t waitUntil = inFlight.empty() ? now + kSliceMs : inFlight.front().deadline;
        const uint64_t slice =
            waitUntil > nowMs() ? std::min<uint64_t>(waitUntil - nowMs(), kSliceMs) : 0;
        const uint64_t badBefore = stats_.badFrames;
        if (!poll(static_cast<uint32_t>(slice))) {
            outcome.error = LinkError::PortFailed;
            return outcome;
        }
        if (stats_.badFrames != badBefore) {
            sawDamage = true;
        }
        bool wentBack = false;
        while (!events_.empty()) {
            Event event = std::move(events_.front());
            events_.pop_front();
            const bool current =
                std::any_of(inFlight.begin(), inFlight.end(),
                            [&](const InFlight& f) { return f.seq == event.frame.seq; });
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
            const auto response = wire::Response::decode(event.frame.payload);
            const auto reply =
                response ? wire::ImageDataReply::decode(response->body) : std::nullopt;
            if (!response || (!reply && response->status != Status::BadState)) {
                sawDamage = true;
                continue;
            }
            if (response->status != Status::Ok && response->status != Status::Gap) {
                outcome.refusal = response->status;
                return outcome;
            }
            if (reply->received > total) {
                outcome.refusal = Status::BadArgument;
                return outcome;
            }
            if (reply->received > acked) {
                acked = reply->received;
                stalls = 0;
                if (progress) {
                    progress(acked);
                }
                while (!inFlight.empty() && inFlight.front().end <= acked) {
                    bytesInFlight -= inFlight.front().lineBytes;
                    inFlight.pop_front();
                }
                if (response->status == Status::Ok && ++clean >= kGrowAfter &&
                    chunk < kLargestChunk) {
                    chunk = std::min(kLargestChunk, chunk * 2);
                    clean = 0;
                }
            }
            if (response->status == Status::Gap) {
                ++stats_.gaps;
                // Only a frame sent since the last rewind may cause another one.
                if (current && !wentBack) {
                    rewind();
                    wentBack = true;
                }
            }
        }
        if (!wentBack && !inFlight.empty() && nowMs() >= inFlight.front().deadline) {
            ++stats_.timeouts;
            rewind();
        }
    }
    return outcome;
}

StreamOutcome Client::readStream(uint32_t total, uint64_t deadlineMs,
                                 const std::function<void(uint64_t)>& progress,
                                 std::vector<uint8_t>& out) {
    StreamOutcome outcome;
    out.clear();
    if (!port_.isOpen()) {
        outcome.error = LinkError::NoPort;
        return outcome;
    }
    struct Asked {
        uint8_t seq;
        uint32_t offset;
        uint32_t count;
        uint64_t deadline;
    };
    // Request and answer framing around the data of one chunk.
    constexpr uint32_t kRequestBytes = wire::kFrameOverhead + 6;
    constexpr uint32_t kAnswerOverhead = wire::kFrameOverhead + 5;
    const uint8_t answerCode = wire::responseCode(Command::ReadTargetData);
    const uint8_t nakCode = wire::responseCode(Command::Nak);
    out.reserve(total);

    uint32_t next = 0;
    uint32_t chunk = kLargestChunk;
    uint32_t clean = 0;
    int stalls = 0;
    bool sawDamage = false;
    std::deque<Asked> asked;
    uint32_t bytesAhead = 0; // line bytes of the answers still to come
    events_.clear();

    auto rewind = [&]() {
        ++stats_.rewinds;
        stats_.retransmissions += asked.size();
        asked.clear();
        bytesAhead = 0;
        next = static_cast<uint32_t>(out.size());
        chunk = std::max(kSmallestChunk, chunk / 2);
        stats_.smallestChunk =
            stats_.smallestChunk == 0 ? chunk : std::min(stats_.smallestChunk, chunk);
        clean = 0;
        ++stalls;
    };

    while (out.size() < total) {
        if (nowMs() >= deadlineMs || stalls > kMaxStalls) {
            outcome.error = sawDamage ? LinkError::FrameErrors : LinkError::Timeout;
            return outcome;
        }
        while (next < total && asked.size() < kWindowFrames) {
            const uint32_t count = std::min(chunk, total - next);
            const uint8_t seq = nextSeq();
            if (!sendFrame(
                    seq, Command::ReadTargetData,
                    wire::ReadTargetDataRequest{next, static_cast<uint16_t>(count)}.encode())) {
                outcome.error = LinkError::PortFailed;
                return outcome;
            }
            bytesAhead += count + kAnswerOverhead;
            const uint64_t deadline =
                nowMs() + lineMs(bytesAhead + kRequestBytes, rate_) * 2 + kTurnaroundMs;
            asked.push_back(Asked{seq, next, count, deadline});
            next += count;
        }

        const uint64_t now = nowMs();
        const uint64_t waitUntil = asked.empty() ? now + kSliceMs : asked.front().deadline;
        const uint64_t slice = waitUntil > now ? std::min<uint64_t>(waitUntil - now, kSliceMs) : 0;
        const uint64_t badBefore = stats_.badFrames;
        if (!poll(static_cast<uint32_t>(slice))) {
            outcome.error = LinkError::PortFailed;
            return outcome;
        }
        if (stats_.badFrames != badBefore) {
            sawDamage = true;
        }
        bool wentBack = false;
        while (!events_.empty() && !wentBack) {
            Event event = std::move(events_.front());
            events_.pop_front();
            const auto found = std::find_if(asked.begin(), asked.end(), [&](const Asked& a) {
                return a.seq == event.frame.seq;
            });
            if (found == asked.end()) {
                continue; // an answer to a request given up on
            }
            if (event.frame.command == nakCode) {
                ++stats_.naks;
                sawDamage = true;
                rewind();
                wentBack = true;
                continue;
            }
            if (event.frame.command != answerCode) {
                continue;
            }
            const auto response = wire::Response::decode(event.frame.payload);
            if (response && response->status != Status::Ok) {
                outcome.refusal = response->status;
                return outcome;
            }
            const auto reply =
                response ? wire::ReadTargetDataReply::decode(response->body) : std::nullopt;
            if (!reply || reply->offset != found->offset || reply->data.size() != found->count) {
                sawDamage = true;
                rewind();
                wentBack = true;
                continue;
            }
            if (found != asked.begin()) {
                // The answers come in order: one before it was lost.
                rewind();
                wentBack = true;
                continue;
            }
            out.insert(out.end(), reply->data.begin(), reply->data.end());
            bytesAhead -= found->count + kAnswerOverhead;
            asked.pop_front();
            stalls = 0;
            if (progress) {
                progress(out.size());
            }
            if (++clean >= kGrowAfter && chunk < kLargestChunk) {
                chunk = std::min(kLargestChunk, chunk * 2);
                clean = 0;
            }
        }
        if (!wentBack && !asked.empty() && nowMs() >= asked.front().deadline) {
            ++stats_.timeouts;
            rewind();
        }
    }
    return outcome;
}

} // namespace octo::protocol

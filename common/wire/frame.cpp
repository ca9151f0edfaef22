#include "wire/frame.h"

#include "wire/checksums.h"

#include <algorithm>
#include <utility>

namespace octo::wire {

namespace {

// COBS: each code byte c says that c - 1 bytes other than zero follow, then a zero byte
// of the body (none after a code of 255, or at the end).
void stuff(std::span<const uint8_t> body, std::vector<uint8_t>& out) {
    size_t codeAt = out.size();
    out.push_back(1);
    for (const uint8_t byte : body) {
        if (byte != kDelimiter) {
            out.push_back(byte);
            ++out[codeAt];
        }
        if (byte == kDelimiter || out[codeAt] == kStuffRun + 1) {
            codeAt = out.size();
            out.push_back(1);
        }
    }
}

// The body as far as it can be unstuffed; whole is false when a code byte points past
// the end (the frame lost bytes or a code was hit), and the body then ends there.
struct Unstuffed {
    std::vector<uint8_t> body;
    bool whole = true;
};

Unstuffed unstuff(std::span<const uint8_t> stuffed) {
    Unstuffed out;
    out.body.reserve(stuffed.size());
    size_t pos = 0;
    while (pos < stuffed.size()) {
        const size_t code = stuffed[pos++];
        const size_t run = std::min(code - 1, stuffed.size() - pos);
        out.body.insert(out.body.end(), stuffed.begin() + static_cast<std::ptrdiff_t>(pos),
                        stuffed.begin() + static_cast<std::ptrdiff_t>(pos + run));
        pos += run;
        if (run != code - 1) {
            out.whole = false;
        } else if (code != kStuffRun + 1 && pos < stuffed.size()) {
            out.body.push_back(kDelimiter);
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> frameBody(const Frame& frame) {
    const size_t length = std::min(frame.payload.size(), kMaxPayload);
    std::vector<uint8_t> body;
    body.reserve(kHeaderBytes + length + kTrailerBytes);
    body.push_back(static_cast<uint8_t>(length >> 8));
    body.push_back(static_cast<uint8_t>(length));
    body.push_back(frame.seq);
    body.push_back(frame.command);
    body.push_back(crc8(std::span(body).first(4)));
    body.insert(body.end(), frame.payload.begin(),
                frame.payload.begin() + static_cast<std::ptrdiff_t>(length));
    const uint16_t crc = crc16(body);
    body.push_back(static_cast<uint8_t>(crc >> 8));
    body.push_back(static_cast<uint8_t>(crc));
    return body;
}

namespace {

void appendBody(std::span<const uint8_t> body, std::vector<uint8_t>& out) {
    out.reserve(out.size() + body.size() + 2 + 1 + body.size() / kStuffRun);
    out.push_back(kDelimiter);
    stuff(body, out);
    out.push_back(kDelimiter);
}

} // namespace

std::vector<uint8_t> encodeBody(std::span<const uint8_t> body) {
    std::vector<uint8_t> out;
    appendBody(body, out);
    return out;
}

void encodeFrame(const Frame& frame, std::vector<uint8_t>& out) {
    appendBody(frameBody(frame), out);
}

std::vector<uint8_t> encodeFrame(const Frame& frame) {
    std::vector<uint8_t> out;
    encodeFrame(frame, out);
    return out;
}

std::vector<FrameDecoder::Event> FrameDecoder::feed(std::span<const uint8_t> bytes) {
    std::vector<Event> events;
    for (const uint8_t byte : bytes) {
        if (byte == kDelimiter) {
            take(events);
        } else if (overlong_ || buffer_.size() >= kMaxStuffedBytes) {
            overlong_ = true;
            buffer_.clear();
            ++skipped_;
        } else {
            buffer_.push_back(byte);
        }
    }
    return events;
}

void FrameDecoder::take(std::vector<Event>& events) {
    const bool overlong = std::exchange(overlong_, false);
    if (buffer_.empty() || overlong) {
        skipped_ += buffer_.size();
        buffer_.clear();
        return;
    }
    const Unstuffed unstuffed = unstuff(buffer_);
    const std::vector<uint8_t>& body = unstuffed.body;
    const size_t stuffedBytes = buffer_.size();
    buffer_.clear();
    if (body.size() < kHeaderBytes || crc8(std::span(body).first(4)) != body[4]) {
        skipped_ += stuffedBytes;
        return;
    }
    const size_t length = (size_t{body[0]} << 8) | body[1];
    Event event{Event::Kind::Frame, Frame{body[2], body[3], {}}};
    const size_t crcAt = kHeaderBytes + length;
    if (!unstuffed.whole || length > kMaxPayload || body.size() != crcAt + kTrailerBytes ||
        crc16(std::span(body).first(crcAt)) !=
            static_cast<uint16_t>((body[crcAt] << 8) | body[crcAt + 1])) {
        event.kind = Event::Kind::BadFrame;
        ++badFrames_;
        skipped_ += stuffedBytes;
    } else {
        event.frame.payload.assign(body.begin() + kHeaderBytes, body.begin() + crcAt);
    }
    events.push_back(std::move(event));
}

} // namespace octo::wire

#include "wire/frame.h"

#include "wire/checksums.h"

#include <algorithm>

namespace octo::wire {

void encodeFrame(const Frame& frame, std::vector<uint8_t>& out) {
    const size_t length = std::min(frame.payload.size(), kMaxPayload);
    const size_t base = out.size();
    out.reserve(base + length + kFrameOverhead);
    out.push_back(kStartByte);
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(frame.seq);
    out.push_back(frame.command);
    out.push_back(crc8(std::span(out).subspan(base + 1, 4)));
    out.insert(out.end(), frame.payload.begin(),
               frame.payload.begin() + static_cast<std::ptrdiff_t>(length));
    const uint16_t crc = crc16(std::span(out).subspan(base + 1, kHeaderBytes - 1 + length));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
}

std::vector<uint8_t> encodeFrame(const Frame& frame) {
    std::vector<uint8_t> out;
    encodeFrame(frame, out);
    return out;
}

std::vector<FrameDecoder::Event> FrameDecoder::feed(std::span<const uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    std::vector<Event> events;
    size_t pos = 0;
    const auto data = std::span<const uint8_t>(buffer_);
    while (pos < data.size()) {
        if (data[pos] != kStartByte) {
            ++pos;
            ++skipped_;
            continue;
        }
        if (data.size() - pos < kHeaderBytes) {
            break;
        }
        const size_t length = (size_t{data[pos + 1]} << 8) | data[pos + 2];
        if (length > kMaxPayload || crc8(data.subspan(pos + 1, 4)) != data[pos + 5]) {
            ++pos;
            ++skipped_;
            continue;
        }
        const size_t total = kHeaderBytes + length + kTrailerBytes;
        if (data.size() - pos < total) {
            break;
        }
        const uint16_t expected = crc16(data.subspan(pos + 1, kHeaderBytes - 1 + length));
        const uint16_t actual =
            static_cast<uint16_t>((data[pos + total - 2] << 8) | data[pos + total - 1]);
        Event event{Event::Kind::Frame, Frame{data[pos + 3], data[pos + 4], {}}};
        if (expected != actual) {
            event.kind = Event::Kind::BadFrame;
            ++badFrames_;
            ++skipped_;
            ++pos;
        } else {
            const auto payload = data.subspan(pos + kHeaderBytes, length);
            event.frame.payload.assign(payload.begin(), payload.end());
            pos += total;
        }
        events.push_back(std::move(event));
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
    return events;
}

std::vector<FrameDecoder::Event> FrameDecoder::resync() {
    std::vector<Event> events;
    while (!buffer_.empty()) {
        buffer_.erase(buffer_.begin());
        ++skipped_;
        for (auto& event : feed({})) {
            events.push_back(std::move(event));
        }
    }
    return events;
}

} // namespace octo::wire

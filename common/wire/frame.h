// Framing of the serial protocol between the library and the unit.
//
//   offset  size  field
//   0       1     start byte 0xA5
//   1       2     payload length, high byte first (at most kMaxPayload)
//   3       1     sequence number
//   4       1     command (requests below 0x80; a response is the command | 0x80)
//   5       1     CRC-8 of bytes 1..4 (guards the length)
//   6       n     payload
//   6+n     2     CRC-16/CCITT-FALSE of bytes 1..5+n, high byte first
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace octo::wire {

inline constexpr uint8_t kStartByte = 0xA5;
inline constexpr size_t kHeaderBytes = 6;
inline constexpr size_t kTrailerBytes = 2;
inline constexpr size_t kFrameOverhead = kHeaderBytes + kTrailerBytes;
inline constexpr size_t kMaxPayload = 4096;

struct Frame {
    uint8_t seq = 0;
    uint8_t command = 0;
    std::vector<uint8_t> payload;

    bool operator==(const Frame&) const = default;
};

// The frame's bytes on the line. Payloads longer than kMaxPayload are a programming
// error of the caller and are cut to that size.
std::vector<uint8_t> encodeFrame(const Frame& frame);
void encodeFrame(const Frame& frame, std::vector<uint8_t>& out);

// Cuts frames out of a byte stream. Garbage between frames is skipped; a frame whose
// header or CRC does not check is dropped and the search for the next start byte resumes
// one byte after its start byte, so a frame that follows a damaged one is still found.
class FrameDecoder {
public:
    struct Event {
        enum class Kind { Frame, BadFrame } kind;
        // For Kind::Frame the whole frame; for Kind::BadFrame the sequence number and
        // command of a frame whose header checked but whose payload did not.
        Frame frame;
    };

    // Appends bytes and returns every complete frame or damaged frame now decodable.
    std::vector<Event> feed(std::span<const uint8_t> bytes);
    // After the line went quiet: a start byte whose frame never completed was noise (or
    // the frame lost bytes). Drops the pending bytes one start byte at a time, returning
    // any frame found behind a false start; afterwards nothing is pending.
    std::vector<Event> resync();
    // Forgets a partial frame (after a line reset).
    void reset() { buffer_.clear(); }
    size_t pending() const { return buffer_.size(); }

    // Bytes skipped while searching for a start byte or dropped with a damaged header.
    uint64_t skippedBytes() const { return skipped_; }
    uint64_t badFrames() const { return badFrames_; }

private:
    std::vector<uint8_t> buffer_;
    uint64_t skipped_ = 0;
    uint64_t badFrames_ = 0;
};

} // namespace octo::wire

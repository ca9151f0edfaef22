// Framing of the serial protocol between the library and the unit.
//
// A frame's body:
//
//   offset  size  field
//   0       2     payload length, high byte first (at most kMaxPayload)
//   2       1     sequence number
//   3       1     command (requests below 0x80; a response is the command | 0x80)
//   4       1     CRC-8 of bytes 0..3 (guards the length, so a damaged body still names
//                 the request it belonged to)
//   5       n     payload
//   5+n     2     CRC-16/CCITT-FALSE of bytes 0..4+n, high byte first
//
// On the line the body is byte-stuffed (COBS: no zero byte is left in it) and enclosed
// in zero bytes, one before and one after. A zero byte therefore always ends a frame:
// bytes of a frame carried inside another frame's payload can never be taken for a frame
// of their own, however the outer frame is damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace octo::wire {

inline constexpr uint8_t kDelimiter = 0x00;
inline constexpr size_t kHeaderBytes = 5;
inline constexpr size_t kTrailerBytes = 2;
inline constexpr size_t kMaxPayload = 4096;
// Stuffing adds one code byte per run of up to 254 bytes.
inline constexpr size_t kStuffRun = 254;
// Line bytes around a payload of n bytes: header, trailer, the two delimiters and the
// stuffing's code bytes (one, plus one per further kStuffRun bytes of the body).
inline constexpr size_t lineOverhead(size_t payloadBytes) {
    return kHeaderBytes + kTrailerBytes + 2 + 1 +
           (kHeaderBytes + payloadBytes + kTrailerBytes) / kStuffRun;
}
// The overhead of a short frame, for line-time estimates of requests and answers.
inline constexpr size_t kFrameOverhead = lineOverhead(0);
// The longest stuffed body: anything longer between two zero bytes is noise.
inline constexpr size_t kMaxStuffedBytes = kHeaderBytes + kMaxPayload + kTrailerBytes + 1 +
                                           (kHeaderBytes + kMaxPayload + kTrailerBytes) / kStuffRun;

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
// The two halves of encodeFrame: the frame's body with its checks, and a body as it goes
// on the line (stuffed, between zero bytes), so a test peer can send a body it damaged.
std::vector<uint8_t> frameBody(const Frame& frame);
std::vector<uint8_t> encodeBody(std::span<const uint8_t> body);

// Cuts frames out of a byte stream at the zero bytes. What lies between two zero bytes is
// one frame or nothing: a body whose header checks but whose length or CRC-16 does not is
// reported as damaged (with the sequence number and command it names), anything else
// (noise, the remains of a frame whose header was hit) is dropped whole.
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
    // Forgets a partial frame (after a line reset).
    void reset() {
        buffer_.clear();
        overlong_ = false;
    }
    size_t pending() const { return buffer_.size(); }

    // Bytes dropped as noise or with a frame whose header did not check.
    uint64_t skippedBytes() const { return skipped_; }
    uint64_t badFrames() const { return badFrames_; }

private:
    void take(std::vector<Event>& events);

    std::vector<uint8_t> buffer_; // the stuffed bytes since the last zero byte
    bool overlong_ = false;       // more came than a frame can have: drop until a zero byte
    uint64_t skipped_ = 0;
    uint64_t badFrames_ = 0;
};

} // namespace octo::wire

// The longest each export may take, worked out from the documented bounds (docs/library.md,
// "How long a call may take") at a line rate, so the integration tests and the soak can time
// every call against what the library promises. Figures in milliseconds.
#pragma once

#include <cstdint>

namespace octo::testing::bounds {

// A byte on the line: start bit, eight data bits, stop bit.
inline constexpr double kBitsPerByte = 10;
// One attempt of a short exchange: twice the line time of the request and an answer of the
// expected size (the largest short request and answer together stay under this), plus what
// the unit and the scheduler may add.
inline constexpr double kShortExchangeBytes = 104;
inline constexpr double kTurnaroundMs = 60;
// Attempts of an exchange, of a Hello and of the identification poll.
inline constexpr double kAttempts = 5;
inline constexpr double kHelloAttempts = 2;
inline constexpr double kPollAttempts = 4;
// The longest work a unit may announce for a request that starts none, for an erase, and for
// reading a target into its buffer; one second of slack on every exchange.
inline constexpr double kShortWorkMs = 1000;
inline constexpr double kEraseWorkMs = 120000;
inline constexpr double kReadWorkMs = 30 * 60 * 1000;
inline constexpr double kSlackMs = 1000;
// A stream: its line time (data and the framing of its smallest chunks) four times over,
// plus ten seconds.
inline constexpr double kSmallestChunk = 16;
inline constexpr double kSendBytesPerChunk = 24;
inline constexpr double kFetchBytesPerChunk = 32;
inline constexpr double kStreamLineTimes = 4;
inline constexpr double kStreamSlackMs = 10000;
inline constexpr double kInitComMs = 25000;
inline constexpr double kTenthMs = 100;

inline double lineMs(double bytes, uint32_t rate) {
    return bytes * kBitsPerByte * 1000 / rate;
}
// t: one attempt's wait.
inline double attemptMs(uint32_t rate) {
    return 2 * lineMs(kShortExchangeBytes, rate) + kTurnaroundMs;
}
// S: a short exchange; H: the Hello a call says first when the link failed before.
inline double shortMs(uint32_t rate) {
    return kAttempts * attemptMs(rate) + 2 * kShortWorkMs + kSlackMs;
}
inline double helloMs(uint32_t rate) {
    return kHelloAttempts * attemptMs(rate) + 2 * kShortWorkMs + kSlackMs;
}
// D: a stream of so many bytes and its closing exchange.
inline double streamMs(double bytes, uint32_t rate, double lineBytesPerChunk) {
    const double lineBytes = bytes + (bytes / kSmallestChunk + 1) * lineBytesPerChunk;
    return kStreamLineTimes * lineMs(lineBytes, rate) + kStreamSlackMs;
}

// The exports.
inline double getResult(uint32_t rate) {
    return helloMs(rate) + kPollAttempts * attemptMs(rate) + 2 * kShortWorkMs + kSlackMs;
}
// OctoSetVccTarget, OctoSetSignals, OctoSelectImage, OctoLoadParameters, OctoAccessTargetSFR.
inline double shortCall(uint32_t rate) {
    return helloMs(rate) + shortMs(rate);
}
inline double selectBaudrate(uint32_t rate, uint32_t newRate) {
    return helloMs(rate) + shortMs(rate) + helloMs(newRate);
}
// OctoEraseImage, OctoEraseFirmware.
inline double erase(uint32_t rate) {
    return helloMs(rate) + kAttempts * attemptMs(rate) + 2 * kEraseWorkMs + kSlackMs;
}
// OctoLoadImage of a file of so many data bytes, its abort on failure included.
inline double loadImage(double bytes, uint32_t rate) {
    return 2 * (helloMs(rate) + shortMs(rate)) + streamMs(bytes, rate, kSendBytesPerChunk);
}
inline double loadFirmware(double bytes, uint32_t rate) {
    return helloMs(rate) + shortMs(rate) + streamMs(bytes, rate, kSendBytesPerChunk);
}
inline double mainProcess(uint32_t tenths, uint32_t rate) {
    return tenths * kTenthMs + helloMs(rate);
}
inline double readTargetFile(double length, uint32_t rate) {
    return helloMs(rate) + kAttempts * attemptMs(rate) + 2 * kReadWorkMs + kSlackMs +
           streamMs(length, rate, kFetchBytesPerChunk) + shortMs(rate);
}
inline double initCom() {
    return kInitComMs;
}

} // namespace octo::testing::bounds

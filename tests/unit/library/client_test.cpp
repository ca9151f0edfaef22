// The protocol client against a scripted unit on a fake port and a fake clock: the bound
// of every exchange, and the sequence numbers a wrapped stream leaves behind.
#include "protocol/Client.h"
#include "support/FakeSerialPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace octo::protocol {
namespace {

using wire::Command;
using wire::Status;

using ScriptedPort = octo::testing::FakeSerialPort;

wire::Frame answer(const wire::Frame& request, Status status, std::vector<uint8_t> body = {}) {
    return wire::Frame{request.seq, static_cast<uint8_t>(request.command | wire::kResponseFlag),
                       wire::Response{status, std::move(body)}.encode()};
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open("fake", 115200)); }

    ScriptedPort port;
    Client client{port, nullptr, [this] { return port.now; }};
};

TEST_F(ClientTest, AUnitThatKeepsSayingBusyEndsTheExchangeByItsBound) {
    // Busy at every request and again every 400 ms, for ten minutes of the clock: the wait
    // must end by its bound, not follow the unit.
    constexpr uint32_t kEstimateMs = 500;
    constexpr uint64_t kBusyForMs = 600000;
    constexpr uint64_t kRepeatMs = 400;
    struct Case {
        const char* name;
        TransactOptions options;
    };
    const Case cases[] = {
        {"short request", TransactOptions{}},
        {"long work", TransactOptions{.workLimitMs = 120000}},
        {"caller's deadline", TransactOptions{.deadlineMs = 1000 + 30000}},
    };
    for (const Case& c : cases) {
        port.now = 1000;
        const uint64_t started = port.now;
        uint64_t lastBusy = started;
        std::optional<wire::Frame> asked;
        port.onRequest = [&](const wire::Frame& request) {
            asked = request;
            lastBusy = port.now;
            return std::vector{
                answer(request, Status::Busy, wire::BusyReply{kEstimateMs}.encode())};
        };
        port.onIdle = [&]() -> std::vector<wire::Frame> {
            if (!asked || port.now - started > kBusyForMs || port.now - lastBusy < kRepeatMs) {
                return {};
            }
            lastBusy = port.now;
            return {answer(*asked, Status::Busy, wire::BusyReply{kEstimateMs}.encode())};
        };
        const uint64_t bound = c.options.deadlineMs != 0 ? c.options.deadlineMs - started
                                                         : client.exchangeBoundMs(0, c.options);
        const Exchange exchange = client.transact(Command::ImageErase, {}, c.options);
        EXPECT_EQ(exchange.error, LinkError::Timeout) << c.name;
        EXPECT_LE(port.now - started, bound + Client::kSliceMs) << c.name;
    }
}

TEST_F(ClientTest, ADamagedRequestIsSentAgainAtOnceAndCounted) {
    // The unit reports the first send damaged and answers the second.
    port.onRequest = [&](const wire::Frame& request) {
        if (port.requests.size() == 1) {
            return std::vector{wire::Frame{request.seq, wire::responseCode(Command::Nak), {}}};
        }
        return std::vector{answer(request, Status::Ok)};
    };
    const uint64_t started = port.now;
    ASSERT_TRUE(client.transact(Command::ImageSelect, {0}).ok());
    // Long before the attempt's wait for an answer would run out.
    EXPECT_LT(port.now - started, uint64_t{Client::kTurnaroundMs});
    const LinkStats& s = client.stats();
    const std::vector<uint64_t> counted = {s.framesSent, s.retransmissions, s.naks,
                                           s.gaps,       s.badFrames,       s.timeouts,
                                           s.rewinds,    s.smallestChunk};
    EXPECT_EQ(counted, (std::vector<uint64_t>{2, 1, 1, 0, 0, 0, 0, 0}));
}

TEST_F(ClientTest, AnAnswerThatTricklesInByteByByteIsReadWhole) {
    port.onRequest = [&](const wire::Frame& request) {
        const auto bytes = wire::encodeFrame(answer(request, Status::Ok));
        for (size_t i = 0; i < bytes.size(); ++i) {
            port.deliverAt(port.now + 1 + i, std::span(&bytes[i], 1));
        }
        return std::vector<wire::Frame>{};
    };
    EXPECT_TRUE(client.transact(Command::ImageSelect, {0}).ok());
}

TEST_F(ClientTest, AGapTheUnitReportsSendsTheStreamBackAtOnce) {
    // The first data frame never reaches the unit; it reports the gap with the next one.
    uint32_t stored = 0;
    bool dropped = false;
    port.onRequest = [&](const wire::Frame& request) {
        const auto data = wire::ImageDataRequest::decode(request.payload);
        if (!std::exchange(dropped, true)) {
            return std::vector<wire::Frame>{};
        }
        const bool inOrder = data->offset == stored;
        stored += inOrder ? static_cast<uint32_t>(data->data.size()) : 0;
        return std::vector{answer(request, inOrder ? Status::Ok : Status::Gap,
                                  wire::ImageDataReply{stored}.encode())};
    };
    std::vector<uint8_t> bytes(4 * Client::kLargestChunk);
    const Piece piece{0, bytes};
    SendDirection direction(std::span(&piece, 1));
    const auto outcome =
        client.stream(direction, Command::ImageData, direction.total(), port.now + 60000, {});
    ASSERT_EQ(outcome.error, LinkError::None);
    EXPECT_EQ(stored, bytes.size());
    EXPECT_EQ(client.stats().timeouts, 0u) << "waited out a time-out instead";
}

TEST(LineTimeTest, TenBitsAByteRoundedUpToTheMillisecond) {
    struct Case {
        uint64_t bytes;
        uint32_t rate;
        uint32_t ms;
    };
    for (const Case& c : {Case{0, 9600, 0}, Case{1, 9600, 2}, Case{96, 9600, 100},
                          Case{97, 9600, 102}, Case{1, 115200, 1}, Case{1, 0, 0}}) {
        EXPECT_EQ(lineMs(c.bytes, c.rate), c.ms) << c.bytes << " bytes at " << c.rate;
    }
}

TEST_F(ClientTest, AStreamThatWrapsTheNumbersNeverHandsTheKeptOneToTheNextRequest) {
    // The unit keeps the answer of the last request; 255 or 511 stream frames later the
    // numbers have come round to it.
    port.onRequest = [](const wire::Frame& request) {
        if (request.command == static_cast<uint8_t>(Command::ImageData)) {
            const auto data = wire::ImageDataRequest::decode(request.payload);
            const auto received = static_cast<uint32_t>(data->offset + data->data.size());
            return std::vector{
                answer(request, Status::Ok, wire::ImageDataReply{received}.encode())};
        }
        return std::vector{answer(request, Status::Ok)};
    };
    for (const uint32_t frames : {255u, 511u}) {
        port.requests.clear();
        ASSERT_TRUE(client.transact(Command::ImageSelect, {0}).ok());
        const uint8_t kept = port.requests.back().seq;

        std::vector<uint8_t> bytes(size_t{frames} * Client::kLargestChunk);
        const Piece piece{0, bytes};
        SendDirection direction(std::span(&piece, 1));
        const auto outcome =
            client.stream(direction, Command::ImageData, direction.total(), port.now + 600000, {});
        ASSERT_EQ(outcome.error, LinkError::None);
        // A clean line carries each chunk once, and nothing after the last.
        EXPECT_EQ(std::count_if(port.requests.begin(), port.requests.end(),
                                [](const wire::Frame& f) {
                                    return f.command == static_cast<uint8_t>(Command::ImageData);
                                }),
                  frames);

        ASSERT_TRUE(client.transact(Command::ImageSelect, {1}).ok());
        EXPECT_NE(port.requests.back().seq, kept) << frames;
    }
}

} // namespace
} // namespace octo::protocol

// How the client hands a frame to the port: in pieces of one pump period of line time,
// with the caller's message pump served between them, whatever the rate.
#include "protocol/Client.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace octo::protocol {
namespace {

// A port whose writes are recorded with the pumps seen before each; its reads fail, so
// an exchange ends right after its first frame.
class RecordingPort final : public serial::SerialPort {
public:
    struct Write {
        size_t bytes;
        int pumpsBefore;
    };

    void close() override {}
    bool isOpen() const override { return true; }
    bool setRate(uint32_t) override { return true; }
    bool write(std::span<const uint8_t> bytes, uint32_t) override {
        writes.push_back({bytes.size(), pumps});
        return true;
    }
    int read(std::span<uint8_t>, uint32_t) override { return -1; }
    void discardInput() override {}

    std::vector<Write> writes;
    int pumps = 0;

private:
    bool openDevice(const std::string&) override { return true; }
};

TEST(ClientWriteTest, ALargeFrameGoesOutInPiecesWithThePumpServedBetween) {
    const std::vector<uint8_t> payload(Client::kLargestChunk, 0x5A);
    const size_t frameBytes = wire::encodeFrame(wire::Frame{0, 0, payload}).size();
    for (uint32_t rate : wire::kBaudRates) {
        SCOPED_TRACE(rate);
        RecordingPort port;
        Client client(port, [&] { ++port.pumps; });
        client.setRate(rate);
        const auto exchange = client.transact(wire::Command::ImageData, payload);
        EXPECT_EQ(exchange.error, LinkError::PortFailed);
        ASSERT_GT(port.writes.size(), 1u);
        size_t sent = 0;
        for (size_t i = 0; i < port.writes.size(); ++i) {
            // No write holds the line longer than one pump period.
            EXPECT_LE(lineMs(port.writes[i].bytes, rate), Client::kSliceMs);
            if (i > 0) {
                EXPECT_GT(port.writes[i].pumpsBefore, port.writes[i - 1].pumpsBefore);
            }
            sent += port.writes[i].bytes;
        }
        EXPECT_EQ(sent, frameBytes);
    }
}

} // namespace
} // namespace octo::protocol

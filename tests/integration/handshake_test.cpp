// The library against a unit scripted by the test on a pseudo-terminal: what the library
// sends, and what it makes of answers the simulator never gives (another protocol
// version, smaller frames).
#include "LibraryFixture.h"

#include <protocol/Client.h>
#include <wire/frame.h>
#include <wire/messages.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace octo::testing {
namespace {

constexpr int kPollMs = 10;

// Answers each request with what the script gives for it; keeps every request.
class ScriptedUnit {
public:
    using Script = std::function<wire::Response(const wire::Frame& request)>;

    explicit ScriptedUnit(Script script) : script_(std::move(script)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        link_ = ptsname(master_);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedUnit() {
        stop_ = true;
        thread_.join();
        close(master_);
    }
    ScriptedUnit(const ScriptedUnit&) = delete;
    ScriptedUnit& operator=(const ScriptedUnit&) = delete;

    const std::string& link() const { return link_; }
    std::vector<wire::Frame> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        wire::FrameDecoder decoder;
        uint8_t buffer[512];
        while (!stop_) {
            pollfd ready{master_, POLLIN, 0};
            if (poll(&ready, 1, kPollMs) <= 0 || !(ready.revents & POLLIN)) {
                continue;
            }
            const ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0) {
                continue;
            }
            for (const auto& event : decoder.feed({buffer, static_cast<size_t>(got)})) {
                if (event.kind != wire::FrameDecoder::Event::Kind::Frame) {
                    continue;
                }
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(event.frame);
                }
                const auto command = static_cast<wire::Command>(event.frame.command);
                const auto answer = wire::encodeFrame(wire::Frame{
                    event.frame.seq, wire::responseCode(command), script_(event.frame).encode()});
                if (write(master_, answer.data(), answer.size()) < 0) {
                    return;
                }
            }
        }
    }

    Script script_;
    int master_ = -1;
    std::string link_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<wire::Frame> requests_;
};

wire::Response helloAnswer(uint16_t version, uint16_t maxPayload) {
    wire::HelloReply reply;
    reply.protocolVersion = version;
    reply.maxPayload = maxPayload;
    reply.baudRate = kRate;
    return {wire::Status::Ok, reply.encode()};
}

class HandshakeTest : public LibraryTest {};

struct HelloCase {
    const char* name;
    uint16_t version;
    uint16_t maxPayload;
    int32_t code;
};

TEST_F(HandshakeTest, AUnitThatCannotUnderstandTheLibraryIsRefused) {
    const std::vector<HelloCase> cases = {
        {"this library's version", wire::kProtocolVersion, wire::kMaxPayload, 0},
        {"a later protocol version", wire::kProtocolVersion + 1, wire::kMaxPayload, 8},
        {"frames too small for a data chunk", wire::kProtocolVersion, 256, 8},
        {"frames one byte short of the largest data frame", wire::kProtocolVersion,
         protocol::Client::kLargestChunk + wire::ImageDataRequest::kHeaderBytes - 1, 8},
        {"frames just large enough", wire::kProtocolVersion,
         protocol::Client::kLargestChunk + wire::ImageDataRequest::kHeaderBytes, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedUnit unit([&](const wire::Frame&) { return helloAnswer(c.version, c.maxPayload); });
        EXPECT_EQ(InitCom(unit.link().c_str(), kRate), c.code);
        // Nothing else is sent to a unit that was refused, however often it is asked.
        EXPECT_EQ(OctoSelectImage(1), c.code);
        EXPECT_EQ(OctoSelectImage(1), c.code);
        ReleaseCom();
    }
}

TEST_F(HandshakeTest, ARegisterReadSendsZeroNotTheCallersValue) {
    ScriptedUnit unit([](const wire::Frame& request) {
        if (request.command == static_cast<uint8_t>(wire::Command::Hello)) {
            return helloAnswer(wire::kProtocolVersion, wire::kMaxPayload);
        }
        return wire::Response{wire::Status::Ok, wire::AccessSfrReply{0x1234}.encode()};
    });
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    uint16_t value = 0xBEEF;
    ASSERT_EQ(OctoAccessTargetSFR(1, 0, 0x0120, &value), 0);
    EXPECT_EQ(value, 0x1234);
    const auto requests = unit.requests();
    ASSERT_FALSE(requests.empty());
    const auto sent = wire::AccessSfrRequest::decode(requests.back().payload);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->operation, wire::SfrOperation::Read);
    EXPECT_EQ(sent->value, 0);
}

struct RefusedCall {
    const char* name;
    std::function<int32_t()> call;
};

TEST_F(HandshakeTest, EveryCallTheUnitRefusesAnswersCode8) {
    ScriptedUnit unit([](const wire::Frame& request) {
        if (request.command == static_cast<uint8_t>(wire::Command::Hello)) {
            return helloAnswer(wire::kProtocolVersion, wire::kMaxPayload);
        }
        if (request.command == static_cast<uint8_t>(wire::Command::ReadTargetBegin)) {
            // Less than asked for: not the read-out the caller wants.
            return wire::Response{wire::Status::Ok, wire::ReadTargetBeginReply{8, 0}.encode()};
        }
        return wire::Response{wire::Status::Failed, {}};
    });
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    uint16_t value = 0x1234;
    const std::string path = "/tmp/octo-refused-" + std::to_string(getpid()) + ".txt";
    const std::vector<RefusedCall> calls = {
        {"OctoSetSignals", [] { return OctoSetSignals(0x100, 33); }},
        {"OctoSelectImage", [] { return OctoSelectImage(1); }},
        {"OctoSetVccTarget", [] { return OctoSetVccTarget(33); }},
        {"OctoSelectBaudrate", [] { return OctoSelectBaudrate(4); }},
        {"OctoLoadParameters", [] { return OctoLoadParameters(0x98, 30, 100); }},
        {"OctoMainProcess", [] { return OctoMainProcess(10); }},
        {"OctoSelftest", [] { return OctoSelftest(10); }},
        {"OctoEraseImage", [] { return OctoEraseImage(); }},
        {"OctoEraseFirmware", [] { return OctoEraseFirmware(0x2400, 0xDA00); }},
        {"OctoLoadFirmware", [] { return OctoLoadFirmware("__TempLoader__"); }},
        {"OctoReadTargetFile", [&] { return OctoReadTargetFile(0, 0, 16, path.c_str(), 1); }},
        {"OctoAccessTargetSFR", [&] { return OctoAccessTargetSFR(1, 3, 0x21, &value); }},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(c.call(), 8) << c.name;
    }
    EXPECT_EQ(value, 0x1234);
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto requests = unit.requests();
    EXPECT_TRUE(std::none_of(requests.begin(), requests.end(), [](const wire::Frame& f) {
        return f.command == static_cast<uint8_t>(wire::Command::ReadTargetData);
    })) << "data fetched from a read-out not set up as asked";
}

} // namespace
} // namespace octo::testing

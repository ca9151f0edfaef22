#include <wire/frame.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace octo::wire {
namespace {

using Kind = FrameDecoder::Event::Kind;

Frame sampleFrame(uint8_t seq, size_t length) {
    Frame frame{seq, 0x13, {}};
    for (size_t i = 0; i < length; ++i) {
        frame.payload.push_back(static_cast<uint8_t>(i * 7 + seq));
    }
    return frame;
}

std::vector<Frame> framesOf(const std::vector<FrameDecoder::Event>& events) {
    std::vector<Frame> frames;
    for (const auto& event : events) {
        if (event.kind == Kind::Frame) {
            frames.push_back(event.frame);
        }
    }
    return frames;
}

TEST(FrameCodec, ZeroBytesOnlyEncloseTheFrameWhateverItCarries) {
    // Runs of zeros and of other bytes around the stuffing's 254-byte blocks.
    const std::vector<std::vector<uint8_t>> payloads = {
        {},
        std::vector<uint8_t>(300, 0x00),
        std::vector<uint8_t>(253, 0xFF),
        std::vector<uint8_t>(254, 0xFF),
        std::vector<uint8_t>(600, 0x55),
        {0x00, 0x01, 0x00, 0x00, 0xFF},
    };
    for (const auto& payload : payloads) {
        const Frame frame{0x00, 0x13, payload};
        const auto bytes = encodeFrame(frame);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.front(), kDelimiter);
        EXPECT_EQ(bytes.back(), kDelimiter);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), kDelimiter), 2) << payload.size();
        EXPECT_LE(bytes.size(), payload.size() + lineOverhead(payload.size()));
        FrameDecoder decoder;
        const auto frames = framesOf(decoder.feed(bytes));
        ASSERT_EQ(frames.size(), 1u) << payload.size();
        EXPECT_EQ(frames[0], frame);
    }
}

TEST(FrameCodec, RoundTripsEveryLengthClass) {
    for (size_t length :
         {size_t{0}, size_t{1}, size_t{255}, size_t{256}, size_t{1024}, kMaxPayload}) {
        FrameDecoder decoder;
        const Frame frame = sampleFrame(9, length);
        const auto frames = framesOf(decoder.feed(encodeFrame(frame)));
        ASSERT_EQ(frames.size(), 1u) << length;
        EXPECT_EQ(frames[0], frame);
        EXPECT_EQ(decoder.pending(), 0u);
    }
}

TEST(FrameCodec, OversizedPayloadIsCutToTheLimit) {
    FrameDecoder decoder;
    const auto frames = framesOf(decoder.feed(encodeFrame(sampleFrame(1, kMaxPayload + 10))));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), kMaxPayload);
}

TEST(FrameDecoder, FramesSplitAtEveryByteBoundaryAreReassembled) {
    const auto bytes = encodeFrame(sampleFrame(3, 40));
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        FrameDecoder decoder;
        EXPECT_TRUE(decoder.feed(std::span(bytes).first(cut)).empty()) << cut;
        const auto frames = framesOf(decoder.feed(std::span(bytes).subspan(cut)));
        ASSERT_EQ(frames.size(), 1u) << cut;
    }
}

TEST(FrameDecoder, GarbageBeforeAndBetweenFramesIsSkipped) {
    std::vector<uint8_t> line = {0x13, 0xFF, 0x00, 0xA5, 0x01};
    const auto first = encodeFrame(sampleFrame(1, 10));
    const auto second = encodeFrame(sampleFrame(2, 0));
    line.insert(line.end(), first.begin(), first.end());
    line.insert(line.end(), {0x05, 0x00, 0x10});
    line.insert(line.end(), second.begin(), second.end());
    FrameDecoder decoder;
    const auto frames = framesOf(decoder.feed(line));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].seq, 1);
    EXPECT_EQ(frames[1].seq, 2);
    EXPECT_EQ(decoder.pending(), 0u);
}

TEST(FrameDecoder, ADamagedPayloadIsReportedWithItsSeqAndTheNextFrameStillFound) {
    auto damaged = encodeFrame(sampleFrame(7, 30));
    damaged[10] ^= 0x40;
    const auto good = encodeFrame(sampleFrame(8, 5));
    damaged.insert(damaged.end(), good.begin(), good.end());
    FrameDecoder decoder;
    const auto events = decoder.feed(damaged);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front().kind, Kind::BadFrame);
    EXPECT_EQ(events.front().frame.seq, 7);
    const auto frames = framesOf(events);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].seq, 8);
    EXPECT_EQ(decoder.badFrames(), 1u);
}

TEST(FrameDecoder, AFrameThatLostBytesIsReportedAndDoesNotSwallowTheOneBehindIt) {
    auto lossy = encodeFrame(sampleFrame(4, 200));
    lossy.erase(lossy.begin() + 50, lossy.begin() + 60);
    const auto good = encodeFrame(sampleFrame(5, 3));
    FrameDecoder decoder;
    auto events = decoder.feed(lossy);
    const auto next = decoder.feed(good);
    events.insert(events.end(), next.begin(), next.end());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::BadFrame);
    EXPECT_EQ(events[0].frame.seq, 4);
    EXPECT_EQ(events[1].kind, Kind::Frame);
    EXPECT_EQ(events[1].frame.seq, 5);
}

TEST(FrameDecoder, AFrameCarriedInADamagedFramesPayloadIsNeverTakenForOne) {
    // An erase hidden in image data: whatever single byte of the carrier is hit, lost or
    // turned into a frame end, the hidden frame must not come out.
    const Frame hidden{0x21, 0x10, {}};
    const auto hiddenBytes = encodeFrame(hidden);
    Frame carrier{0x20, 0x13, {0, 0, 0, 0, 0, 0, 0x10, 0x00}};
    for (int copy = 0; copy < 3; ++copy) {
        carrier.payload.insert(carrier.payload.end(), hiddenBytes.begin(), hiddenBytes.end());
        carrier.payload.push_back(0xA5);
    }
    const auto line = encodeFrame(carrier);
    for (size_t at = 0; at < line.size(); ++at) {
        for (const int damage : {-1, 0x00, 0x01, 0x80, 0xFF}) {
            auto damaged = line;
            if (damage < 0) {
                damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(at));
            } else {
                damaged[at] = static_cast<uint8_t>(damage);
            }
            FrameDecoder decoder;
            for (const auto& frame : framesOf(decoder.feed(damaged))) {
                EXPECT_NE(frame, hidden) << "byte " << at << " damage " << damage;
            }
        }
    }
}

TEST(FrameDecoder, ACorruptedLengthIsCaughtByTheHeaderCrc) {
    auto bytes = encodeFrame(sampleFrame(6, 8));
    bytes[2] ^= 0x0F; // the length's low byte
    const auto good = encodeFrame(sampleFrame(7, 2));
    bytes.insert(bytes.end(), good.begin(), good.end());
    FrameDecoder decoder;
    const auto events = decoder.feed(bytes);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Frame);
    EXPECT_EQ(events[0].frame.seq, 7);
}

TEST(FrameDecoder, RandomNoiseNeverYieldsAFrameAndKeepsMemoryBounded) {
    std::mt19937 random(1234);
    FrameDecoder decoder;
    size_t frames = 0;
    for (int round = 0; round < 200; ++round) {
        // Few frame ends in the first rounds, so long runs of noise build up.
        std::vector<uint8_t> noise(512);
        for (auto& byte : noise) {
            byte = static_cast<uint8_t>(round < 100 ? 1 + random() % 255 : random());
        }
        frames += framesOf(decoder.feed(noise)).size();
        EXPECT_LE(decoder.pending(), kMaxStuffedBytes);
    }
    // 100 KiB of noise: a false frame would need a header CRC-8 and a CRC-16 to match.
    EXPECT_EQ(frames, 0u);
}

} // namespace
} // namespace octo::wire

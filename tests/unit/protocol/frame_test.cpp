#include <wire/frame.h>

#include <gtest/gtest.h>

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

TEST(FrameCodec, LayoutIsStartLengthSeqCommandHeaderCrcPayloadCrc) {
    const auto bytes = encodeFrame(Frame{0x42, 0x01, {0x00, 0x01}});
    ASSERT_EQ(bytes.size(), 2 + kFrameOverhead);
    // Byte 5 is the header's CRC-8, the last two the CRC-16.
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5),
              (std::vector<uint8_t>{0xA5, 0x00, 0x02, 0x42, 0x01}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 6, bytes.begin() + 8),
              (std::vector<uint8_t>{0x00, 0x01}));
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
    std::vector<uint8_t> line = {0x00, 0xA5, 0xA5, 0x13, 0xFF, 0xA5};
    const auto first = encodeFrame(sampleFrame(1, 10));
    const auto second = encodeFrame(sampleFrame(2, 0));
    line.insert(line.end(), first.begin(), first.end());
    line.insert(line.end(), {0xA5, 0x00, 0x10});
    line.insert(line.end(), second.begin(), second.end());
    FrameDecoder decoder;
    auto events = decoder.feed(line);
    auto more = decoder.resync();
    events.insert(events.end(), more.begin(), more.end());
    const auto frames = framesOf(events);
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

TEST(FrameDecoder, AFrameThatLostBytesDoesNotSwallowTheOneBehindItAfterResync) {
    auto lossy = encodeFrame(sampleFrame(4, 200));
    lossy.erase(lossy.begin() + 50, lossy.begin() + 60);
    const auto good = encodeFrame(sampleFrame(5, 3));
    FrameDecoder decoder;
    auto events = decoder.feed(lossy);
    auto next = decoder.feed(good);
    events.insert(events.end(), next.begin(), next.end());
    // The short frame's claimed length reaches past the good frame: only the quiet line
    // (resync) gives the good frame back.
    auto more = decoder.resync();
    events.insert(events.end(), more.begin(), more.end());
    const auto frames = framesOf(events);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].seq, 5);
}

TEST(FrameDecoder, ACorruptedLengthIsCaughtByTheHeaderCrc) {
    auto bytes = encodeFrame(sampleFrame(6, 8));
    bytes[1] = 0x0F; // claims 3848 more bytes
    const auto good = encodeFrame(sampleFrame(7, 2));
    bytes.insert(bytes.end(), good.begin(), good.end());
    FrameDecoder decoder;
    const auto frames = framesOf(decoder.feed(bytes));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].seq, 7);
}

TEST(FrameDecoder, RandomNoiseNeverYieldsAFrameAndNeverCrashes) {
    std::mt19937 random(1234);
    FrameDecoder decoder;
    size_t frames = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> noise(512);
        for (auto& byte : noise) {
            byte = static_cast<uint8_t>(random() % 3 == 0 ? 0xA5 : random());
        }
        frames += framesOf(decoder.feed(noise)).size();
        EXPECT_LE(decoder.pending(), kMaxPayload + kFrameOverhead);
    }
    frames += framesOf(decoder.resync()).size();
    // 100 KiB of noise: a false frame would need a header CRC-8 and a CRC-16 to match.
    EXPECT_EQ(frames, 0u);
}

} // namespace
} // namespace octo::wire

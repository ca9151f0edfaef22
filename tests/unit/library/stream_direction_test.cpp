// The two directions of the windowed stream: which request moves which bytes, and what an
// answer tells the window (confirmed bytes, a loss, a refusal).
#include "protocol/Client.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace octo::protocol {
namespace {

using wire::Status;

std::vector<uint8_t> imageAnswer(Status status, uint32_t received) {
    return wire::Response{status, wire::ImageDataReply{received}.encode()}.encode();
}

std::vector<uint8_t> readAnswer(uint32_t offset, std::vector<uint8_t> data) {
    return wire::Response{Status::Ok, wire::ReadTargetDataReply{offset, std::move(data)}.encode()}
        .encode();
}

TEST(SendDirectionTest, AFrameNeverRunsPastItsPieceAndNamesTheAddressOfItsBytes) {
    const std::array<uint8_t, 10> low{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::array<uint8_t, 5> high{0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
    const std::array<Piece, 2> pieces{Piece{0x1000, low}, Piece{0x2000, high}};
    SendDirection direction(pieces);
    EXPECT_EQ(direction.total(), 15u);

    const StreamFrame tail = direction.frame(8, 16);
    EXPECT_EQ(tail.length, 2u);
    const auto first = wire::ImageDataRequest::decode(tail.payload);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->offset, 8u);
    EXPECT_EQ(first->address, 0x1008u);
    EXPECT_EQ(first->data, (std::vector<uint8_t>{8, 9}));

    const StreamFrame next = direction.frame(11, 2);
    const auto second = wire::ImageDataRequest::decode(next.payload);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->address, 0x2001u);
    EXPECT_EQ(second->data, (std::vector<uint8_t>{0xA1, 0xA2}));
}

TEST(SendDirectionTest, AnswersConfirmWhatTheUnitHoldsAndAGapIsALoss) {
    const std::array<uint8_t, 64> bytes{};
    const std::array<Piece, 1> pieces{Piece{0, bytes}};
    SendDirection direction(pieces);

    const StreamAnswer ok = direction.answer(imageAnswer(Status::Ok, 32), nullptr, 16);
    EXPECT_EQ(ok.confirmed, 32u);
    EXPECT_TRUE(ok.clean);
    EXPECT_FALSE(ok.lost);

    const StreamAnswer gap = direction.answer(imageAnswer(Status::Gap, 16), nullptr, 16);
    EXPECT_EQ(gap.confirmed, 16u);
    EXPECT_FALSE(gap.clean);
    EXPECT_TRUE(gap.gap);
    EXPECT_TRUE(gap.lost);

    EXPECT_EQ(direction.answer(imageAnswer(Status::Ok, 65), nullptr, 0).refusal,
              Status::BadArgument)
        << "more confirmed than was ever sent";
    EXPECT_EQ(direction.answer(wire::Response{Status::BadState, {}}.encode(), nullptr, 0).refusal,
              Status::BadState);
    const StreamAnswer damaged = direction.answer(std::vector<uint8_t>{}, nullptr, 0);
    EXPECT_TRUE(damaged.damaged);
    EXPECT_FALSE(damaged.clean);
}

TEST(FetchDirectionTest, BytesAreTakenOnlyInOrderAndOnlyForARequestStillWaited) {
    std::vector<uint8_t> out{0xEE}; // whatever was there before the stream
    FetchDirection direction(out);
    EXPECT_TRUE(out.empty());

    const StreamFrame frame = direction.frame(0, 4);
    const auto request = wire::ReadTargetDataRequest::decode(frame.payload);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->count, 4u);
    // Its deadline counts both halves on the line: the answer queued behind the others, the
    // request itself.
    const auto answerBytes = readAnswer(0, {1, 2, 3, 4}).size();
    EXPECT_GE(frame.queuedLineBytes, answerBytes + wire::lineOverhead(answerBytes));
    EXPECT_GE(frame.otherLineBytes,
              frame.payload.size() + wire::lineOverhead(frame.payload.size()));

    const StreamRequest first{1, 0, 4, frame.queuedLineBytes, 0};
    const StreamRequest second{2, 4, 8, frame.queuedLineBytes, 0};

    const StreamAnswer early = direction.answer(readAnswer(4, {5, 6, 7, 8}), &second, 0);
    EXPECT_TRUE(early.lost) << "the answer before it went missing";
    EXPECT_TRUE(out.empty());

    const StreamAnswer givenUp = direction.answer(readAnswer(0, {1, 2, 3, 4}), nullptr, 0);
    EXPECT_EQ(givenUp.confirmed, 0u);
    EXPECT_TRUE(out.empty());

    const StreamAnswer wrongOffset = direction.answer(readAnswer(8, {1, 2, 3, 4}), &first, 0);
    EXPECT_TRUE(wrongOffset.damaged);
    EXPECT_TRUE(wrongOffset.lost);

    const StreamAnswer inOrder = direction.answer(readAnswer(0, {1, 2, 3, 4}), &first, 0);
    EXPECT_EQ(inOrder.confirmed, 4u);
    EXPECT_TRUE(inOrder.clean);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4}));

    EXPECT_EQ(direction.answer(wire::Response{Status::Failed, {}}.encode(), &second, 4).refusal,
              Status::Failed);
}

} // namespace
} // namespace octo::protocol

#include <wire/messages.h>

#include <gtest/gtest.h>

namespace octo::wire {
namespace {

template <typename T>
void expectRoundTrip(const T& value) {
    const auto bytes = value.encode();
    const auto back = T::decode(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->encode(), bytes);
    // One byte more or less is not the same message.
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(T::decode(longer).has_value());
    if (!bytes.empty()) {
        EXPECT_FALSE(T::decode(std::span(bytes).first(bytes.size() - 1)).has_value());
    }
}

TEST(Messages, FieldsAreBigEndian) {
    ImageDataRequest data{0x01020304, 0x0A0B0C0D, {0xEE}};
    EXPECT_EQ(data.encode(), (std::vector<uint8_t>{1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D, 0xEE}));
    HelloReply hello{1, 0x1000, 115200};
    EXPECT_EQ(hello.encode(), (std::vector<uint8_t>{0, 1, 0x10, 0, 0, 0x01, 0xC2, 0}));
}

TEST(Messages, RoundTrips) {
    expectRoundTrip(HelloRequest{});
    expectRoundTrip(HelloReply{1, 4096, 9600});
    ResultReply result;
    result.run = {1, 2, 3, 4, 5, 6, 7, 8};
    result.hardwareVersion = 0x0130;
    result.firmwareName = "OCTO816-156";
    expectRoundTrip(result);
    ResultReply nameless;
    expectRoundTrip(nameless);
    expectRoundTrip(SetSignalsRequest{0x081F, 33});
    expectRoundTrip(ImageBeginRequest{3, ImageMode::Append, 100, 0xDEADBEEF, 2000, "ZEL816 A449"});
    expectRoundTrip(ImageDataReply{12345});
    expectRoundTrip(ImageEndRequest{1, 2, 3, 4});
    expectRoundTrip(ImageStatusReply{SlotState::Complete, 10, 0x1234, "ZEL816 B231"});
    expectRoundTrip(BusyReply{1500});
}

TEST(Messages, ImageDataCarriesItsBytes) {
    const ImageDataRequest data{100, 0xFC00, {1, 2, 3}};
    const auto back = ImageDataRequest::decode(data.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->offset, 100u);
    EXPECT_EQ(back->address, 0xFC00u);
    EXPECT_EQ(back->data, (std::vector<uint8_t>{1, 2, 3}));
}

struct Rejected {
    const char* what;
    bool decoded;
};

TEST(Messages, OutOfRangeFieldsAreRejected) {
    const std::vector<Rejected> cases = {
        {"baud index 5", SetBaudRequest::decode(std::vector<uint8_t>{5}).has_value()},
        {"supply 2", SetSupplyRequest::decode(std::vector<uint8_t>{2}).has_value()},
        {"supply 37", SetSupplyRequest::decode(std::vector<uint8_t>{37}).has_value()},
        {"slot 8", ImageSelectRequest::decode(std::vector<uint8_t>{8}).has_value()},
        {"abort slot 9", ImageSlotRequest::decode(std::vector<uint8_t>{9}).has_value()},
        {"image mode 2", ImageBeginRequest::decode(
                             std::vector<uint8_t>{0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
                             .has_value()},
        {"empty image data",
         ImageDataRequest::decode(std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}).has_value()},
        {"data past 4 GiB",
         ImageDataRequest::decode(std::vector<uint8_t>{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2})
             .has_value()},
        {"status 9", Response::decode(std::vector<uint8_t>{9}).has_value()},
        {"empty response", Response::decode(std::vector<uint8_t>{}).has_value()},
        {"slot state 3",
         ImageStatusReply::decode(std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 0, 0, 0, 0}).has_value()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.decoded) << c.what;
    }
    for (uint32_t code = 0; code < 40; ++code) {
        EXPECT_EQ(validSupplyCode(code), code == 0 || code == 1 || (code >= 18 && code <= 36))
            << code;
    }
}

TEST(Messages, ResponseCodesSetTheHighBitAndNamesAreKnown) {
    EXPECT_EQ(responseCode(Command::Hello), 0x81);
    EXPECT_EQ(responseCode(Command::Nak), 0xFF);
    EXPECT_EQ(commandName(0x94), "ImageEnd");
    EXPECT_EQ(commandName(0x21), "MainProcess");
    EXPECT_EQ(commandName(0x6E), "Unknown");
}

} // namespace
} // namespace octo::wire

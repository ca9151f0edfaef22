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
    result.unit = UnitRecord{"OCTO-000123", 0x01020304};
    expectRoundTrip(result);
    EXPECT_EQ(ResultReply::decode(result.encode())->unit, result.unit);
    EXPECT_FALSE(ResultReply::decode(nameless.encode())->unit) << "an older unit's reply";
    nameless.unit = UnitRecord{std::string(UnitRecord::kMaxSerialChars, 'S'), 0};
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
    std::vector<uint8_t> longSerial = ResultReply{}.encode();
    longSerial.push_back(UnitRecord::kMaxSerialChars + 1);
    longSerial.insert(longSerial.end(), UnitRecord::kMaxSerialChars + 1 + 4, 'S');
    const std::vector<Rejected> cases = {
        {"serial of 33 characters", ResultReply::decode(longSerial).has_value()},
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

TEST(Messages, TargetOperationMessagesRoundTrip) {
    expectRoundTrip(LoadParametersRequest{0x333BB, 30 | kVccSwitchOff, 1500});
    expectRoundTrip(WorkRequest{65000});
    RunReply run;
    run.run = {0xFB, 0xBB, 0xAB, 0, 0xAB, 0, 0, 0};
    run.runFailed = 1;
    expectRoundTrip(run);
    expectRoundTrip(FirmwareEraseRequest{0x2400, 0xDA00});
    expectRoundTrip(FirmwareBeginRequest{FirmwareKind::Loader, 1552});
    expectRoundTrip(FirmwareEndRequest{24608, 0x208FF9E3});
    expectRoundTrip(FirmwareEndReply{0x0156, "OCTO816 FW"});
    expectRoundTrip(ReadTargetBeginRequest{7, 0xF000, 0x1000});
    expectRoundTrip(ReadTargetBeginReply{0x1000, 0xCAFEF00D});
    expectRoundTrip(ReadTargetDataRequest{4096, 1024});
    expectRoundTrip(TargetFaultReply{TargetFault::Secured});
    expectRoundTrip(AccessSfrRequest{0, SfrOperation::Xor, 0x21, 0xFFFF});
    expectRoundTrip(AccessSfrReply{0xEECC});
    const ReadTargetDataReply data{8, {9, 8, 7}};
    const auto back = ReadTargetDataReply::decode(data.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->offset, 8u);
    EXPECT_EQ(back->data, (std::vector<uint8_t>{9, 8, 7}));
}

TEST(Messages, TargetDataCarriesUpToEightRecordsOfOneTo32Bytes) {
    const auto record = [](uint8_t socket, size_t length) {
        return TargetRecord{socket, 0x1000u + socket, std::vector<uint8_t>(length, socket)};
    };
    std::vector<TargetRecord> eight;
    for (uint8_t socket = 0; socket < kTargets; ++socket) {
        eight.push_back(record(socket, socket % 2 ? 32 : 1));
    }
    for (const auto& records : {std::vector<TargetRecord>{}, std::vector{record(7, 1)}, eight}) {
        SCOPED_TRACE(records.size());
        expectRoundTrip(TargetDataRequest{records});
        EXPECT_EQ(TargetDataRequest::decode(TargetDataRequest{records}.encode())->records, records);
    }
    // Count, then socket, address, length and bytes.
    const TargetDataRequest one{{TargetRecord{2, 0x1234, {0xAB, 0xCD}}}};
    EXPECT_EQ(one.encode(), (std::vector<uint8_t>{1, 2, 0, 0, 0x12, 0x34, 2, 0xAB, 0xCD}));

    std::vector<TargetRecord> nine = eight;
    nine.push_back(record(0, 1));
    const std::vector<std::pair<const char*, std::vector<TargetRecord>>> refused = {
        {"33 bytes", {record(1, 33)}},
        {"socket 8", {record(8, 1)}},
        {"one socket twice", {record(3, 4), record(3, 4)}},
        {"nine records", nine},
        {"past the target's address space", {TargetRecord{0, 0xFFFFF, {1, 2}}}},
    };
    for (const auto& [what, records] : refused) {
        EXPECT_FALSE(TargetDataRequest::decode(TargetDataRequest{records}.encode())) << what;
    }
    EXPECT_FALSE(TargetDataRequest::decode(std::vector<uint8_t>{1, 0, 0, 0, 0x10, 0, 0}))
        << "a record of no bytes";
    EXPECT_TRUE(TargetDataRequest::decode(TargetDataRequest{{{0, 0xFFFFE, {1, 2}}}}.encode()))
        << "a record that ends with the target's address space";
}

struct ParameterCase {
    uint32_t options;
    uint32_t vcc;
    uint32_t settle;
    bool valid;
};

TEST(Messages, ParametersAreValidOnlyWithKnownBitsAndOfferedVoltages) {
    const std::vector<ParameterCase> cases = {
        {0, 0, 0, true},
        {option::kKnown, 36 | kVccSwitchOff, 0xFFFF, true},
        {0x98, 18, 200, true},
        {0x98, 0x80, 200, true}, // not supplied, switched off between operations
        {0x08, 30, 200, false},  // part of the program bits
        {0x90, 30, 200, false},
        {0x8000, 30, 200, false}, // no such bit
        {0x80000, 30, 200, false},
        {0x98, 1, 200, false}, // a supply code, not a voltage
        {0x98, 17, 200, false},
        {0x98, 37, 200, false},
        {0x98, 0x100, 200, false},
        {0x98, 30, 0x10000, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(validParameters(c.options, c.vcc, c.settle), c.valid)
            << std::hex << c.options << " " << c.vcc << " " << c.settle;
    }
}

TEST(Messages, TargetOperationFieldsOutOfRangeAreRejected) {
    const std::vector<Rejected> cases = {
        {"time-out 0", WorkRequest::decode(std::vector<uint8_t>{0, 0, 0, 0}).has_value()},
        {"run failed 2",
         RunReply::decode(std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 2}).has_value()},
        {"parameters with bit 0x8000",
         LoadParametersRequest::decode(std::vector<uint8_t>{0, 0, 0x80, 0, 30, 0, 0}).has_value()},
        {"firmware erase past 64 KiB",
         FirmwareEraseRequest::decode(std::vector<uint8_t>{0, 0, 0xF0, 0, 0, 0, 0x10, 1})
             .has_value()},
        {"firmware erase of nothing",
         FirmwareEraseRequest::decode(std::vector<uint8_t>{0, 0, 0x24, 0, 0, 0, 0, 0}).has_value()},
        {"firmware kind 2",
         FirmwareBeginRequest::decode(std::vector<uint8_t>{2, 0, 0, 0, 1}).has_value()},
        {"read-out target 8",
         ReadTargetBeginRequest::decode(std::vector<uint8_t>{8, 0, 0, 0, 0, 0, 0, 0, 1})
             .has_value()},
        {"read-out past 1 MiB",
         ReadTargetBeginRequest::decode(std::vector<uint8_t>{0, 0, 0x0F, 0xFF, 0xFF, 0, 0, 0, 2})
             .has_value()},
        {"read-out chunk too large",
         ReadTargetDataRequest::decode(std::vector<uint8_t>{0, 0, 0, 0, 0x0F, 0xF9}).has_value()},
        {"register operation 5",
         AccessSfrRequest::decode(std::vector<uint8_t>{0, 5, 0, 0x21, 0, 0}).has_value()},
        {"register above the peripherals",
         AccessSfrRequest::decode(std::vector<uint8_t>{0, 0, 0x10, 0x00, 0, 0}).has_value()},
        {"target fault 0", TargetFaultReply::decode(std::vector<uint8_t>{0}).has_value()},
        {"target fault 6", TargetFaultReply::decode(std::vector<uint8_t>{6}).has_value()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.decoded) << c.what;
    }
    EXPECT_TRUE(ReadTargetDataRequest::decode(std::vector<uint8_t>{0, 0, 0, 0, 0x0F, 0xF8}));
}

} // namespace
} // namespace octo::wire

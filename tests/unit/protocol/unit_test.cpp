// The simulated unit's protocol logic without a line: requests in, answers out.
#include "Unit.h"

#include <objfile/crc32.h>
#include <objfile/firmware.h>
#include <wire/checksums.h>

#include <gtest/gtest.h>

#include <functional>

namespace octo::unitsim {
namespace {

using wire::Command;
using wire::Status;

class UnitLogic : public ::testing::Test {
protected:
    wire::Response ask(Command command, const std::vector<uint8_t>& payload,
                       uint32_t* workMs = nullptr) {
        const Reply reply = unit.handle(wire::Frame{seq++, static_cast<uint8_t>(command), payload});
        wire::FrameDecoder decoder;
        const auto events = decoder.feed(reply.frame);
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(events.at(0).frame.command, wire::responseCode(command));
        if (workMs) {
            *workMs = reply.workMs;
        }
        return *wire::Response::decode(events.at(0).frame.payload);
    }

    // Begins, sends and ends a load of data at address in slot 0.
    Status loadBytes(uint32_t address, const std::vector<uint8_t>& data, wire::ImageMode mode,
                     const objfile::Image& after, uint32_t baseBytes = 0, uint32_t baseCrc = 0) {
        wire::ImageBeginRequest begin{
            0, mode, baseBytes, baseCrc, static_cast<uint32_t>(data.size()), "ZEL816 A110"};
        EXPECT_EQ(ask(Command::ImageBegin, begin.encode()).status, Status::Ok);
        EXPECT_EQ(ask(Command::ImageData, wire::ImageDataRequest{0, address, data}.encode()).status,
                  Status::Ok);
        wire::ImageEndRequest end{static_cast<uint32_t>(data.size()), wire::crc32(data),
                                  static_cast<uint32_t>(after.byteCount()),
                                  objfile::imageCrc32(after)};
        return ask(Command::ImageEnd, end.encode()).status;
    }

    Scenario scenario;
    Unit unit{scenario};
    uint8_t seq = 1;
};

TEST_F(UnitLogic, ARepeatedRequestIsAnsweredAgainWithoutBeingDoneTwice) {
    const wire::Frame select{5, static_cast<uint8_t>(Command::ImageSelect), {3}};
    const Reply first = unit.handle(select);
    const Reply again = unit.handle(select);
    EXPECT_EQ(first.frame, again.frame);
    EXPECT_EQ(unit.commands(), 1u);
    EXPECT_EQ(unit.duplicates(), 1u);
    // Hello starts a session: the same number then means a new request.
    ask(Command::Hello, wire::HelloRequest{}.encode());
    unit.handle(select);
    EXPECT_EQ(unit.duplicates(), 1u);
}

TEST_F(UnitLogic, TheKeptNumberWithAnotherPayloadIsANewRequest) {
    // A sender whose numbers wrapped reuses the kept number for a request of its own.
    const Reply first =
        unit.handle(wire::Frame{9, static_cast<uint8_t>(Command::ImageSelect), {3}});
    const Reply other =
        unit.handle(wire::Frame{9, static_cast<uint8_t>(Command::ImageSelect), {9}});
    EXPECT_EQ(unit.commands(), 2u);
    EXPECT_EQ(unit.duplicates(), 0u);
    wire::FrameDecoder decoder;
    const auto events = decoder.feed(other.frame);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(wire::Response::decode(events[0].frame.payload)->status, Status::BadArgument);
    EXPECT_NE(first.frame, other.frame);
}

TEST_F(UnitLogic, ImageDataAcceptsInOrderRepeatsOldAndReportsGaps) {
    wire::ImageBeginRequest begin{0, wire::ImageMode::Fresh, 0, 0, 8, "ZEL816 A110"};
    ASSERT_EQ(ask(Command::ImageBegin, begin.encode()).status, Status::Ok);
    auto send = [&](uint32_t offset, std::vector<uint8_t> data) {
        const auto response =
            ask(Command::ImageData, wire::ImageDataRequest{offset, 0x1000 + offset, data}.encode());
        return std::make_pair(response.status,
                              wire::ImageDataReply::decode(response.body)->received);
    };
    EXPECT_EQ(send(0, {1, 2, 3, 4}), std::make_pair(Status::Ok, 4u));
    EXPECT_EQ(send(6, {7, 8}), std::make_pair(Status::Gap, 4u));
    EXPECT_EQ(send(0, {1, 2, 3, 4}), std::make_pair(Status::Ok, 4u));
    EXPECT_EQ(send(4, {5, 6}), std::make_pair(Status::Ok, 6u));
    EXPECT_EQ(send(6, {7, 8, 9}).first, Status::BadArgument); // beyond the announced size
    EXPECT_EQ(send(6, {7, 8}), std::make_pair(Status::Ok, 8u));
    EXPECT_EQ(unit.slot(0).data.byteCount(), 8u);
}

TEST_F(UnitLogic, EndMarksCompleteOnlyWhenEverythingMatches) {
    const std::vector<uint8_t> data = {9, 8, 7};
    objfile::Image expected;
    expected.insert(0xFC00, data);
    EXPECT_EQ(loadBytes(0xFC00, data, wire::ImageMode::Fresh, expected), Status::Ok);
    EXPECT_EQ(unit.slot(0).state, wire::SlotState::Complete);

    // A CRC that does not match what arrived leaves the slot unusable.
    objfile::Image other;
    other.insert(0xFC00, std::vector<uint8_t>{9, 8, 6});
    EXPECT_EQ(loadBytes(0xFC00, data, wire::ImageMode::Fresh, other), Status::ImageMismatch);
    EXPECT_EQ(unit.slot(0).state, wire::SlotState::Loading);
}

TEST_F(UnitLogic, AppendNeedsTheImageTheSenderNames) {
    objfile::Image first;
    first.insert(0x1000, std::vector<uint8_t>{1, 2});
    ASSERT_EQ(loadBytes(0x1000, {1, 2}, wire::ImageMode::Fresh, first), Status::Ok);
    wire::ImageBeginRequest wrong{0, wire::ImageMode::Append, 2, 0x12345678, 1, "ZEL816 A110"};
    EXPECT_EQ(ask(Command::ImageBegin, wrong.encode()).status, Status::ImageMismatch);
    EXPECT_EQ(unit.slot(0).state, wire::SlotState::Erased);

    ASSERT_EQ(loadBytes(0x1000, {1, 2}, wire::ImageMode::Fresh, first), Status::Ok);
    objfile::Image both = first;
    both.insert(0x2000, std::vector<uint8_t>{3});
    EXPECT_EQ(loadBytes(0x2000, {3}, wire::ImageMode::Append, both, 2, objfile::imageCrc32(first)),
              Status::Ok);
    EXPECT_EQ(unit.slot(0).data.byteCount(), 3u);
    EXPECT_EQ(unit.slot(0).loads, 2u);
}

TEST_F(UnitLogic, DataWithoutABegunLoadIsRefused) {
    EXPECT_EQ(ask(Command::ImageData, wire::ImageDataRequest{0, 0, {1}}.encode()).status,
              Status::BadState);
    EXPECT_EQ(ask(Command::ImageEnd, wire::ImageEndRequest{}.encode()).status, Status::BadState);
}

TEST_F(UnitLogic, EraseTakesItsScaledTimeAndEmptiesEverySlot) {
    scenario.eraseImageMs = 2000;
    scenario.timeScale = 0.5;
    Unit slowUnit(scenario);
    std::swap(unit, slowUnit);
    objfile::Image image;
    image.insert(0x1000, std::vector<uint8_t>{1});
    ASSERT_EQ(loadBytes(0x1000, {1}, wire::ImageMode::Fresh, image), Status::Ok);
    uint32_t work = 0;
    EXPECT_EQ(ask(Command::ImageErase, {}, &work).status, Status::Ok);
    EXPECT_EQ(work, 1000u);
    EXPECT_EQ(unit.slot(0).state, wire::SlotState::Erased);
    EXPECT_TRUE(unit.slot(0).data.empty());
}

struct SupplyCase {
    uint8_t code;
    Status status;
};

TEST_F(UnitLogic, SupplyAnswersFollowTheCodeAndTheLimits) {
    Scenario limited;
    limited.supplyMin = 20;
    limited.supplyMax = 30;
    Unit limitedUnit(limited);
    const std::vector<SupplyCase> cases = {{0, Status::NotSupplied}, {1, Status::Ok},
                                           {19, Status::Failed},     {20, Status::Ok},
                                           {30, Status::Ok},         {31, Status::Failed}};
    uint8_t n = 1;
    for (const auto& c : cases) {
        const Reply reply =
            limitedUnit.handle(wire::Frame{n++, static_cast<uint8_t>(Command::SetSupply),
                                           wire::SetSupplyRequest{c.code}.encode()});
        wire::FrameDecoder decoder;
        const auto events = decoder.feed(reply.frame);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(wire::Response::decode(events[0].frame.payload)->status, c.status) << int(c.code);
    }
}

TEST_F(UnitLogic, TargetCommandsWithAMalformedPayloadAreBadArguments) {
    for (Command command :
         {Command::LoadParameters, Command::MainProcess, Command::Selftest, Command::FirmwareErase,
          Command::FirmwareBegin, Command::FirmwareEnd, Command::ReadTargetBegin,
          Command::ReadTargetData, Command::AccessSfr}) {
        EXPECT_EQ(ask(command, {}).status, Status::BadArgument)
            << wire::commandName(static_cast<uint8_t>(command));
    }
    EXPECT_EQ(ask(Command::TempLoader, {1}).status, Status::BadArgument);
    EXPECT_EQ(ask(static_cast<Command>(0x60), {}).status, Status::UnknownCommand);
}

TEST_F(UnitLogic, AnOldBootLoaderUpgradesOnlyThroughTheTemporaryLoader) {
    scenario.thirdVersion = 0x0100;
    Unit old(scenario);
    auto askOld = [&](Command command, const std::vector<uint8_t>& payload) {
        const Reply reply = old.handle(wire::Frame{seq++, static_cast<uint8_t>(command), payload});
        wire::FrameDecoder decoder;
        return *wire::Response::decode(decoder.feed(reply.frame).at(0).frame.payload);
    };
    auto stream = [&](wire::FirmwareKind kind, const objfile::Image& image) {
        const auto runs = image.runs();
        EXPECT_EQ(
            askOld(
                Command::FirmwareBegin,
                wire::FirmwareBeginRequest{kind, static_cast<uint32_t>(image.byteCount())}.encode())
                .status,
            Status::Ok);
        uint32_t offset = 0;
        uint32_t crc = 0;
        for (const auto& run : runs) {
            const std::vector<uint8_t> bytes(run.bytes.begin(), run.bytes.end());
            EXPECT_EQ(askOld(Command::FirmwareData,
                             wire::ImageDataRequest{offset, run.start, bytes}.encode())
                          .status,
                      Status::Ok);
            offset += static_cast<uint32_t>(bytes.size());
            crc = wire::crc32(bytes, crc);
        }
        return askOld(Command::FirmwareEnd, wire::FirmwareEndRequest{offset, crc}.encode()).status;
    };
    const auto firmwareArea = wire::FirmwareEraseRequest{0x2400, 0xDA00}.encode();
    const auto loaderArea = wire::FirmwareEraseRequest{0x8000, 0x6000}.encode();
    EXPECT_EQ(askOld(Command::FirmwareErase, firmwareArea).status, Status::Failed);
    EXPECT_TRUE(old.hasFirmware());
    EXPECT_EQ(
        askOld(Command::FirmwareErase, wire::FirmwareEraseRequest{0x2000, 0x800}.encode()).status,
        Status::BadArgument); // the boot section
    EXPECT_EQ(askOld(Command::TempLoader, {}).status, Status::BadState);
    EXPECT_EQ(askOld(Command::FirmwareErase, loaderArea).status, Status::Ok);
    EXPECT_FALSE(old.hasFirmware());
    // Anything but the library's own loader is not started.
    EXPECT_EQ(stream(wire::FirmwareKind::Loader,
                     [] {
                         objfile::Image other;
                         other.insert(0x8000, std::vector<uint8_t>{1, 2, 3});
                         return other;
                     }()),
              Status::ImageMismatch);
    EXPECT_EQ(askOld(Command::FirmwareErase, loaderArea).status, Status::Ok);
    EXPECT_EQ(stream(wire::FirmwareKind::Loader, objfile::temporaryLoaderImage()), Status::Ok);
    EXPECT_EQ(askOld(Command::TempLoader, {}).status, Status::Ok);
    EXPECT_EQ(askOld(Command::FirmwareErase, firmwareArea).status, Status::Ok);
    const std::vector<uint8_t> code(300, 0x42);
    EXPECT_EQ(
        stream(wire::FirmwareKind::Firmware, objfile::buildFirmwareImage(0x0157, "NEW", code)),
        Status::Ok);
    ASSERT_TRUE(old.hasFirmware());
    const auto result = wire::ResultReply::decode(askOld(Command::GetResult, {}).body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->firmwareVersion, 0x0157);
    EXPECT_EQ(result->firmwareName, "NEW");
    EXPECT_EQ(result->thirdVersion, 0x0100);
    // The new firmware runs: a further upgrade needs the loader again.
    EXPECT_EQ(askOld(Command::FirmwareErase, firmwareArea).status, Status::Failed);
}

TEST_F(UnitLogic, APowerCycleForgetsParametersResultAndLoadsButKeepsTheFlash) {
    ASSERT_EQ(
        ask(Command::LoadParameters, wire::LoadParametersRequest{0x98, 30, 100}.encode()).status,
        Status::Ok);
    ASSERT_EQ(ask(Command::Selftest, wire::WorkRequest{10000}.encode()).status, Status::Ok);
    ASSERT_EQ(ask(Command::SetSupply, wire::SetSupplyRequest{33}.encode()).status, Status::Ok);
    ASSERT_EQ(
        ask(Command::FirmwareErase, wire::FirmwareEraseRequest{0x2400, 0xDA00}.encode()).status,
        Status::Ok);
    unit.setBaud(9600);
    unit.powerCycle();
    EXPECT_EQ(unit.baud(), 115200u);
    EXPECT_FALSE(unit.hasFirmware());
    const std::string state = unit.stateText();
    EXPECT_NE(state.find("params.options = none"), std::string::npos);
    EXPECT_NE(state.find("supply.mode = external"), std::string::npos);
    EXPECT_NE(state.find("firmware.state = erased"), std::string::npos);
    EXPECT_NE(state.find("unit.power_cycles = 1"), std::string::npos);
    // Without firmware, no target work.
    const auto refused =
        ask(Command::LoadParameters, wire::LoadParametersRequest{0x98, 30, 100}.encode());
    EXPECT_EQ(refused.status, Status::BadState);
    EXPECT_EQ(wire::TargetFaultReply::decode(refused.body)->fault, wire::TargetFault::NoFirmware);
}

TEST_F(UnitLogic, SelftestOutcomeGoesToTheResultBlockAndAMainProcessNeedsParameters) {
    scenario.selftest = 6;
    Unit failing(scenario);
    const Reply reply = failing.handle(
        wire::Frame{1, static_cast<uint8_t>(Command::Selftest), wire::WorkRequest{10000}.encode()});
    wire::FrameDecoder decoder;
    const auto response = wire::Response::decode(decoder.feed(reply.frame).at(0).frame.payload);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, Status::Failed);
    const auto run = wire::RunReply::decode(response->body);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->run[wire::kMiscErrorsByte], 6);
    EXPECT_EQ(run->runFailed, 0);
    EXPECT_EQ(reply.workMs, 2500u);

    const auto main = ask(Command::MainProcess, wire::WorkRequest{1000}.encode());
    EXPECT_EQ(main.status, Status::BadState);
    EXPECT_EQ(wire::TargetFaultReply::decode(main.body)->fault, wire::TargetFault::NoParameters);
}

TEST_F(UnitLogic, RecordsLastUntilTheNextMainProcessEraseHelloOrPowerCycle) {
    const wire::TargetDataRequest records{
        {wire::TargetRecord{0, 0x1000, {1, 2}}, wire::TargetRecord{5, 0x1000, {3, 4}}}};
    const auto held = [&] { return unit.stateText().find("run.records = 2") != std::string::npos; };
    const std::vector<std::pair<const char*, std::function<void()>>> clearers = {
        {"a main process, even one refused",
         [&] {
             ask(Command::MainProcess, {0, 0, 1, 0});
         }},
        {"an image erase", [&] { ask(Command::ImageErase, {}); }},
        {"a Hello", [&] { ask(Command::Hello, wire::HelloRequest{}.encode()); }},
        {"a power cycle", [&] { unit.powerCycle(); }},
    };
    for (const auto& [what, clear] : clearers) {
        SCOPED_TRACE(what);
        ASSERT_EQ(ask(Command::TargetData, records.encode()).status, Status::Ok);
        ASSERT_TRUE(held());
        ask(Command::SetSupply, wire::SetSupplyRequest{33}.encode());
        EXPECT_TRUE(held()) << "another request leaves them";
        clear();
        EXPECT_FALSE(held());
    }
    // An empty request clears them too.
    ASSERT_EQ(ask(Command::TargetData, records.encode()).status, Status::Ok);
    ASSERT_EQ(ask(Command::TargetData, wire::TargetDataRequest{}.encode()).status, Status::Ok);
    EXPECT_NE(unit.stateText().find("run.records = 0"), std::string::npos);
}

TEST_F(UnitLogic, FirmwareBeforeRecordsAnswersThatItDoesNotKnowThem) {
    const wire::TargetDataRequest records{{wire::TargetRecord{0, 0x1000, {1}}}};
    for (const uint16_t version : {uint16_t{0x0150}, uint16_t{0x0155}, uint16_t{0xFFFF}}) {
        scenario.firmwareVersion = version;
        Unit old(scenario);
        const Reply reply =
            old.handle(wire::Frame{1, static_cast<uint8_t>(Command::TargetData), records.encode()});
        wire::FrameDecoder decoder;
        EXPECT_EQ(wire::Response::decode(decoder.feed(reply.frame).at(0).frame.payload)->status,
                  Status::UnknownCommand)
            << std::hex << version;
    }
    EXPECT_EQ(ask(Command::TargetData, records.encode()).status, Status::Ok);
    EXPECT_EQ(ask(Command::TargetData, {1, 8, 0, 0, 0, 0, 1, 0}).status, Status::BadArgument);
}

TEST_F(UnitLogic, SelftestOutcomeCanHitOneRunOfASeries) {
    scenario.selftest = 4;
    scenario.selftestOnlyRun = 2;
    Unit unitWithOneBadRun(scenario);
    const std::vector<Status> expected = {Status::Ok, Status::Failed, Status::Ok};
    for (std::size_t run = 0; run < expected.size(); ++run) {
        const Reply reply = unitWithOneBadRun.handle(
            wire::Frame{static_cast<uint8_t>(run + 1), static_cast<uint8_t>(Command::Selftest),
                        wire::WorkRequest{10000}.encode()});
        wire::FrameDecoder decoder;
        const auto response = wire::Response::decode(decoder.feed(reply.frame).at(0).frame.payload);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status, expected[run]) << "self-test " << run + 1;
        EXPECT_EQ(wire::RunReply::decode(response->body)->run[wire::kMiscErrorsByte],
                  expected[run] == Status::Ok ? 0 : 4)
            << "self-test " << run + 1;
    }
}

TEST_F(UnitLogic, BaudSwitchWaitsForTheAnswer) {
    const Reply reply = unit.handle(
        wire::Frame{1, static_cast<uint8_t>(Command::SetBaud), wire::SetBaudRequest{0}.encode()});
    ASSERT_TRUE(reply.baudAfter);
    EXPECT_EQ(*reply.baudAfter, 9600u);
    EXPECT_EQ(unit.baud(), 115200u); // the server switches once the answer is out
}

} // namespace
} // namespace octo::unitsim

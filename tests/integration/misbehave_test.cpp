// A unit that misbehaves on ordinary exchanges, image loads and runs: endless Busy, wrong
// and stale sequence numbers, wrong frame CRCs, a hang with the line up.
#include "CallBounds.h"
#include "MisbehaveFixture.h"

namespace octo::testing {
namespace {

TEST_F(MisbehaveTest, ExchangesEndInTheirBoundWithACodeAndWorkAgainAfterAPowerCycle) {
    runCases({
        {"endless Busy to GetResult",
         {"misbehave.busy=yes", "misbehave.command=GetResult"},
         Step::Result,
         {6}},
        {"endless Busy to SetSupply",
         {"misbehave.busy=yes", "misbehave.command=SetSupply"},
         Step::Supply,
         {6}},
        {"endless Busy to a run",
         {"misbehave.busy=yes", "misbehave.command=MainProcess"},
         Step::MainProcess,
         {6}},
        {"wrong sequence numbers",
         {"misbehave.wrong_seq=1", "misbehave.command=GetResult"},
         Step::Result,
         {6}},
        {"wrong frame CRC",
         {"misbehave.frame_crc=1", "misbehave.command=SetSignals"},
         Step::Signals,
         {1}},
        {"hangs after the next command", {"misbehave.silent_after=2"}, Step::Supply, {6}},
    });
}

TEST_F(MisbehaveTest, ImageLoadsEndInTheirBoundAndNeverLeaveOtherBytesMarkedComplete) {
    runCases({
        {"endless Busy to ImageBegin",
         {"misbehave.busy=yes", "misbehave.command=ImageBegin"},
         Step::Load,
         {6}},
        {"endless Busy to image data",
         {"misbehave.busy=yes", "misbehave.command=ImageData"},
         Step::Load,
         {8}},
        {"endless Busy to ImageEnd",
         {"misbehave.busy=yes", "misbehave.command=ImageEnd"},
         Step::Load,
         {6}},
        {"wrong frame CRC on image data",
         {"misbehave.frame_crc=1", "misbehave.command=ImageData"},
         Step::Load,
         {1}},
        // The acknowledgements count bytes, whatever number they carry; the end check
        // still compares every byte's CRC.
        {"wrong sequence numbers on image data",
         {"misbehave.wrong_seq=1", "misbehave.command=ImageData"},
         Step::Load,
         {0}},
        {"stale answers to image data",
         {"misbehave.stale_seq=1", "misbehave.command=ImageData"},
         Step::Load,
         {0, 1, 6}},
    });
}

TEST_F(MisbehaveTest, InitComGivesUpOnAUnitStuckInBusyWithinItsBound) {
    unit = std::make_unique<SimulatedUnit>(
        std::vector<std::string>{"misbehave.busy=yes", "misbehave.command=Hello"});
    Operations timing(*unit, kRate);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(InitCom(unit->link().c_str(), kRate), 5);
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - started;
    EXPECT_LE(took.count(), bounds::initCom());
    unit->signal(SIGUSR2);
    ASSERT_TRUE(unit->waitFor("misbehave.active", "no"));
    EXPECT_EQ(InitCom(unit->link().c_str(), kRate), 0);
    EXPECT_EQ(timing.getResult().code, 0);
}

TEST_F(MisbehaveTest, AUnitThatHangsForAWhileAnswersTheFirstCallAfterwards) {
    startUnit({"misbehave.silent_after=2", "misbehave.silent_for_ms=1500"});
    const Outcome lost = operations->setSupply(kSupply);
    EXPECT_EQ(lost.code, 6);
    EXPECT_LE(lost.ms, lost.boundMs);
    ASSERT_TRUE(unit->waitFor("unit.silent", "no"));
    const Outcome back = operations->setSupply(kSupply);
    EXPECT_EQ(back.code, 0) << lastText();
    EXPECT_TRUE(back.truthful) << back.detail;
}

} // namespace
} // namespace octo::testing

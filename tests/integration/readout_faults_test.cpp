// A unit that misbehaves while a target is read out: the read-out succeeds only with exactly
// the target's bytes, and otherwise fails with a code and leaves no file.
#include "MisbehaveFixture.h"

namespace octo::testing {
namespace {

TEST_F(MisbehaveTest, ReadOutsEndInTheirBoundWithACodeAndNoFile) {
    runCases({
        {"wrong read-out CRC", {"misbehave.readout_crc=1"}, Step::ReadOut, {1}},
        {"short read-out data", {"misbehave.short_readout=1"}, Step::ReadOut, {1}},
        // Far later than the library waits for any answer of its window (under 0.7 s at
        // 115200): each answer comes after its request was given up.
        {"late read-out data",
         {"misbehave.late_readout=1", "misbehave.late_ms=1500"},
         Step::ReadOut,
         {6}},
        {"endless Busy to read-out data",
         {"misbehave.busy=yes", "misbehave.command=ReadTargetData"},
         Step::ReadOut,
         {8}},
        {"wrong sequence number on ReadTargetBegin",
         {"misbehave.wrong_seq=1", "misbehave.command=ReadTargetBegin"},
         Step::ReadOut,
         {6}},
        {"wrong sequence numbers on read-out data",
         {"misbehave.wrong_seq=1", "misbehave.command=ReadTargetData"},
         Step::ReadOut,
         {1, 6}},
        {"stale read-out data",
         {"misbehave.stale_seq=1", "misbehave.command=ReadTargetData"},
         Step::ReadOut,
         {1, 6}},
    });
}

TEST_F(MisbehaveTest, AnUnreliableUnitNeverGetsAReadOutWrong) {
    // Now and then every kind of wrong answer; the read-outs of different ranges of
    // different sockets either hold exactly the target's bytes or fail without a file.
    startUnit({"misbehave.wrong_seq=0.05", "misbehave.stale_seq=0.05", "misbehave.frame_crc=0.05",
               "misbehave.readout_crc=0.2", "misbehave.short_readout=0.05",
               "misbehave.late_readout=0.05", "misbehave.late_ms=200"});
    struct Range {
        uint8_t target;
        uint32_t start;
        uint32_t length;
    };
    const std::vector<Range> ranges = {
        {0, 0xF000, 0x1000}, {1, 0xF000, 0x1000}, {0, 0x1000, 0x800},
        {2, 0x8000, 0x2000}, {0, 0xF000, 0x1000}, {7, 0xFF00, 0x100},
    };
    int exact = 0;
    for (const auto& range : ranges) {
        SCOPED_TRACE(std::to_string(range.target) + " " + std::to_string(range.start));
        const Outcome supplied = operations->setSupply(kSupply);
        EXPECT_TRUE(supplied.truthful) << supplied.detail;
        std::filesystem::remove(readOutPath());
        const Outcome read =
            operations->readOut(range.target, range.start, range.length, readOutPath());
        EXPECT_LE(read.ms, read.boundMs);
        EXPECT_TRUE(read.truthful) << read.detail;
        exact += read.code == 0;
    }
    std::printf("[ outcome  ] %d of %zu read-outs exact, the others failed without a file\n", exact,
                ranges.size());
    EXPECT_NE(unit->state("misbehave.hits"), "0");
}

} // namespace
} // namespace octo::testing

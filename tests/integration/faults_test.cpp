// A faulty line: damaged, dropped and delayed bytes, unplugging and replugging. Every
// load either completes with exactly the file's bytes in the unit, or fails and leaves
// nothing marked complete.
#include "LibraryFixture.h"
#include "Operations.h"

#include <chrono>
#include <cstdio>

namespace octo::testing {
namespace {

class FaultTest : public LibraryTest {
protected:
    int32_t load(const std::string& sample, const std::string& type) {
        return OctoLoadImage(samplePath(sample).c_str(), type.c_str());
    }
    static void report(const char* what) {
        const auto stats = library::linkStats();
        std::printf("[ stats    ] %s: frames %llu, retransmitted %llu, naks %llu, gaps %llu, "
                    "damaged answers %llu, time-outs %llu, rewinds %llu, smallest chunk %u\n",
                    what, static_cast<unsigned long long>(stats.framesSent),
                    static_cast<unsigned long long>(stats.retransmissions),
                    static_cast<unsigned long long>(stats.naks),
                    static_cast<unsigned long long>(stats.gaps),
                    static_cast<unsigned long long>(stats.badFrames),
                    static_cast<unsigned long long>(stats.timeouts),
                    static_cast<unsigned long long>(stats.rewinds), stats.smallestChunk);
    }
};

struct SampleCase {
    const char* file;
    const char* type;
};

const std::vector<SampleCase> kSamples = {
    {"A110_blink.hex", "ZEL816 A110"},
    {"B231_main.txt", "ZEL816 B231"},
    {"A413_overlap_1.hex", "ZEL816 A413"},
    {"A449_full.hex", "ZEL816 A449"},
};

TEST_F(FaultTest, OnePercentOfBytesDamagedOrDroppedEveryLoadStillCompletesExactly) {
    SimulatedUnit unit({"fault.drop=0.005", "fault.corrupt=0.005", "fault.seed=7"});
    // Opening may need a retry itself on such a line.
    int32_t opened = 1;
    for (int attempt = 0; attempt < 3 && opened != 0; ++attempt) {
        opened = InitCom(unit.link().c_str(), kRate);
    }
    ASSERT_EQ(opened, 0);
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample.file);
        ASSERT_EQ(OctoEraseImage(), 0) << lastText();
        ASSERT_EQ(load(sample.file, sample.type), 0) << lastText();
        EXPECT_EQ(unit.state("image.0.state"), "complete");
        EXPECT_TRUE(unit.slot(0) == imageOfFile(samplePath(sample.file)));
    }
    report("1 % faults");
    const auto stats = library::linkStats();
    EXPECT_GT(stats.retransmissions, 0u);
    EXPECT_LT(stats.smallestChunk, 1024u);
    EXPECT_NE(unit.state("link.dropped"), "0");
    EXPECT_NE(unit.state("link.corrupted"), "0");
}

TEST_F(FaultTest, OnABadLineSuccessIsOnlyEverReportedForDataThatArrived) {
    SimulatedUnit unit({"fault.drop=0.015", "fault.corrupt=0.015", "fault.seed=11"});
    int successes = 0;
    int failures = 0;
    for (int round = 0; round < 4; ++round) {
        int32_t opened = 1;
        for (int attempt = 0; attempt < 4 && opened != 0; ++attempt) {
            opened = InitCom(unit.link().c_str(), kRate);
        }
        if (opened != 0 || OctoEraseImage() != 0) {
            continue;
        }
        const int32_t code = load("B231_main.txt", "ZEL816 B231");
        const bool complete = unit.state("image.0.state") == "complete";
        if (code == 0) {
            ++successes;
            EXPECT_TRUE(complete);
        } else {
            ++failures;
            EXPECT_TRUE(code == 1 || code == 6 || code == 8) << code;
        }
        // Whatever the library said: a slot marked complete holds exactly the file. (A
        // load whose last answer was lost may be complete although the call failed.)
        if (complete) {
            EXPECT_TRUE(unit.slot(0) == imageOfFile(samplePath("B231_main.txt")));
        }
    }
    std::printf("[ outcome  ] 3 %% faults: %d loads complete, %d failed\n", successes, failures);
    report("3 % faults");
    EXPECT_GT(successes + failures, 0);
}

TEST_F(FaultTest, ALineThatLosesAlmostEverythingNeverYieldsSuccess) {
    SimulatedUnit unit({"fault.drop=0.3", "fault.corrupt=0.2", "fault.seed=3"});
    const int32_t opened = InitCom(unit.link().c_str(), kRate);
    EXPECT_NE(opened, 0);
    const int32_t code = load("A110_blink.txt", "ZEL816 A110");
    EXPECT_NE(code, 0);
    EXPECT_NE(code, 17);
    EXPECT_NE(unit.state("image.0.state"), "complete");
}

TEST_F(FaultTest, DelayedBytesAndAGarbledReturnPathAreRidden) {
    SimulatedUnit unit({"fault.delay=0.01", "fault.delay_ms=30", "fault.corrupt=0.005",
                        "fault.direction=from_unit", "fault.seed=5"});
    int32_t opened = 1;
    for (int attempt = 0; attempt < 3 && opened != 0; ++attempt) {
        opened = InitCom(unit.link().c_str(), kRate);
    }
    ASSERT_EQ(opened, 0);
    std::array<uint8_t, 256> block{};
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(OctoGetResult(block.data()), 0);
        ASSERT_EQ(block[9], 0x30);
        ASSERT_STREQ(reinterpret_cast<const char*>(&block[12]), "OCTO816-156");
    }
    ASSERT_EQ(OctoEraseImage(), 0);
    ASSERT_EQ(load("A413_overlap_1.hex", "ZEL816 A413"), 0) << lastText();
    EXPECT_TRUE(unit.slot(0) == imageOfFile(samplePath("A413_overlap_1.hex")));
    EXPECT_NE(unit.state("link.delayed"), "0");
    report("return path faults");
}

TEST_F(FaultTest, UnplugInTheMiddleOfALoadTimesOutAndAfterReplugTheNextLoadWorks) {
    SimulatedUnit unit({"unplug.after_bytes=20000", "unplug.for_ms=500"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    ASSERT_EQ(OctoEraseImage(), 0);
    const objfile::Image expected = imageOfFile(samplePath("A449_full.hex"));
    // The load's deadline: four times the data's time on the line plus 10 s.
    const auto deadline =
        std::chrono::milliseconds(expected.byteCount() * 2 * 10 * 1000 / kRate * 4 + 10000);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(load("A449_full.hex", "ZEL816 A449"), 6);
    report("unplugged load");
    EXPECT_LE(std::chrono::steady_clock::now() - started, deadline);
    EXPECT_NE(lastText().find("interrupted"), std::string::npos) << lastText();
    EXPECT_EQ(lastPicture(), kLampRed);
    // The library may notice the hang-up before the unit has written its state.
    ASSERT_TRUE(unit.waitFor("link.unplugs", "1"));
    EXPECT_EQ(unit.state("image.0.state"), "loading");

    // The library no longer knows what the slot holds: no append onto it.
    ASSERT_TRUE(unit.waitFor("link.state", "plugged"));
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    ASSERT_EQ(OctoAppendImage(), 0);
    EXPECT_EQ(load("A449_full.hex", "ZEL816 A449"), 8);

    ASSERT_EQ(OctoEraseImage(), 0);
    ASSERT_EQ(load("A449_full.hex", "ZEL816 A449"), 0) << lastText();
    EXPECT_EQ(unit.state("image.0.state"), "complete");
    EXPECT_TRUE(unit.slot(0) == expected);
}

TEST_F(FaultTest, AfterReplugTheNextCallReopensThePortByItself) {
    SimulatedUnit unit({"unplug.at_ms=300", "unplug.for_ms=300"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    ASSERT_TRUE(unit.waitFor("link.unplugs", "1"));
    std::array<uint8_t, 256> block{};
    EXPECT_NE(OctoGetResult(block.data()), 0);
    ASSERT_TRUE(unit.waitFor("link.state", "plugged"));
    EXPECT_EQ(OctoGetResult(block.data()), 0);
}

struct LineFaultCase {
    const char* name;
    std::vector<std::string> settings;
    const char* counter; // the state key that shows the fault happened
    bool mustSucceed;    // the fault never breaks a frame: every operation succeeds
};

TEST_F(FaultTest, NoiseBurstsAndStallsNeverYieldAFalseSuccessAndNoCallOverrunsItsBound) {
    const std::vector<LineFaultCase> cases = {
        {"idle-line noise with false frame starts", {"fault.noise=200"}, "link.noise_bytes", true},
        {"bursts of 16 to 64 lost bytes", {"fault.burst=0.0005"}, "link.bursts", false},
        {"stalls longer than an answer's wait",
         {"fault.stall=0.01", "fault.stall_ms=300"},
         "link.stalls",
         false},
    };
    constexpr uint32_t kSockets = 8;
    constexpr uint32_t kRunTenths = 50;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> settings = {"dump_targets=yes", "target.all.type=ZEL816 A449",
                                             "target.all.memory=random", "fault.seed=21"};
        settings.insert(settings.end(), c.settings.begin(), c.settings.end());
        SimulatedUnit unit(settings);
        int32_t opened = 1;
        for (int attempt = 0; attempt < 3 && opened != 0; ++attempt) {
            opened = InitCom(unit.link().c_str(), kRate);
        }
        ASSERT_EQ(opened, 0);
        Operations operations(unit, kRate);
        const auto path = unit.folder() / "readout.txt";
        const std::vector<std::pair<const char*, std::function<Outcome()>>> steps = {
            {"erase", [&] { return operations.eraseImage(); }},
            {"load",
             [&] { return operations.loadImage(samplePath("A449_full.hex"), "ZEL816 A449"); }},
            {"run", [&] { return operations.mainProcess(kRunTenths, kSockets); }},
            {"supply", [&] { return operations.setSupply(30); }},
            {"read-out", [&] { return operations.readOut(3, 0x1000, 0xF000, path); }},
            {"result", [&] { return operations.getResult(); }},
        };
        for (const auto& [what, step] : steps) {
            const Outcome outcome = step();
            EXPECT_TRUE(outcome.truthful) << what << ": " << outcome.detail;
            EXPECT_EQ(outcome.overrunMs(), 0) << what;
            if (c.mustSucceed) {
                EXPECT_EQ(outcome.code, 0) << what << ": " << lastText();
            }
        }
        EXPECT_NE(unit.state(c.counter), "0");
        report(c.name);
    }
}

TEST_F(FaultTest, AnUnplugThatResetsTheUnitsRateFailsTheLoadAndTheNextLoadFindsTheUnit) {
    // At 9600 the unit comes back at its power-on rate, 115200: the library must find it
    // there and bring it back, without InitCom.
    constexpr uint32_t kSlowRate = 9600;
    SimulatedUnit unit(
        {"fault.unplug_resets=yes", "unplug.after_bytes=30000", "unplug.for_ms=300"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kSlowRate), 0);
    ASSERT_EQ(unit.state("unit.baud"), "9600");
    Operations operations(unit, kSlowRate);
    ASSERT_EQ(operations.eraseImage().code, 0);
    const Outcome cut = operations.loadImage(samplePath("A449_full.hex"), "ZEL816 A449");
    EXPECT_EQ(cut.code, 6) << lastText();
    EXPECT_EQ(cut.overrunMs(), 0);
    EXPECT_TRUE(cut.truthful) << cut.detail;
    // The library may notice the hang-up before the unit has written its state.
    ASSERT_TRUE(unit.waitFor("link.unplugs", "1"));
    ASSERT_TRUE(unit.waitFor("link.state", "plugged"));
    EXPECT_EQ(unit.state("unit.baud"), "115200");

    EXPECT_EQ(operations.eraseImage().code, 0) << lastText();
    const Outcome loaded = operations.loadImage(samplePath("A449_full.hex"), "ZEL816 A449");
    EXPECT_EQ(loaded.code, 0) << lastText();
    EXPECT_TRUE(loaded.truthful) << loaded.detail;
    EXPECT_EQ(unit.state("unit.baud"), "9600");
    EXPECT_EQ(unit.state("unit.power_cycles"), "1");
}

} // namespace
} // namespace octo::testing

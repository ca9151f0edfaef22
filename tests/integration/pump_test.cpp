// The caller's message pump under torture while a call waits for the unit: every export
// called from inside it, and a handler that blocks for seconds. The outer call ends as
// if nothing had happened, and the unit and the link serve the next call.
#include "LibraryFixture.h"

#include "support/EveryExport.h"

#include <chrono>
#include <thread>

namespace octo::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long the blocking handler holds the pump.
constexpr std::chrono::milliseconds kBlock{2000};
// An erase the unit takes this long for: the call pumps many times while it waits.
constexpr char kSlowErase[] = "timing.erase_image_ms=300";
constexpr char kRealTime[] = "time_scale=1";
constexpr char kSample[] = "A110_blink.txt";
constexpr char kType[] = "ZEL816 A110";
// The documented bound of OctoGetResult at 115200 (docs/library.md), in milliseconds.
constexpr long long kGetResultBoundMs = 6500;

ExportTable linkedExports() {
    ExportTable t;
#define OCTO_LINKED(name) t.name = &::name;
    OCTO816_EXPORTS(OCTO_LINKED)
#undef OCTO_LINKED
    return t;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PumpTest : public SimulatedUnitTest {
protected:
    // The library keeps the slot chosen before, the new unit starts at slot 0: both agree.
    void startUnit(const std::vector<std::string>& settings) {
        ASSERT_NO_FATAL_FAILURE(start(settings));
        ASSERT_EQ(OctoSelectImage(0), 0);
    }

    // The unit answers and the slot it holds is the sample, complete.
    void expectUnitServes() {
        std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
        EXPECT_EQ(OctoGetResult(block.data()), 0);
        ASSERT_EQ(OctoLoadImage(samplePath(kSample).c_str(), kType), 0) << lastText();
        EXPECT_EQ(unit->state("image.0.state"), "complete");
        EXPECT_TRUE(unit->slot(0) == imageOfFile(samplePath(kSample)));
    }
};

TEST_F(PumpTest, EveryExportCalledFromInsideThePumpIsRefusedButTheTwoWithoutState) {
    ASSERT_NO_FATAL_FAILURE(startUnit({kSlowErase, kRealTime}));
    const auto scratch = unit->folder() / "never_written.txt";
    ExportCodes codes;
    onPump = [&] {
        if (codes.empty()) {
            codes = callEveryExport(linkedExports(), scratch.string(), unit->link());
        }
    };
    EXPECT_EQ(OctoEraseImage(), 0) << lastText();
    onPump = nullptr;
    ASSERT_EQ(codes.size(), 22u);
    for (const auto& [name, code] : codes) {
        EXPECT_EQ(code, codeInsideThePump(name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch));
    EXPECT_EQ(unit->state("image.0.state"), "erased");
    EXPECT_EQ(unit->state("unit.baud"), std::to_string(kRate));
    ASSERT_NO_FATAL_FAILURE(expectUnitServes());
}

struct BlockCase {
    const char* what;
    int blockAtPump; // the pump call that blocks, from 1
};

class BlockingHandler : public PumpTest, public ::testing::WithParamInterface<BlockCase> {};

// A handler that holds the pump for 2 s at the start of a wait, in the middle of a long
// one, and in the middle of a stream of image data.
TEST_P(BlockingHandler, TheCallEndsWellAndTheLinkServesAfterwards) {
    ASSERT_NO_FATAL_FAILURE(startUnit({kSlowErase, kRealTime}));
    int pumpCalls = 0;
    onPump = [&] {
        if (++pumpCalls == GetParam().blockAtPump) {
            std::this_thread::sleep_for(kBlock);
        }
    };
    const auto started = Clock::now();
    const std::string what = GetParam().what;
    int32_t code = -1;
    if (what == "erase") {
        code = OctoEraseImage();
    } else {
        ASSERT_EQ(OctoEraseImage(), 0);
        pumpCalls = 0;
        code = OctoLoadImage(samplePath(kSample).c_str(), kType);
    }
    const long long took = msSince(started);
    onPump = nullptr;
    EXPECT_EQ(code, 0) << lastText();
    EXPECT_GE(pumpCalls, GetParam().blockAtPump);
    EXPECT_GE(took, kBlock.count());
    ASSERT_NO_FATAL_FAILURE(expectUnitServes());
}

INSTANTIATE_TEST_SUITE_P(Waits, BlockingHandler,
                         ::testing::Values(BlockCase{"erase", 1}, BlockCase{"erase", 10},
                                           BlockCase{"load", 1}, BlockCase{"load", 3}),
                         [](const auto& info) {
                             return std::string(info.param.what) + "_at_pump_" +
                                    std::to_string(info.param.blockAtPump);
                         });

TEST_F(PumpTest, AShortCallWhoseAnswerComesDuringTheBlockEndsWithinItsBoundPlusTheBlock) {
    // Paced: the answer takes line time, so the call waits and pumps.
    ASSERT_NO_FATAL_FAILURE(startUnit({"pace=yes"}));
    bool blocked = false;
    onPump = [&] {
        if (!blocked) {
            blocked = true;
            std::this_thread::sleep_for(kBlock);
        }
    };
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    const auto started = Clock::now();
    const int32_t code = OctoGetResult(block.data());
    const long long took = msSince(started);
    onPump = nullptr;
    EXPECT_TRUE(blocked);
    EXPECT_EQ(code, 0);
    EXPECT_LE(took, kGetResultBoundMs + kBlock.count());
    EXPECT_EQ(OctoSelectImage(2), 0);
    EXPECT_EQ(unit->state("image.selected"), "2");
}

} // namespace
} // namespace octo::testing

// The report's statistics at known values and on constructed sequences.
#include "yield/YieldStats.h"

#include <gtest/gtest.h>

#include <vector>

namespace octo::yield {
namespace {

TEST(YieldStats, WilsonIntervalKeepsItsEndsAtZeroAndAllAndMatchesKnownValues) {
    const struct {
        uint64_t passed, n;
        double low, high;
    } cases[] = {
        {0, 10, 0.0, 0.277533},          {10, 10, 0.722467, 1.0}, {8, 10, 0.490162, 0.943317},
        {990, 1000, 0.981691, 0.994559}, {0, 0, 0.0, 1.0},
    };
    for (const auto& c : cases) {
        const Interval i = wilsonInterval(c.passed, c.n);
        EXPECT_NEAR(i.low, c.low, 1e-5) << c.passed << " of " << c.n;
        EXPECT_NEAR(i.high, c.high, 1e-5) << c.passed << " of " << c.n;
    }
    EXPECT_EQ(wilsonInterval(0, 7).low, 0.0);
    EXPECT_EQ(wilsonInterval(7, 7).high, 1.0);
}

TEST(YieldStats, FisherUpperTailAtKnownValues) {
    const struct {
        uint64_t x, total, failures, draws;
        double p;
    } cases[] = {
        {4, 8, 4, 4, 1.0 / 70}, // all four failures in the one socket's draws
        {3, 8, 4, 4, 17.0 / 70},
        {1, 8, 4, 4, 69.0 / 70}, // below the mode: one minus the lower tail
        {0, 8, 4, 4, 1.0},
        {5, 8, 4, 4, 0.0},        // more than can be
        {2, 10, 8, 4, 1.0},       // at least two of four must come from eight of ten
        {1, 2400, 1, 300, 0.125}, // one failure, none among the others
        {30, 2400, 51, 300, 2.11398e-15},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(fisherUpperTail(c.x, c.total, c.failures, c.draws), c.p, c.p * 1e-4)
            << c.x << " of " << c.draws << " from " << c.failures << "/" << c.total;
    }
}

std::vector<uint8_t> sequence(size_t zeros, size_t ones, size_t period) {
    std::vector<uint8_t> s(zeros, 0);
    for (size_t i = 0; i < ones; ++i) {
        s.push_back(i % period == 0 ? 1 : 0);
    }
    return s;
}

TEST(YieldStats, ClimbStartIsTheRunWhereTheRateRose) {
    EXPECT_EQ(climbStart(sequence(500, 60, 2)), 500u);
    EXPECT_EQ(climbStart(sequence(0, 1000, 20)), 0u);   // one rate throughout
    EXPECT_EQ(climbStart(sequence(1000, 0, 1)), 0u);    // never failed
    std::vector<uint8_t> falling = sequence(0, 500, 2); // the rate fell: no climb
    falling.resize(1500, 0);
    EXPECT_EQ(climbStart(falling), 0u);
}

TEST(YieldStats, ASocketFailingMoreThanTheOthersSinceARunIsAlarmedFromThatRun) {
    constexpr int kSockets = 8;
    constexpr size_t kRuns = 1200;
    constexpr size_t kWornFrom = 900;
    std::vector<uint8_t> failed(kRuns * kSockets, 0);
    for (size_t r = 0; r < kRuns; ++r) {
        failed[r * kSockets + (r % 97 % kSockets)] = r % 97 < kSockets ? 1 : 0; // a few each
        if (r >= kWornFrom && r % 4 == 0) {
            failed[r * kSockets + 5] = 1;
        }
    }
    for (int s = 0; s < kSockets; ++s) {
        const SocketTest test = testSocket(failed, kSockets, s);
        EXPECT_EQ(test.alarm, s == 5) << "socket " << s + 1 << " p " << test.pValue;
        if (s == 5) {
            EXPECT_EQ(test.since, kWornFrom);
            EXPECT_EQ(test.runs, kRuns - kWornFrom);
            EXPECT_LT(test.pValue, kFamilyLevel);
        }
    }
}

} // namespace
} // namespace octo::yield

// The report's statistics at known values and on constructed histories whose answers follow
// from the rules.
#include "yield/YieldStats.h"

#include <gtest/gtest.h>

#include <cmath>
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

// A stretch of a socket's runs among seven other sockets in use: the socket failing in
// `own` of every 1000 runs, the others in `others` of every 1000 of their chips, each spread
// evenly (the socket's failures half a period after the others').
struct Stretch {
    size_t runs = 0;
    uint64_t own = 0;
    uint64_t others = 0;
};

std::vector<SocketRun> history(std::initializer_list<Stretch> stretches) {
    std::vector<SocketRun> runs;
    for (const Stretch& s : stretches) {
        for (uint64_t r = 0; r < s.runs; ++r) {
            const auto spread = [](uint64_t run, uint64_t perMille, uint64_t offset) {
                return ((run + 1) * perMille + offset) / 1000 - (run * perMille + offset) / 1000;
            };
            runs.push_back({.failed = static_cast<uint8_t>(spread(r, s.own, 500)),
                            .othersFailed = static_cast<uint8_t>(spread(r, 7 * s.others, 0)),
                            .othersInUse = 7});
        }
    }
    return runs;
}

// A socket failing alone (the others passing) in the last `lone` of `runs` runs; before, the
// others fail now and then and the socket never.
std::vector<SocketRun> loneFailuresAtTheEnd(size_t runs, size_t lone) {
    std::vector<SocketRun> h = history({{.runs = runs - lone, .own = 0, .others = 10}});
    h.resize(runs, {.failed = 1, .othersFailed = 0, .othersInUse = 7});
    return h;
}

// Each lone failure (the socket's chip failed, the seven others passed) weighs
// ln(3 * 8 / (3 + 7)) = 0.875 for a climb of 3 times (1.5 times the least ratio of 2); the
// alarm needs ln(8 / 0.01) = 6.68: eight in a row are enough, seven are not, however long
// the healthy history before them.
TEST(FindClimb, TheEvidenceNeededDoesNotGrowWithTheHistory) {
    const struct {
        size_t runs, lone;
        bool alarm;
        double pValue;
    } cases[] = {
        {8, 8, true, 8 / std::pow(2.4, 8)}, // from the first run on
        {1000, 7, false, 8 / std::pow(2.4, 7)},   {1000, 8, true, 8 / std::pow(2.4, 8)},
        {125000, 7, false, 8 / std::pow(2.4, 7)}, {125000, 8, true, 8 / std::pow(2.4, 8)},
    };
    for (const auto& c : cases) {
        const SocketFinding f = findClimb(loneFailuresAtTheEnd(c.runs, c.lone));
        EXPECT_EQ(f.alarm, c.alarm) << c.lone << " of " << c.runs;
        EXPECT_NEAR(f.pValue, c.pValue, c.pValue * 1e-9) << c.lone << " of " << c.runs;
        if (c.alarm) {
            EXPECT_EQ(f.since, c.runs - c.lone);
            EXPECT_EQ(f.runs, c.lone);
            EXPECT_EQ(f.failures, c.lone);
            EXPECT_EQ(f.othersChips, 7 * c.lone);
            EXPECT_EQ(f.othersFailures, 0u);
        }
    }
}

// 10,000 runs of a socket steadily worse than the others: the evidence is plain in each (the
// socket fails at more than 1.8 times the others), so the rule's least effect decides.
TEST(FindClimb, AlarmsOnlyOnTheLeastEffectThatMatters) {
    const AlarmRule usual;
    const struct {
        const char* what;
        uint64_t own, others; // per mille
        AlarmRule rule;
        bool alarm;
    } cases[] = {
        {"2.1 times, 2.2 points", 42, 20, usual, true},
        {"1.9 times, 1.8 points", 38, 20, usual, false},
        {"1.9 times against a least ratio of 1.5", 38, 20, {.minRatio = 1.5, .minPoints = 1}, true},
        {"7 times, 1.2 points", 14, 2, usual, true},
        {"5 times, 0.8 points", 10, 2, usual, false},
        {"5 times, 0.8 points against a least 0.5 points",
         10,
         2,
         {.minRatio = 2, .minPoints = 0.5},
         true},
        {"the same as the others", 20, 20, usual, false},
    };
    for (const auto& c : cases) {
        const SocketFinding f =
            findClimb(history({{.runs = 10000, .own = c.own, .others = c.others}}), c.rule);
        EXPECT_EQ(f.alarm, c.alarm) << c.what;
        // Nothing climbed: since lies within the stretch's first runs (before its first
        // failures, evenly spread, the rate looks lower).
        EXPECT_LT(f.since, 100u) << c.what;
    }
}

// At the edge: over 3200 runs the socket fails in every 16th from the first on (6.25 %), the
// others in 7 of every 32 of their chips (3.125 %): exactly 2 times and 3.125 points, since
// the first run (a failure opens each of the socket's periods, so its rate never climbs).
TEST(FindClimb, TheLeastEffectHoldsAtItsEdge) {
    std::vector<SocketRun> runs(3200, {.failed = 0, .othersFailed = 0, .othersInUse = 7});
    for (size_t r = 0; r < runs.size(); ++r) {
        runs[r].failed = r % 16 == 0 ? 1 : 0;
        runs[r].othersFailed = r % 32 % 4 == 1 && r % 32 < 28 ? 1 : 0;
    }
    const struct {
        AlarmRule rule;
        bool alarm;
    } cases[] = {
        {{.minRatio = 2, .minPoints = 3.125}, true},
        {{.minRatio = 2.01, .minPoints = 3.125}, false},
        {{.minRatio = 2, .minPoints = 3.13}, false},
    };
    for (const auto& c : cases) {
        const SocketFinding f = findClimb(runs, c.rule);
        EXPECT_EQ(f.alarm, c.alarm) << c.rule.minRatio << " " << c.rule.minPoints;
        EXPECT_EQ(f.since, 0u);
        EXPECT_EQ(f.failures, 200u);
        EXPECT_EQ(f.othersFailures, 700u);
        EXPECT_EQ(f.othersChips, 22400u);
    }
}

// A batch of bad chips hits every socket of its runs: the socket's rate climbs with the
// others', so it is no climb of the socket, wherever in the history it lies.
TEST(FindClimb, ABatchThatHitsEverySocketRaisesNothing) {
    const struct {
        const char* what;
        std::vector<SocketRun> runs;
        bool alarm;
    } cases[] = {
        {"the last 300 runs 20 % everywhere",
         history(
             {{.runs = 3000, .own = 10, .others = 10}, {.runs = 300, .own = 200, .others = 200}}),
         false},
        {"the last 300 runs 20 % in this socket alone",
         history(
             {{.runs = 3000, .own = 10, .others = 10}, {.runs = 300, .own = 200, .others = 10}}),
         true},
        {"a batch at 10 % everywhere, then healthy",
         history({{.runs = 1000, .own = 10, .others = 10},
                  {.runs = 500, .own = 100, .others = 100},
                  {.runs = 3000, .own = 10, .others = 10}}),
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findClimb(c.runs).alarm, c.alarm) << c.what;
    }
}

// Since: where the socket's own failures climbed, among the runs the evidence may start at,
// so that an earlier batch that hit every socket does not draw it back.
TEST(FindClimb, SinceIsWhereTheSocketClimbed) {
    const struct {
        const char* what;
        std::vector<SocketRun> runs;
        size_t since;
    } cases[] = {
        {"1 % to 10 % at run 2000",
         history(
             {{.runs = 2000, .own = 10, .others = 10}, {.runs = 300, .own = 100, .others = 10}}),
         2000},
        {"the same after a batch at 10 % everywhere",
         history({{.runs = 500, .own = 10, .others = 10},
                  {.runs = 500, .own = 100, .others = 100},
                  {.runs = 1000, .own = 10, .others = 10},
                  {.runs = 300, .own = 100, .others = 10}}),
         2000},
        {"1 % to 3 % at run 20,000",
         history(
             {{.runs = 20000, .own = 10, .others = 10}, {.runs = 2000, .own = 30, .others = 10}}),
         20000},
    };
    for (const auto& c : cases) {
        const SocketFinding f = findClimb(c.runs);
        EXPECT_TRUE(f.alarm) << c.what;
        // Within one period of the worn rate: the evenly spread failures leave the split's
        // place that open.
        EXPECT_NEAR(static_cast<double>(f.since), static_cast<double>(c.since), 35) << c.what;
        EXPECT_EQ(f.runs, c.runs.size() - f.since) << c.what;
    }
}

// A socket steadily a little worse than the others climbs from its usual ratio: at 1.5 times
// before, 2.2 times over the last 3000 runs is a climb of less than 1.5 (quiet); from 1 time,
// the same stretch alarms. Worse than that usual ratio from its start, a socket still alarms.
TEST(FindClimb, ASocketClimbsFromItsUsualRatio) {
    const struct {
        const char* what;
        std::vector<SocketRun> runs;
        bool alarm;
    } cases[] = {
        {"usually 1.5 times",
         history(
             {{.runs = 20000, .own = 15, .others = 10}, {.runs = 3000, .own = 22, .others = 10}}),
         false},
        {"usually as the others",
         history(
             {{.runs = 20000, .own = 10, .others = 10}, {.runs = 3000, .own = 22, .others = 10}}),
         true},
        {"1.3 times over 125,000 runs", history({{.runs = 125000, .own = 13, .others = 10}}),
         false},
        {"5 times from its start", history({{.runs = 3000, .own = 50, .others = 10}}), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findClimb(c.runs).alarm, c.alarm) << c.what;
    }
}

// Nothing to compare with is no evidence.
TEST(FindClimb, NoAlarmWithoutOtherSocketsOrRuns) {
    EXPECT_FALSE(findClimb({}).alarm);
    const std::vector<SocketRun> alone(100, {.failed = 1, .othersFailed = 0, .othersInUse = 0});
    const SocketFinding f = findClimb(alone);
    EXPECT_FALSE(f.alarm);
    EXPECT_EQ(f.pValue, 1.0);
    // Every chip of every run failed: the socket failed no more than the others.
    const std::vector<SocketRun> all(100, {.failed = 1, .othersFailed = 7, .othersInUse = 7});
    EXPECT_FALSE(findClimb(all).alarm);
}

} // namespace
} // namespace octo::yield

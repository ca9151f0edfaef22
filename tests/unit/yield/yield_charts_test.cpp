// The small multiples of the page, from reports built by hand: which sockets get a chart,
// where the change point and the maintenance stand, one scale per unit, and the page's bound.
#include "yield/YieldCharts.h"
#include "yield/YieldOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <regex>
#include <set>

namespace octo::yield {
namespace {

constexpr int64_t kStart = 1796688000; // 2026-12-08T00:00:00Z
constexpr size_t kPointRuns = 100;

struct Chart {
    std::string unit;
    int socket = 0;
    std::string svg;
};

std::vector<Chart> chartsOf(const std::string& html) {
    static const std::regex open(
        R"re(<svg class="socket-trend" data-unit="([^"]*)" data-socket="(\d+)")re");
    std::vector<Chart> charts;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), open);
         it != std::sregex_iterator(); ++it) {
        const size_t at = static_cast<size_t>(it->position());
        charts.push_back(
            {(*it)[1], std::stoi((*it)[2]), html.substr(at, html.find("</svg>", at) - at)});
    }
    return charts;
}

std::vector<double> numbers(const std::string& text, const std::regex& pattern) {
    std::vector<double> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.push_back(std::stod((*it)[1]));
    }
    return found;
}

// The x of each line of a kind (change-point, maintenance) on a chart.
std::vector<double> linesAt(const Chart& chart, const std::string& kind) {
    return numbers(chart.svg, std::regex("<line class=\"" + kind + "\" x1=\"([0-9.]+)\""));
}

// The socket's bars: where its points begin and the last one ends, and their tops.
struct Bars {
    std::vector<double> edges;
    std::vector<double> tops;
};
Bars barsOf(const Chart& chart) {
    std::smatch bars;
    if (!std::regex_search(chart.svg, bars,
                           std::regex(R"re(<path class="own[^"]*" d="([^"]*)")re"))) {
        return {};
    }
    const std::string d = bars[1];
    Bars found{numbers(d, std::regex(R"(^M([0-9.]+))")), numbers(d, std::regex(R"(V([0-9.]+)H)"))};
    for (const double x : numbers(d, std::regex(R"(H([0-9.]+))"))) {
        found.edges.push_back(x);
    }
    return found;
}

// The labels of a chart's scale, in percent: 0, half its top and its top.
std::vector<double> scaleOf(const Chart& chart) {
    return numbers(chart.svg, std::regex(R"re(<text class="scale"[^>]*>([0-9.]+) %</text>)re"));
}

// A unit whose sockets in use have a point each kPointRuns runs, each failing `failed` of
// its chips there, against the others' `othersFailed` of theirs.
UnitReport unitOf(const std::string& name, const std::set<int>& inUse, size_t points = 4,
                  uint64_t failed = 1, uint64_t othersFailed = 7) {
    UnitReport unit;
    unit.unit = name;
    unit.runs = points * kPointRuns;
    for (const int socket : inUse) {
        const auto s = static_cast<size_t>(socket - 1);
        unit.inUse[s] = unit.runs;
        for (size_t i = 0; i < points; ++i) {
            unit.trends[s].points.push_back({.firstRun = i * kPointRuns,
                                             .chips = kPointRuns,
                                             .failed = failed,
                                             .othersChips = kPointRuns * (inUse.size() - 1),
                                             .othersFailed = othersFailed});
        }
    }
    return unit;
}

std::string pageOf(std::vector<UnitReport> units) {
    Report report;
    report.units = std::move(units);
    return reportHtml(report);
}

const std::set<int> kAll = {1, 2, 3, 4, 5, 6, 7, 8};

Alarm alarmOf(int socket, size_t sinceRun, std::optional<uint64_t> runNumber = std::nullopt) {
    Alarm alarm;
    alarm.socket = socket;
    alarm.since = kStart + static_cast<int64_t>(sinceRun) * 30;
    alarm.sinceRun = sinceRun;
    alarm.sinceRunNumber = runNumber;
    return alarm;
}

TEST(YieldCharts, EverySocketInUseHasAChartAndNoOtherDoes) {
    const std::string name = "<U&\"1'>";
    const struct {
        const char* what;
        std::set<int> inUse;
        int pointless = 0;    // a socket in use without points
        int notInUseWith = 0; // a socket with points that was never in use
        int oneRun = 0;       // a socket in use in one run only
        std::set<int> charts;
    } cases[] = {
        {"all eight", kAll, 0, 0, 0, kAll},
        {"socket 7 taped off", {1, 2, 3, 4, 5, 6, 8}, 0, 0, 0, {1, 2, 3, 4, 5, 6, 8}},
        {"one socket", {3}, 0, 0, 0, {3}},
        {"none", {}, 0, 0, 0, {}},
        {"in use but no points", {1, 2}, 2, 0, 0, {1, 2}},
        {"points but never in use", {1, 2}, 0, 5, 0, {1, 2}},
        {"in use in one run", {1, 2}, 0, 0, 2, {1, 2}},
    };
    for (const auto& c : cases) {
        UnitReport unit = unitOf(name, c.inUse);
        if (c.pointless != 0) {
            unit.trends[static_cast<size_t>(c.pointless - 1)].points.clear();
        }
        if (c.notInUseWith != 0) {
            unit.trends[static_cast<size_t>(c.notInUseWith - 1)] = unitOf(name, kAll).trends[0];
        }
        if (c.oneRun != 0) {
            unit.inUse[static_cast<size_t>(c.oneRun - 1)] = 1;
        }
        const std::string html = pageOf({unit});
        std::set<int> drawn;
        for (const Chart& chart : chartsOf(html)) {
            drawn.insert(chart.socket);
            const std::string at = std::string(c.what) + ", socket " + std::to_string(chart.socket);
            EXPECT_EQ(chart.unit, "&lt;U&amp;&quot;1&#39;&gt;") << at;
            const bool pointless = chart.socket == c.pointless;
            EXPECT_EQ(chart.svg.find("no runs to show") != std::string::npos, pointless) << at;
            EXPECT_EQ(chart.svg.find("class=\"own") == std::string::npos, pointless) << at;
            // A socket alone has no others to compare with.
            const bool alone = c.inUse.size() == 1;
            EXPECT_EQ(chart.svg.find("class=\"others\"") == std::string::npos, alone || pointless)
                << at;
            EXPECT_EQ(chart.svg.find("no other socket in use") != std::string::npos, alone) << at;
        }
        EXPECT_EQ(drawn, c.charts) << c.what;
        EXPECT_EQ(html.find("<U&"), std::string::npos) << c.what;
        EXPECT_EQ(html.find("<div class=\"trends\">") != std::string::npos, !c.charts.empty())
            << c.what;
    }
}

// The plot's edges, from its grid (the zero line first, the top last): left, top, right and
// bottom.
std::array<double, 4> plotOf(const Chart& chart) {
    std::smatch grid;
    if (!std::regex_search(
            chart.svg, grid,
            std::regex(R"re(<path class="grid" d="M(\d+) (\d+)H(\d+)M[^"]*M\d+ (\d+)H)re"))) {
        ADD_FAILURE() << "no grid: " << chart.svg;
        return {};
    }
    return {std::stod(grid[1]), std::stod(grid[4]), std::stod(grid[3]), std::stod(grid[2])};
}

TEST(YieldCharts, BarsSpanTheUnitsRunsAndReadAsTheirRatesOnTheScale) {
    UnitReport unit = unitOf("U", kAll);
    const std::vector<uint64_t> socket1 = {5, 1, 1, 10}; // of 100 chips: the scale goes to 10 %
    for (size_t i = 0; i < socket1.size(); ++i) {
        unit.trends[0].points[i].failed = socket1[i];
    }
    // Socket 3 was not in use in the second and third points; the others of socket 4 had
    // no chips in the third.
    for (const size_t i : {1, 2}) {
        unit.trends[2].points[i].chips = unit.trends[2].points[i].failed = 0;
    }
    unit.trends[3].points[2].othersChips = unit.trends[3].points[2].othersFailed = 0;
    for (const Chart& chart : chartsOf(pageOf({unit}))) {
        const std::string at = "socket " + std::to_string(chart.socket);
        const auto [left, top, right, bottom] = plotOf(chart);
        // Inside the chart, upright.
        std::smatch box;
        ASSERT_TRUE(
            std::regex_search(chart.svg, box, std::regex(R"re(viewBox="0 0 (\d+) (\d+)")re")));
        EXPECT_TRUE(0 < left && left < right && right <= std::stod(box[1])) << at;
        EXPECT_TRUE(0 < top && top < bottom && bottom <= std::stod(box[2])) << at;
        // Each label of the scale stands at its line: the zero line, the middle and the top.
        EXPECT_EQ(numbers(chart.svg, std::regex(R"re(<text class="scale"[^>]* y="([0-9.]+)")re")),
                  (std::vector<double>{bottom, (top + bottom) / 2, top}))
            << at;
        const auto [edges, tops] = barsOf(chart);
        ASSERT_EQ(edges.size(), 5u) << at;
        EXPECT_EQ(edges.front(), left) << at;
        EXPECT_EQ(edges.back(), right) << at;
        ASSERT_EQ(scaleOf(chart).back(), 10) << at;
        std::vector<double> rates;
        for (const double y : tops) {
            rates.push_back(std::round(10 * (bottom - y) / (bottom - top)));
        }
        const std::vector<double> expected = chart.socket == 1   ? std::vector<double>{5, 1, 1, 10}
                                             : chart.socket == 3 ? std::vector<double>{1, 0, 0, 1}
                                                                 : std::vector<double>{1, 1, 1, 1};
        EXPECT_EQ(rates, expected) << at;
        // The grey bands cover the stretch not in use, and nothing else.
        const std::vector<double> bandsAt =
            numbers(chart.svg, std::regex(R"re(<rect class="idle" x="([0-9.]+)")re"));
        const std::vector<double> widths =
            numbers(chart.svg, std::regex(R"re(<rect class="idle"[^>]* width="([0-9.]+)")re"));
        if (chart.socket == 3) {
            ASSERT_EQ(bandsAt.size(), 2u);
            EXPECT_NEAR(bandsAt[0], edges[1], 0.06);
            EXPECT_NEAR(bandsAt[1] + widths[1], edges[3], 0.06);
            // From the top of the plot to its zero line.
            EXPECT_EQ(numbers(chart.svg, std::regex(R"re(<rect class="idle"[^>]* y="(\d+)")re")),
                      std::vector<double>(2, top));
            EXPECT_EQ(
                numbers(chart.svg, std::regex(R"re(<rect class="idle"[^>]* height="(\d+)")re")),
                std::vector<double>(2, bottom - top));
        } else {
            EXPECT_TRUE(bandsAt.empty()) << at;
        }
        // The others' line is broken where they had no chips.
        std::smatch others;
        ASSERT_TRUE(std::regex_search(chart.svg, others,
                                      std::regex(R"re(<path class="others" d="([^"]*)")re")));
        const std::string d = others[1];
        EXPECT_EQ(std::count(d.begin(), d.end(), 'M'), chart.socket == 4 ? 2 : 1) << at << d;
    }
}

// The x of run r: where its point's bar begins, and as far into it as r is into the point.
double xOfRun(const std::vector<double>& edges, size_t run) {
    const size_t i = run / kPointRuns;
    return edges.at(i) + (edges.at(i + 1) - edges.at(i)) * static_cast<double>(run % kPointRuns) /
                             static_cast<double>(kPointRuns);
}

TEST(YieldCharts, TheChangePointStandsOnTheAlarmedSocketsChartAtItsRun) {
    const struct {
        const char* what;
        std::vector<std::pair<int, size_t>> alarms; // socket, sinceRun
    } cases[] = {
        {"no alarm", {}},
        {"socket 3 from its third point on", {{3, 200}}},
        {"socket 8 from the first run", {{8, 0}}},
        {"socket 1 from inside a point", {{1, 250}}},
        {"the last run", {{6, 399}}},
        {"two sockets", {{2, 120}, {5, 300}}},
    };
    for (const auto& c : cases) {
        UnitReport unit = unitOf("U-0002", kAll);
        for (const auto& [socket, since] : c.alarms) {
            unit.alarms.push_back(alarmOf(socket, since, 1000 + since));
        }
        const std::vector<Chart> charts = chartsOf(pageOf({unit}));
        ASSERT_EQ(charts.size(), 8u) << c.what;
        for (const Chart& chart : charts) {
            std::vector<double> expected;
            for (const auto& [socket, since] : c.alarms) {
                if (socket == chart.socket) {
                    expected.push_back(xOfRun(barsOf(chart).edges, since));
                    EXPECT_NE(chart.svg.find("(run " + std::to_string(1000 + since) + ")"),
                              std::string::npos)
                        << c.what;
                }
            }
            const std::vector<double> at = linesAt(chart, "change-point");
            ASSERT_EQ(at.size(), expected.size()) << c.what << ", socket " << chart.socket;
            for (size_t i = 0; i < at.size(); ++i) {
                EXPECT_NEAR(at[i], expected[i], 0.06) << c.what;
            }
            EXPECT_EQ(chart.svg.find(": alarm</text>") != std::string::npos, !expected.empty())
                << c.what << ", socket " << chart.socket;
        }
    }
}

TEST(YieldCharts, MaintenanceIsMarkedOnItsSocketsChartAtTheFirstRunAfterIt) {
    // A note whose first kMarkNoteBytes end inside a character of 3 bytes: the cut is before
    // it.
    std::string longNote = "a";
    std::string cutNote;
    for (size_t i = 0; i < kMarkNoteBytes; ++i) {
        if (i == (kMarkNoteBytes - 1) / 3) {
            cutNote = longNote;
        }
        longNote += "✓";
    }
    const auto mark = [](int64_t hour, size_t beforeRun, std::string note) {
        return MaintenanceMark{.time = kStart + hour * 3600, .beforeRun = beforeRun, .note = note};
    };
    std::vector<MaintenanceMark> seven;
    for (int i = 7; i >= 1; --i) { // given latest first: the earliest two are not marked
        seven.push_back(mark(i, 50 * static_cast<size_t>(i), "visit " + std::to_string(i)));
    }
    const struct {
        const char* what;
        std::vector<MaintenanceMark> marks; // on socket 2
        std::vector<size_t> runs;           // the runs marked, in time order
        std::vector<std::string> titles;
        std::vector<std::string> absent;
    } cases[] = {
        {"none", {}, {}, {}, {}},
        {"contacts cleaned",
         {mark(1, 100, "contacts cleaned")},
         {100},
         {"maintenance 2026-12-08T01:00:00Z: contacts cleaned</title>"},
         {}},
        {"without a note", {mark(2, 0, "")}, {0}, {"maintenance 2026-12-08T02:00:00Z</title>"}, {}},
        {"after the last run", {mark(3, 400, "x")}, {400}, {}, {}},
        {"a note to escape", {mark(1, 150, "<b>&")}, {150}, {": &lt;b&gt;&amp;</title>"}, {"<b>&"}},
        {"a note at the bound, whole",
         {mark(1, 10, std::string(kMarkNoteBytes, 'n'))},
         {10},
         {": " + std::string(kMarkNoteBytes, 'n') + "</title>"},
         {"…"}},
        {"a long note, cut between characters",
         {mark(1, 10, longNote)},
         {10},
         {": " + cutNote + "…</title>"},
         {cutNote + "✓"}},
        {"seven: the latest five",
         seven,
         {150, 200, 250, 300, 350},
         {"visit 3<", "visit 7<"},
         {"visit 1<", "visit 2<"}},
    };
    for (const auto& c : cases) {
        UnitReport unit = unitOf("U", kAll);
        unit.trends[1].maintenance = c.marks;
        unit.alarms.push_back(alarmOf(2, 200));
        for (const Chart& chart : chartsOf(pageOf({unit}))) {
            const std::vector<double> at = linesAt(chart, "maintenance");
            if (chart.socket != 2) {
                EXPECT_TRUE(at.empty()) << c.what << ", socket " << chart.socket;
                continue;
            }
            ASSERT_EQ(at.size(), c.runs.size()) << c.what;
            const std::vector<double> edges = barsOf(chart).edges;
            for (size_t i = 0; i < at.size(); ++i) {
                const double expected = c.runs[i] == 400 ? edges.back() : xOfRun(edges, c.runs[i]);
                EXPECT_NEAR(at[i], expected, 0.06) << c.what;
            }
            for (const std::string& title : c.titles) {
                EXPECT_NE(chart.svg.find(title), std::string::npos) << c.what << ": " << title;
            }
            for (const std::string& text : c.absent) {
                EXPECT_EQ(chart.svg.find(text), std::string::npos) << c.what << ": " << text;
            }
            EXPECT_EQ(linesAt(chart, "change-point").size(), 1u) << c.what;
        }
    }
}

TEST(YieldCharts, AUnitsChartsShareOneScaleThatHoldsTheirRates) {
    const struct {
        const char* what;
        uint64_t failed;        // of each point's 100 chips, on socket 4
        uint64_t othersFailed;  // of the others' 700
        uint64_t lastChips = 0; // the last point's chips, when it is short
        uint64_t lastFailed = 0;
        double top; // percent
    } cases[] = {
        {"nothing failed", 0, 0, 0, 0, 1},
        {"1 %", 1, 0, 0, 0, 1},
        {"a little over 1 %", 2, 7, 0, 0, 2},
        {"5 %", 5, 7, 0, 0, 5},
        {"11 %", 11, 7, 0, 0, 15},
        {"the others worse", 1, 210, 0, 0, 30},
        {"all failed", 100, 700, 0, 0, 100},
        {"a short last point does not set it", 5, 7, 2, 1, 5},
        {"a last point of enough chips does", 5, 7, 20, 10, 50},
    };
    for (const auto& c : cases) {
        UnitReport unit = unitOf("A", kAll, 4, 0, 0);
        for (TrendPoint& p : unit.trends[3].points) {
            p.failed = c.failed;
        }
        for (TrendPoint& p : unit.trends[6].points) {
            p.othersFailed = c.othersFailed;
        }
        if (c.lastChips != 0) {
            unit.trends[3].points.back().chips = c.lastChips;
            unit.trends[3].points.back().failed = c.lastFailed;
        }
        // Another unit on the page keeps a scale of its own.
        const std::vector<Chart> charts = chartsOf(pageOf({unit, unitOf("B", kAll, 4, 1, 7)}));
        ASSERT_EQ(charts.size(), 16u) << c.what;
        for (const Chart& chart : charts) {
            const double top = chart.unit == "A" ? c.top : 1;
            EXPECT_EQ(scaleOf(chart), (std::vector<double>{0, top / 2, top}))
                << c.what << ", unit " << chart.unit << " socket " << chart.socket;
        }
    }
    // On a unit with only short points, they set the scale.
    UnitReport few = unitOf("C", {1, 2}, 1, 1, 0);
    for (SocketTrend& t : few.trends) {
        for (TrendPoint& p : t.points) {
            p.chips = p.othersChips = 2;
        }
    }
    for (const Chart& chart : chartsOf(pageOf({few}))) {
        EXPECT_EQ(scaleOf(chart), (std::vector<double>{0, 25, 50})) << chart.socket;
    }
}

TEST(YieldCharts, ManyPointsAreMergedAndThePageStaysBounded) {
    // 600 points of 10 runs, every tenth with all its chips failed: merged to 60 bars of
    // 100 runs, each 10 % failed; the socket's rate over all stays 10 %.
    UnitReport unit = unitOf("U", kAll, 0);
    unit.runs = 6000;
    unit.inUse.fill(unit.runs);
    for (size_t i = 0; i < 600; ++i) {
        unit.trends[0].points.push_back(
            {.firstRun = i * 10, .chips = 10, .failed = i % 10 == 0 ? 10u : 0u});
    }
    const std::vector<Chart> charts = chartsOf(pageOf({unit}));
    ASSERT_FALSE(charts.empty());
    EXPECT_EQ(barsOf(charts[0]).edges.size(), kChartPoints + 1);
    EXPECT_NE(charts[0].svg.find(": 10.0 % of its chips failed"), std::string::npos);
    EXPECT_EQ(scaleOf(charts[0]), (std::vector<double>{0, 5, 10}));
    // One point too many: merged in pairs.
    unit.trends[0].points.resize(kChartPoints + 1);
    EXPECT_EQ(barsOf(chartsOf(pageOf({unit}))[0]).edges.size(), (kChartPoints + 1 + 1) / 2 + 1);

    // The worst page: every unit with a panel, every socket in use and alarmed, far more
    // points and marks than are drawn, long notes and names of characters to escape.
    const std::string amps(kMaxNameBytes, '&');
    UnitReport worst = unitOf(amps, kAll, 0);
    worst.runs = 1'000'000;
    worst.inUse.fill(worst.runs);
    for (SocketTrend& t : worst.trends) {
        for (size_t i = 0; i < 1000; ++i) {
            t.points.push_back({.firstRun = i * 997,
                                .chips = 997,
                                .failed = i % 7,
                                .othersChips = 6979,
                                .othersFailed = i % 13});
        }
        for (size_t i = 0; i < 20; ++i) {
            t.maintenance.push_back({.time = kStart + static_cast<int64_t>(i),
                                     .beforeRun = i * 49999,
                                     .note = std::string(200, '&')});
        }
    }
    for (int s = 1; s <= kSockets; ++s) {
        worst.alarms.push_back(alarmOf(s, 123457, 99999999));
    }
    // What the charts add to the page, at most (docs/yield-report.md gives it).
    EXPECT_LT(socketTrends(worst).size() * kMostUnits, size_t{8} << 20)
        << socketTrends(worst).size();
}

} // namespace
} // namespace octo::yield

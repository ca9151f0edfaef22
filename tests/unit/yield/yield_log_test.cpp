// The yield report from log text: the versions of the log, malformed lines, the stages of an
// older log, --since, an empty log, and what the page and the JSON show.
#include "support/YieldLogs.h"
#include "trace/trace_log.h"
#include "yield/YieldOutput.h"

#include <gtest/gtest.h>

#include <sstream>

namespace octo::yield {
namespace {

// The second version of the header: unit, run and serial.
const std::string kNewHeader =
    "time,station,firmware,hardware,device_type,image_crc32,target,connected,"
    "erase_checked,verified,secured,passed,result_code,unit,run,serial\n";
const std::string kOldHeader = trace::firstHeaderLine() + "\n";

// A line of the older log: time, station, socket and the five flags.
std::string oldLine(const std::string& time, const std::string& station, int socket,
                    const std::string& flags) {
    return time + "," + station + ",1.56,1.30,ZEL816 A110,037874A1," + std::to_string(socket) +
           "," + flags + ",0\n";
}

Report reportOf(const std::string& log, std::optional<int64_t> since = std::nullopt) {
    std::istringstream in(log);
    Aggregator aggregator(since);
    aggregator.read(in, "a.csv");
    return aggregator.finish();
}

const char* kT1 = "2026-12-08T06:00:00Z";
const char* kT2 = "2026-12-08T06:00:30Z";

TEST(YieldLog, BothVersionsOfTheLogGiveTheirUnitsAndRuns) {
    // The older log: the station is the unit, lines of one time one run; socket 2 is the
    // only one without a line at kT2, so its chip was not found.
    std::string oldLog = kOldHeader;
    for (int socket = 1; socket <= kSockets; ++socket) {
        oldLog += oldLine(kT1, "st", socket, "1,1,1,0,1") +
                  (socket == 2 ? "" : oldLine(kT2, "st", socket, "1,1,1,0,1"));
    }
    Report old = reportOf(oldLog);
    ASSERT_EQ(old.units.size(), 1u);
    EXPECT_EQ(old.units[0].unit, "st");
    EXPECT_EQ(old.runs, 2u);
    EXPECT_EQ(old.units[0].sockets[1].at(Stage::NotFound), 1u);
    EXPECT_EQ(old.chips, 16u);

    // The newer log: the unit's serial and its run count; the same time in two runs.
    const std::string line = kT1 + std::string(",st,1.56,1.30,ZEL816 A110,037874A1,");
    Report now = reportOf(kNewHeader + line + "1,1,1,1,0,1,0,U-77,41,S1\n" + line +
                          "1,1,1,1,0,1,0,U-77,42,S2\n" + line + "1,1,1,1,0,1,0,,42,S3\n");
    ASSERT_EQ(now.units.size(), 2u);
    EXPECT_EQ(now.units[0].unit, "U-77");
    EXPECT_EQ(now.units[0].runs, 2u);
    EXPECT_EQ(now.units[1].unit, "st"); // no serial: the station
}

TEST(YieldLog, TimesAreReadAsUtcAndWrittenBackTheSame) {
    const struct {
        const char* text;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-08T06:52:55Z", 1796712775},
        {"2026-01-31T12:00:00Z", 1769860800},
        {"2026-03-01T00:00:00Z", 1772323200},
        {"2028-02-29T23:59:59Z", 1835481599},
        {"2000-02-29T00:00:00Z", 951782400},
        {"2026-12-08", 1796688000},
        {"2026-02-29T00:00:00Z", std::nullopt},
        {"2100-02-29T00:00:00Z", std::nullopt},
        {"2028-02-30T00:00:00Z", std::nullopt},
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-00-10T00:00:00Z", std::nullopt},
        {"2026-12-00T00:00:00Z", std::nullopt},
        {"2026-12-08T24:00:00Z", std::nullopt},
        {"2026-12-08T06:60:00Z", std::nullopt},
        {"2026-12-08T06:52:55", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseTime(c.text), c.seconds) << c.text;
        if (c.seconds && std::string_view(c.text).size() > 10) {
            EXPECT_EQ(timeText(*c.seconds), c.text);
        }
    }
}

TEST(YieldLog, MalformedLinesAreCountedWithFileAndLineAndSkipped) {
    const std::string good = oldLine(kT1, "st", 8, "1,1,1,0,1");
    const struct {
        std::string line;
        const char* reason;
    } cases[] = {
        {"2026-12-08T06:00:00Z,st,1.56\n", "3 fields where the header has 13"},
        {oldLine("2026-12-08 06:00:00", "st", 2, "1,1,1,0,1"), "time \"2026-12-08 06:00:00\""},
        {oldLine("2026-02-30T06:00:00Z", "st", 2, "1,1,1,0,1"), "time"},
        {oldLine(kT1, "st", 9, "1,1,1,0,1"), "target \"9\" is not 1 to 8"},
        {oldLine(kT1, "st", 2, "1,1,2,0,1"), "flag \"2\" is not 0 or 1"},
        {oldLine(kT1, "\"st", 2, "1,1,1,0,1"), "a quote is not closed"},
        {oldLine(kT1, "st", 8, "1,1,1,0,1"), "socket 8 of this run has a line already"},
        {std::string(kMaxLineBytes + 1, 'x') + "\n", "longer than 4096 bytes"},
        {kT1 + std::string(",st,1.56,1.30,A,12345,2,1,1,1,0,1,0\n"), "image_crc32 \"12345\""},
        // A field whose quotes hold a line break: the second line alone would be socket 5's.
        {kT1 + std::string(",st,1.56,1.30,A,,2,1,1,1,0,1,\"0\n") + kT1 +
             ",st,1.56,1.30,A,,5,1,1,1,0,1,0\"\n",
         "a quoted field holds a line break (lines 3 to 4)"},
    };
    for (const auto& c : cases) {
        const Report report =
            reportOf(kOldHeader + good + c.line + oldLine(kT1, "st", 3, "1,1,1,0,1"));
        EXPECT_EQ(report.malformedCount, 1u) << c.reason;
        ASSERT_EQ(report.malformed.size(), 1u) << c.reason;
        EXPECT_EQ(report.malformed[0].file + ":" + std::to_string(report.malformed[0].line),
                  "a.csv:3");
        EXPECT_NE(report.malformed[0].reason.find(c.reason), std::string::npos)
            << report.malformed[0].reason;
        EXPECT_EQ(report.units.at(0).sockets[2].passed(), 1u) << c.reason;
        // Nothing of the malformed line is read (its run has too few chips for a socket
        // without one to count).
        EXPECT_EQ(report.units[0].sockets[4].chips, 0u) << c.reason;
        EXPECT_EQ(report.chips, 2u) << c.reason;
        EXPECT_NE(reportHtml(report).find("<li>a.csv:3: "), std::string::npos) << c.reason;
    }
    const std::string run = kT1 + std::string(",st,1.56,1.30,A,,1,1,1,1,0,1,0,U,");
    EXPECT_NE(reportOf(kNewHeader + run + "x,S\n").malformed.at(0).reason.find("run \"x\""),
              std::string::npos);
    EXPECT_NE(reportOf("time,station\n" + good).malformed.at(0).reason.find("no column"),
              std::string::npos);
}

TEST(YieldLog, EachChipOfAnOlderLogGoesToTheFirstStageItFailed) {
    const struct {
        const char* flags; // connected, erase_checked, verified, secured, passed
        Stage stage;
    } cases[] = {
        {"1,1,1,0,1", Stage::Passed},       {"1,1,1,1,1", Stage::Passed},
        {"0,0,0,1,0", Stage::NotConnected}, {"1,0,0,0,0", Stage::EraseCheck},
        {"1,1,0,0,0", Stage::Verify},       {"1,1,1,0,0", Stage::Secure},
        {"1,1,1,1,0", Stage::Secure},
    };
    for (const auto& c : cases) {
        const Report report = reportOf(kOldHeader + oldLine(kT1, "st", 4, c.flags));
        const SocketCounts& socket = report.units.at(0).sockets[3];
        EXPECT_EQ(socket.at(c.stage), 1u) << c.flags;
        EXPECT_EQ(socket.chips, 1u);
        // The other seven sockets of the run were empty together: not in use.
        EXPECT_EQ(report.units[0].sockets[0].chips, 0u);
        EXPECT_EQ(report.chips, 1u);
        EXPECT_EQ(report.passed, c.stage == Stage::Passed ? 1u : 0u);
    }
}

TEST(YieldLog, SinceLeavesOutEarlierRunsAndAnEmptyLogGivesAnEmptyReport) {
    const std::string log =
        kOldHeader + oldLine(kT1, "st", 1, "1,1,1,0,1") + oldLine(kT2, "st", 1, "1,1,0,0,0");
    const Report since = reportOf(log, parseTime(kT2));
    EXPECT_EQ(since.runs, 1u);
    EXPECT_EQ(since.passed, 0u);
    EXPECT_EQ(reportOf(log, parseTime("2026-12-08")).runs, 2u);

    for (const std::string& empty : {std::string(), kOldHeader}) {
        const Report report = reportOf(empty);
        EXPECT_EQ(reportJson(report), "{\"runs\":0,\"chips\":0,\"first_pass_yield\":0,\"units\":[],"
                                      "\"serials_on_two_chips\":[],\"asked\":{}}\n");
        EXPECT_NE(reportHtml(report).find("id=\"no-alarms\""), std::string::npos);
        EXPECT_EQ(report.malformedCount, 0u);
    }
}

TEST(YieldLog, TheJsonHasTheCountsOfEachSocketUnderItsKeys) {
    const Report report = reportOf(kOldHeader + oldLine(kT1, "st", 2, "1,1,0,0,0") +
                                   oldLine(kT1, "st", 1, "1,1,1,0,1"));
    const std::string json = reportJson(report);
    EXPECT_EQ(json.substr(0, json.find("\"sockets\"")),
              "{\"runs\":1,\"chips\":2,\"first_pass_yield\":0.5,\"units\":[{\"unit\":\"st\","
              "\"runs\":1,");
    EXPECT_NE(json.find("{\"socket\":2,\"chips\":1,\"passed\":0,\"not_found\":0,\"not_connected\":"
                        "0,\"erase_check\":0,\"verify\":1,\"secure\":0,\"erase_or_program\":0,"
                        "\"in_use\":1}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"socket\":3,\"chips\":0,\"passed\":0,\"not_found\":0,\"not_connected\":"
                        "0,\"erase_check\":0,\"verify\":0,\"secure\":0,\"erase_or_program\":0,"
                        "\"in_use\":0}"),
              std::string::npos);
    size_t sockets = 0;
    for (size_t at = json.find("\"in_use\":"); at != std::string::npos;
         at = json.find("\"in_use\":", at + 1)) {
        ++sockets;
    }
    EXPECT_EQ(sockets, 8u);
    EXPECT_NE(json.find("\"sockets\":[{\"socket\":1,\"chips\":1,\"passed\":1,"), std::string::npos);
    EXPECT_NE(json.find("],\"alarms\":[],\"empty_stretches\":[]}],\"serials_on_two_chips\":[],"
                        "\"asked\":{\"\":1}}"),
              std::string::npos)
        << json;
    // The page's socket chart has the eight sockets on a yield axis that ends at 100 %.
    const std::string html = reportHtml(report);
    size_t columns = 0;
    for (size_t at = html.find(">socket "); at != std::string::npos;
         at = html.find(">socket ", at + 1)) {
        ++columns;
    }
    EXPECT_EQ(columns, 8u);
    EXPECT_NE(html.find(">100.0%</text>"), std::string::npos);
}

TEST(YieldLog, ThePageEscapesEveryTextFromTheLog) {
    const std::string hostile = "<script>alert(1)</script>&\"'";
    const Report report = reportOf(
        kOldHeader +
        oldLine(kT1, "\"" + std::string("<script>alert(1)</script>&\"\"'") + "\"", 1, "1,1,1,0,1"));
    ASSERT_EQ(report.units.at(0).unit, hostile);
    const std::string html = reportHtml(report);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;&#39;"),
              std::string::npos);
    // A terminal gets no escape sequence from a station's name.
    const std::string log =
        testing::lineLog({.station = "a\x1b[2Jb", .runs = 1000, .wornSocket = 2, .wornFrom = 500});
    EXPECT_NE(reportText(reportOf(log)).find("Unit a\\x1B[2Jb, socket 2: "), std::string::npos);
}

// A line of the newer log: unit, run, socket, passed or not, and the record.
std::string recordLine(const std::string& unit, int run, int socket, bool passed,
                       const std::string& serial, const std::string& type = "ZEL816 A110") {
    return kT1 + std::string(",st,1.56,1.30,") + type + ",037874A1," + std::to_string(socket) +
           (passed ? ",1,1,1,0,1,0," : ",1,1,0,0,0,0,") + unit + "," + std::to_string(run) + "," +
           serial + "\n";
}

Report reportOfLogs(const std::vector<std::pair<std::string, std::string>>& logs) {
    Aggregator aggregator;
    for (const auto& [name, text] : logs) {
        std::istringstream in(text);
        aggregator.read(in, name);
    }
    return aggregator.finish();
}

TEST(YieldLog, WhatALineAddsIsBoundedByNamesUnitsAndProducts) {
    const std::string name128(kMaxNameBytes, 'n');
    std::string units = kNewHeader;
    std::string products = kNewHeader;
    for (size_t i = 0; i <= kMostUnits; ++i) {
        units += recordLine("U" + std::to_string(i), 1, 1, true, "");
    }
    for (size_t i = 0; i <= kMostProducts; ++i) {
        products += recordLine("U", static_cast<int>(i), 1, true, "", "T" + std::to_string(i));
    }
    const struct {
        const char* what;
        std::string log;
        size_t units, otherUnits, products, otherProducts, malformed, runs;
    } cases[] = {
        {"a name at the bound", kNewHeader + recordLine(name128, 1, 1, true, ""), 1, 0, 1, 0, 0, 1},
        {"a unit's name past it", kNewHeader + recordLine(name128 + "n", 1, 1, true, ""), 0, 0, 0,
         0, 1, 0},
        {"a device type past it", kNewHeader + recordLine("U", 1, 1, true, "", name128 + "t"), 0, 0,
         0, 0, 1, 0},
        {"a record past 32 bytes", kNewHeader + recordLine("U", 1, 1, true, std::string(65, 'a')),
         0, 0, 0, 0, 1, 0},
        {"one unit more than have panels", units, kMostUnits, 1, 1, 0, 0, kMostUnits + 1},
        {"one product more than have rows", products, 1, 0, kMostProducts + 1, 1, 0,
         kMostProducts + 1},
    };
    for (const auto& c : cases) {
        const Report report = reportOf(c.log);
        EXPECT_EQ(report.units.size(), c.units) << c.what;
        EXPECT_EQ(report.otherUnits, c.otherUnits) << c.what;
        EXPECT_EQ(report.products.size(), c.products) << c.what;
        EXPECT_EQ(report.otherProducts, c.otherProducts) << c.what;
        EXPECT_EQ(report.malformedCount, c.malformed) << c.what;
        // Every run is counted, in a panel or summed.
        EXPECT_EQ(report.runs, c.runs) << c.what;
        EXPECT_EQ(report.others.runs, c.otherUnits) << c.what;
        const std::string html = reportHtml(report);
        EXPECT_EQ(html.find("<tr id=\"other-products\"><td colspan=\"2\">" +
                            std::to_string(c.otherProducts) + " other device types") !=
                      std::string::npos,
                  c.otherProducts > 0)
            << c.what;
        EXPECT_EQ(html.find("<section class=\"unit\" id=\"other-units\"><h2>" +
                            std::to_string(c.otherUnits) + " other units") != std::string::npos,
                  c.otherUnits > 0)
            << c.what;
    }
}

TEST(YieldLog, ARecordOnTwoPassedChipsIsFoundAcrossTheLogs) {
    const std::string a = kNewHeader + recordLine("U1", 41, 3, true, "0a000000") +
                          recordLine("U1", 41, 4, true, "0b000000") +
                          recordLine("U1", 41, 5, false, "0c000000");
    const struct {
        const char* what;
        std::string b;
        const char* found; // the record found twice, or "" for none
        size_t chips;
    } cases[] = {
        {"the same record on another unit", kNewHeader + recordLine("U2", 7, 1, true, "0a000000"),
         "0a000000", 2},
        {"written in capitals", kNewHeader + recordLine("U2", 7, 1, true, "0B000000"), "0b000000",
         2},
        {"on a chip that failed", kNewHeader + recordLine("U2", 7, 1, false, "0a000000"), "", 0},
        {"a failed chip's record on a passed one",
         kNewHeader + recordLine("U2", 7, 1, true, "0c000000"), "", 0},
        {"the same log twice", a, "", 0},
        {"chips without a record", kNewHeader + recordLine("U2", 7, 1, true, ""), "", 0},
        {"three chips",
         kNewHeader + recordLine("U2", 7, 1, true, "0a000000") +
             recordLine("U2", 8, 1, true, "0a000000"),
         "0a000000", 3},
    };
    for (const auto& c : cases) {
        const Report report = reportOfLogs({{"a.csv", a}, {"b.csv", c.b}});
        const std::string json = reportJson(report);
        if (*c.found == '\0') {
            EXPECT_TRUE(report.serialsOnTwoChips.empty()) << c.what;
            EXPECT_NE(json.find("\"serials_on_two_chips\":[],"), std::string::npos) << c.what;
            continue;
        }
        ASSERT_EQ(report.serialsOnTwoChips.size(), 1u) << c.what;
        EXPECT_EQ(report.serialsOnTwoChips[0].serial, c.found) << c.what;
        EXPECT_EQ(report.serialsOnTwoChips[0].chips.size(), c.chips) << c.what;
        EXPECT_NE(reportHtml(report).find("<tr class=\"serial-twice\" data-serial=\"" +
                                          std::string(c.found) + "\"><td>"),
                  std::string::npos)
            << c.what;
    }
    // Each chip with where its line is.
    const Report report = reportOfLogs(
        {{"a.csv", a}, {"b.csv", kNewHeader + "\n" + recordLine("U2", 7, 1, true, "0a000000")}});
    const std::string json = reportJson(report);
    EXPECT_NE(json.find("\"serials_on_two_chips\":[{\"serial\":\"0a000000\",\"chips\":["
                        "{\"unit\":\"U1\",\"run\":41,\"socket\":3,\"time\":\"2026-12-08T06:"
                        "00:00Z\",\"file\":\"a.csv\",\"line\":2},{\"unit\":\"U2\",\"run\":7,"
                        "\"socket\":1,\"time\":\"2026-12-08T06:00:00Z\",\"file\":\"b.csv\","
                        "\"line\":3}]}],"),
              std::string::npos)
        << json;
    EXPECT_EQ(report.serialChips, 3u);
    EXPECT_NE(reportText(report).find("record 0a000000 on 2 passed chips: unit U1 run 41 socket 3 "
                                      "(a.csv:2), unit U2 run 7 socket 1 (b.csv:3)\n"),
              std::string::npos)
        << reportText(report);
    EXPECT_NE(reportHtml(report).find("<p class=\"meta\">2 units</p>"), std::string::npos);
}

TEST(YieldLog, ChipsPastTheListedOnesAreCounted) {
    std::string log = kNewHeader;
    for (size_t run = 0; run < kListedSerialChips + 2; ++run) {
        log += recordLine("U", static_cast<int>(run), 1, true, "ff");
    }
    const Report report = reportOf(log);
    ASSERT_EQ(report.serialsOnTwoChips.size(), 1u);
    EXPECT_EQ(report.serialsOnTwoChips[0].chips.size(), kListedSerialChips);
    EXPECT_EQ(report.unlistedSerialChips, 2u);
    EXPECT_NE(reportJson(report).find("\"serials_on_two_chips_unlisted\":2,"), std::string::npos);
}

// A record whose quoted field runs over lines is one record up to the line bound, and
// past it the quote is its first line's fault alone.
TEST(YieldLog, AQuotedLineBreakJoinsLinesUpToTheLineBound) {
    const std::string start = kT1 + std::string(",\"");
    const std::string end = "\",1.56,1.30,A,,2,1,1,1,0,1,0\n";
    // Its middle line a quote written twice, which stands for itself; the last line's
    // length brings the record, with its two line breaks, to the bound.
    const size_t rest = kMaxLineBytes - start.size() - 4 - (end.size() - 1);
    const struct {
        size_t lastLine;
        const char* reason;
        uint64_t malformed;
    } cases[] = {
        {rest, "a quoted field holds a line break (lines 2 to 4)", 1},
        {rest + 1, "a quote is not closed", 3},
    };
    for (const auto& c : cases) {
        const Report report =
            reportOf(kOldHeader + start + "\n\"\"\n" + std::string(c.lastLine, 's') + end);
        EXPECT_EQ(report.malformedCount, c.malformed) << c.lastLine;
        ASSERT_FALSE(report.malformed.empty());
        EXPECT_EQ(report.malformed[0].line, 2u);
        EXPECT_EQ(report.malformed[0].reason, c.reason);
    }
}

TEST(YieldLog, AWornSocketOfAGeneratedLogIsTheOnlyAlarmAndItsSinceIsNearTheChange) {
    // The sockets at the ends are alarmed as the others are.
    for (const int socket : {1, 8}) {
        const Report report = reportOf(
            testing::lineLog({.runs = 2300, .wornSocket = socket, .wornFrom = 2000, .seed = 7}));
        ASSERT_EQ(report.units.at(0).alarms.size(), 1u) << socket;
        EXPECT_EQ(report.units[0].alarms[0].socket, socket);
    }
    const Report report =
        reportOf(testing::lineLog({.runs = 2300, .wornSocket = 6, .wornFrom = 2000, .seed = 7}));
    ASSERT_EQ(report.units.size(), 1u);
    const auto& alarms = report.units[0].alarms;
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].socket, 6);
    EXPECT_NEAR(static_cast<double>(alarms[0].sinceRun), 2000, 100);
    EXPECT_GT(alarms[0].failureRate, alarms[0].othersRate);
    EXPECT_EQ(timeText(alarms[0].since),
              timeText(parseTime("2026-12-08T00:00:00Z").value() +
                       int64_t{30} * static_cast<int64_t>(alarms[0].sinceRun)));
}

} // namespace
} // namespace octo::yield

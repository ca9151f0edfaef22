// Which sockets the report counts, in which order, at which stage, and since when it looks at
// a socket: small logs whose answers are worked out by hand, in the log's newest form (asked,
// found) and in its oldest.
#include "trace/trace_log.h"
#include "yield/YieldOutput.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <sstream>

namespace octo::yield {
namespace {

const int64_t kStart = parseTime("2026-12-08T00:00:00Z").value();
constexpr int64_t kSecondsPerRun = 30;

// One socket's line in the newest log. What: P a chip passed, F failed at verify, C not
// connected (found secured), . no chip (found = 0).
std::string newLine(int64_t time, std::optional<uint64_t> run, int socket, char what,
                    const std::string& asked = "ecpv", const std::string& unit = "U") {
    const char* flags = what == 'P'   ? "1,1,1,0,1"
                        : what == 'F' ? "1,1,0,0,0"
                        : what == 'C' ? "0,0,0,1,0"
                                      : "0,0,0,0,0";
    return timeText(time) + ",st,1.56,1.30,ZEL816 A110,037874A1," + std::to_string(socket) + "," +
           flags + ",0," + unit + "," + (run ? std::to_string(*run) : "") + ",," + asked + "," +
           (what == '.' ? "0" : "1") + "\n";
}

// The same in the oldest log, whose station is the unit; it has no line for a socket
// without a chip.
std::string oldLine(int64_t time, int socket, char what) {
    const char* flags = what == 'P' ? "1,1,1,0,1" : what == 'F' ? "1,1,0,0,0" : "0,0,0,1,0";
    return timeText(time) + ",U,1.56,1.30,ZEL816 A110,037874A1," + std::to_string(socket) + "," +
           flags + ",0\n";
}

enum class Form { Newest, Oldest };

// Runs 30 s apart, numbered from 1, each a letter per socket 1..8: as newLine, and - for no
// line at all.
std::string logOf(const std::vector<std::string>& runs, Form form) {
    std::string log =
        (form == Form::Newest ? trace::headerLine() : trace::firstHeaderLine()) + "\n";
    for (size_t r = 0; r < runs.size(); ++r) {
        const int64_t time = kStart + static_cast<int64_t>(r) * kSecondsPerRun;
        for (int s = 1; s <= kSockets; ++s) {
            const char what = runs[r][static_cast<size_t>(s - 1)];
            if (what == '-' || (form == Form::Oldest && what == '.')) {
                continue;
            }
            log += form == Form::Newest ? newLine(time, r + 1, s, what) : oldLine(time, s, what);
        }
    }
    return log;
}

Report reportOf(const std::string& log, const std::string& maintenance = "", AlarmRule rule = {}) {
    Aggregator aggregator(std::nullopt, rule);
    if (!maintenance.empty()) {
        std::istringstream in(maintenance);
        aggregator.readMaintenance(in, "m.csv");
    }
    std::istringstream in(log);
    aggregator.read(in, "a.csv");
    return aggregator.finish();
}

// "8:4 2:3": each stretch's socket and runs.
std::string stretchesOf(const UnitReport& unit) {
    std::string text;
    for (const EmptyStretch& e : unit.emptyStretches) {
        text += (text.empty() ? "" : " ") + std::to_string(e.socket) + ":" + std::to_string(e.runs);
    }
    return text;
}

// "PPPPPPPP PPPP....": the runs of logOf, parted by spaces.
std::vector<std::string> runsOf(const std::string& text) {
    std::vector<std::string> runs;
    std::istringstream in(text);
    for (std::string run; in >> run;) {
        runs.push_back(run);
    }
    return runs;
}

// "33332222": a digit per socket.
std::string perSocket(const UnitReport& unit,
                      const std::function<uint64_t(const SocketCounts&)>& of) {
    std::string text;
    for (const SocketCounts& c : unit.sockets) {
        text += std::to_string(of(c));
    }
    return text;
}

TEST(YieldInUse, OnlyTheSocketsInUseCountAsChips) {
    enum Forms { Both, NewestOnly, OldestOnly };
    const struct {
        const char* what;
        const char* runs;
        Forms forms;
        const char* chips;    // per socket
        const char* notFound; // per socket
        const char* stretches;
    } cases[] = {
        {"full trays", "PPPPPPPP PPPPPPPP", Both, "22222222", "00000000", ""},
        {"a short last tray", "PPPPPPPP PPPPPPPP PPPP....", Both, "33332222", "00000000", ""},
        {"one socket without a chip is a chip not found", "PPPPPPPP PP.PPPPP PPPPPPPP", Both,
         "33333333", "00100000", ""},
        {"two runs in a row are no stretch yet", "PPPPPPP. PPPPPPP. PPPPPPPP", Both, "33333333",
         "00000002", ""},
        {"trays of 7 for four runs", "PPPPPPPP PPPPPPP. PPPPPPP. PPPPPPP. PPPPPPP. PPPPPPPP", Both,
         "66666662", "00000000", "8:4"},
        {"a stretch through a short tray", "PPPPPPP. PPPP.... PPPPPPP.", Both, "33332220",
         "00000000", "8:3"},
        // The dead socket is no neighbour that makes the worn one's miss a short tray.
        {"a dead socket beside a chip not found", "PPPPPPP. PP.PPPP. PPPPPPP. PPPPPPP.", Both,
         "44444440", "00100000", "8:4"},
        {"a chip ends a stretch", "PPPPPPP. PPPPPPP. PPPPPPPP PPPPPPP. PPPPPPP.", Both, "55555555",
         "00000004", ""},
        {"stretches at the start and the end, listed by socket",
         "PPPPPPP. PPPPPPP. PPPPPPP. PPPPPPPP .PPPPPPP .PPPPPPP .PPPPPPP", Both, "47777774",
         "00000000", "1:3 8:3"},
        {"failed and locked chips are chips", "PPPPPPPP FCPPPP.. PPPPPPPP PPPPPPP.", Both,
         "44444433", "00000001", ""},
        {"a socket without a line is not in use", "PPPPPPP- PPPPPPP- PPPPPPP-", NewestOnly,
         "33333330", "00000000", ""},
        {"an older log has no line for a socket without a chip", "PPPPPPP- PPPPPPP- PPPPPPP-",
         OldestOnly, "33333330", "00000000", "8:3"},
        {"a run without the socket's line passes over its stretch",
         "PPPPPPP. PPPPPPP- PPPPPPP. PPPPPPP.", NewestOnly, "44444440", "00000000", "8:3"},
        {"a run without a chip", "........ PPPPPPPP", NewestOnly, "11111111", "00000000", ""},
    };
    for (const auto& c : cases) {
        for (const Form form : {Form::Newest, Form::Oldest}) {
            if ((form == Form::Newest && c.forms == OldestOnly) ||
                (form == Form::Oldest && c.forms == NewestOnly)) {
                continue;
            }
            const std::string what =
                std::string(c.what) + (form == Form::Newest ? " (newest log)" : " (oldest log)");
            const Report report = reportOf(logOf(runsOf(c.runs), form));
            ASSERT_EQ(report.units.size(), 1u) << what;
            const UnitReport& unit = report.units[0];
            EXPECT_EQ(perSocket(unit, [](const SocketCounts& s) { return s.chips; }), c.chips)
                << what;
            EXPECT_EQ(perSocket(unit, [](const SocketCounts& s) { return s.at(Stage::NotFound); }),
                      c.notFound)
                << what;
            EXPECT_EQ(stretchesOf(unit), c.stretches) << what;
            // In use is chips; the totals, the products and the time count the same chips.
            uint64_t chips = 0;
            for (size_t s = 0; s < kSockets; ++s) {
                EXPECT_EQ(unit.inUse[s], unit.sockets[s].chips) << what;
                chips += static_cast<uint64_t>(c.chips[s] - '0');
            }
            uint64_t overTime = 0;
            for (const Bucket& b : report.buckets) {
                overTime += b.chips;
            }
            EXPECT_EQ(report.chips, chips) << what;
            EXPECT_EQ(report.products.at(0).chips, chips) << what;
            EXPECT_EQ(overTime, chips) << what;
        }
    }
}

TEST(YieldInUse, AStretchIsListedWithItsTimesInTheTextTheJsonAndThePage) {
    std::vector<std::string> runs(10, "PPPPPPPP");
    for (size_t r = 2; r < 6; ++r) {
        runs[r] = "PPPPPPP.";
    }
    const Report report = reportOf(logOf(runs, Form::Newest));
    const std::string sentence = "Unit U, socket 8: no chip in 4 runs in a row (2026-12-08 00:01 "
                                 "to 00:02), counted as not in use.";
    EXPECT_NE(reportText(report).find(sentence + "\n"), std::string::npos) << reportText(report);
    EXPECT_NE(reportHtml(report).find("<li class=\"empty-stretch\" data-unit=\"U\" "
                                      "data-socket=\"8\">" +
                                      sentence + "</li>"),
              std::string::npos);
    EXPECT_NE(reportJson(report).find(
                  "\"empty_stretches\":[{\"socket\":8,\"from\":\"2026-12-08T00:01:00Z\",\"to\":"
                  "\"2026-12-08T00:02:30Z\",\"runs\":4}]"),
              std::string::npos)
        << reportJson(report);
}

TEST(YieldInUse, OnlyTheLatestStretchesOfASocketAreListed) {
    // Stretches of 3 parted by one chip: kListedStretches + 1 of them.
    std::vector<std::string> runs;
    for (size_t i = 0; i < kListedStretches + 1; ++i) {
        runs.insert(runs.end(), {"PPPPPPP.", "PPPPPPP.", "PPPPPPP.", "PPPPPPPP"});
    }
    const Report report = reportOf(logOf(runs, Form::Newest));
    const UnitReport& unit = report.units.at(0);
    ASSERT_EQ(unit.emptyStretches.size(), kListedStretches);
    EXPECT_EQ(unit.unlistedStretches, 1u);
    EXPECT_EQ(unit.emptyStretches.back().to,
              kStart + static_cast<int64_t>(runs.size() - 2) * kSecondsPerRun);
    EXPECT_EQ(unit.sockets[7].chips, kListedStretches + 1);
    EXPECT_NE(reportJson(report).find("\"empty_stretches_unlisted\":1}"), std::string::npos);
    EXPECT_NE(
        reportText(report).find("Unit U: 1 earlier stretch of runs without a chip, not listed.\n"),
        std::string::npos);
}

TEST(YieldInUse, AChipFailsOnlyAtAStepItsRunAskedFor) {
    const struct {
        const char* asked; // nullptr: the oldest log, without the column
        const char* flags; // connected, erase_checked, verified, secured, passed
        Stage stage;
    } cases[] = {
        {"ecpv", "1,1,1,0,1", Stage::Passed},
        {"ecpv", "0,0,0,1,0", Stage::NotConnected},
        {"ecpv", "1,0,0,0,0", Stage::EraseCheck},
        {"epv", "1,0,0,0,0", Stage::Verify},
        {"ep", "1,0,0,0,0", Stage::EraseOrProgram},
        {"pv", "1,0,1,0,0", Stage::EraseOrProgram},
        {"ecpvs", "1,1,1,0,0", Stage::Secure},
        {"ecpvs", "1,0,1,0,0", Stage::EraseCheck},
        // Verified and never to be secured: it failed before, at a step without a flag.
        {"ecpv", "1,1,1,0,0", Stage::EraseOrProgram},
        {"ecpvs", "1,1,1,1,0", Stage::EraseOrProgram},
        // An empty field does not say, as an older log does not: every step asked.
        {"", "1,1,1,0,0", Stage::Secure},
        {"", "1,1,0,0,0", Stage::Verify},
        {nullptr, "1,1,1,0,0", Stage::Secure},
        {nullptr, "1,1,1,1,0", Stage::Secure},
        {nullptr, "1,0,0,0,0", Stage::EraseCheck},
    };
    for (const auto& c : cases) {
        const std::string log =
            c.asked == nullptr ? trace::firstHeaderLine() +
                                     "\n2026-12-08T00:00:00Z,U,1.56,1.30,A,,4," + c.flags + ",0\n"
                               : trace::headerLine() + "\n2026-12-08T00:00:00Z,U,1.56,1.30,A,,4," +
                                     c.flags + ",0,U,1,," + c.asked + ",1\n";
        const Report report = reportOf(log);
        const char* what = c.asked == nullptr ? "(no column)" : c.asked;
        ASSERT_EQ(report.malformedCount, 0u) << what << " " << c.flags;
        const SocketCounts& socket = report.units.at(0).sockets[3];
        EXPECT_EQ(socket.chips, 1u) << what << " " << c.flags;
        EXPECT_EQ(socket.at(c.stage), 1u) << what << " " << c.flags;
    }
}

TEST(YieldInUse, ThePageNamesTheStagesOfTheStepsSomeRunAsked) {
    const struct {
        std::vector<const char*> asked; // per run; nullptr: the oldest log
        const char* named;              // C erase check, E erase or program, V verify, S secure
        const char* askedJson;
    } cases[] = {
        {{"ecpv"}, "CEV", "{\"ecpv\":1}"},
        {{"epv", "ep"}, "EV", "{\"ep\":1,\"epv\":1}"},
        {{"cv"}, "CV", "{\"cv\":1}"},
        {{"ecpvs"}, "CEVS", "{\"ecpvs\":1}"},
        {{""}, "CVS", "{\"\":1}"},
        {{nullptr}, "CVS", "{\"\":1}"},
        {{nullptr, "p"}, "CEVS", "{\"\":1,\"p\":1}"},
    };
    for (const auto& c : cases) {
        Aggregator aggregator;
        for (size_t r = 0; r < c.asked.size(); ++r) {
            const std::string line = timeText(kStart + static_cast<int64_t>(r) * kSecondsPerRun) +
                                     ",U,1.56,1.30,A,,1,1,1,1,0,1,0";
            std::istringstream in(c.asked[r] == nullptr
                                      ? trace::firstHeaderLine() + "\n" + line + "\n"
                                      : trace::headerLine() + "\n" + line + ",U,,," + c.asked[r] +
                                            ",1\n");
            aggregator.read(in, "a.csv");
        }
        const Report report = aggregator.finish();
        const std::string html = reportHtml(report);
        std::string named;
        for (const auto& [letter, stage] :
             {std::pair{'C', "erase check"}, std::pair{'E', "erase or program"},
              std::pair{'V', "verify"}, std::pair{'S', "secure"}}) {
            const bool inTable =
                html.find("<th>" + std::string(stage) + "</th>") != std::string::npos;
            EXPECT_EQ(html.find("</i>" + std::string(stage) + "</span>") != std::string::npos,
                      inTable)
                << stage;
            named += inTable ? std::string(1, letter) : "";
        }
        const std::string label = c.asked[0] == nullptr ? "(no column)" : c.asked[0];
        EXPECT_EQ(named, c.named) << label;
        EXPECT_NE(html.find("<th>no target found</th><th>not connected</th>"), std::string::npos);
        EXPECT_NE(reportJson(report).find(std::string("\"asked\":") + c.askedJson + "}\n"),
                  std::string::npos)
            << label;
    }
}

TEST(YieldInUse, MalformedAskedAndFoundAreNamedAndSkipped) {
    const std::string start = "2026-12-08T00:00:00Z,st,1.56,1.30,A,,2,1,1,1,0,1,0,U,1,,";
    const struct {
        const char* end;    // asked,found
        const char* reason; // nullptr: read
    } cases[] = {
        {"ecpv,1", nullptr},
        {"s,1", nullptr},
        {",1", nullptr},
        {"ecpv,0", nullptr},
        {"ce,1", "asked \"ce\" is not steps e, c, p, v, s, each once and in that order"},
        {"eecpv,1", "asked \"eecpv\""},
        {"ECPV,1", "asked \"ECPV\""},
        {"ecpx,1", "asked \"ecpx\""},
        {"ecpv,2", "found \"2\" is not 0 or 1"},
        {"ecpv,", "found \"\" is not 0 or 1"},
    };
    for (const auto& c : cases) {
        const Report report = reportOf(trace::headerLine() + "\n" + start + c.end + "\n");
        if (c.reason == nullptr) {
            EXPECT_EQ(report.malformedCount, 0u) << c.end;
            EXPECT_EQ(report.runs, 1u) << c.end;
            continue;
        }
        EXPECT_EQ(report.runs, 0u) << c.end;
        ASSERT_EQ(report.malformed.size(), 1u) << c.end;
        EXPECT_EQ(report.malformed[0].line, 2u);
        EXPECT_NE(report.malformed[0].reason.find(c.reason), std::string::npos)
            << report.malformed[0].reason;
    }
}

TEST(YieldInUse, RunsAreInTimeOrderTheirNumbersOnlyBreakingTies) {
    const struct {
        const char* what;
        const char* runs; // seconds after kStart/the unit's run number/socket 8, in file order
        const char* stretches;
    } cases[] = {
        // In the order of their numbers the two days would alternate: no stretch.
        {"the count restarts at power-up", "0/1/P 30/2/P 60/3/P 86400/1/. 86430/2/. 86460/3/.",
         "8:3"},
        {"two days in the file's wrong order", "86400/1/. 86430/2/. 86460/3/. 0/1/P 30/2/P 60/3/P",
         "8:3"},
        // At 30 s run 2 comes before run 3, so that the chip parts the empty runs.
        {"a tie of times", "0/1/. 30/3/P 30/2/. 60/4/. 90/5/.", ""},
    };
    for (const auto& c : cases) {
        std::string log = trace::headerLine() + "\n";
        for (const std::string& run : runsOf(c.runs)) {
            int64_t time = 0;
            uint64_t number = 0;
            char socket8 = 0;
            ASSERT_EQ(
                std::sscanf(run.c_str(), "%" SCNd64 "/%" SCNu64 "/%c", &time, &number, &socket8),
                3);
            for (int s = 1; s <= kSockets; ++s) {
                log += newLine(kStart + time, number, s, s == kSockets ? socket8 : 'P');
            }
        }
        const Report report = reportOf(log);
        const UnitReport& unit = report.units.at(0);
        EXPECT_EQ(unit.runs, runsOf(c.runs).size()) << c.what;
        EXPECT_EQ(stretchesOf(unit), c.stretches) << c.what;
    }
}

// 400 runs of unit U, run r at kStart + 30 r numbered r + 1: each socket fails its verify
// once in 100 runs, and socket 3 every other run of [200, 300).
std::string wornLog(const char* unit = "U", bool othersFail = true) {
    std::string log = trace::headerLine() + "\n";
    for (int r = 0; r < 400; ++r) {
        for (int s = 1; s <= kSockets; ++s) {
            const bool worn = s == 3 && r >= 200 && r < 300 && r % 2 == 0;
            const bool base = othersFail && (7 * r + 13 * s) % 100 == 0;
            log += newLine(kStart + r * kSecondsPerRun, r + 1, s, worn || base ? 'F' : 'P', "ecpv",
                           unit);
        }
    }
    return log;
}

std::string maintenanceFile(const std::string& lines) {
    return "time,unit,socket,note\n" + lines;
}

// The time of run r of wornLog.
std::string runTime(int r) {
    return timeText(kStart + r * kSecondsPerRun);
}

TEST(YieldInUse, FilesWithWindowsLineEndsReadTheSame) {
    const auto crlf = [](std::string text) {
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
            text.insert(at, "\r");
        }
        return text;
    };
    const std::string log = logOf({"PPPPPPPP", "PPPPPPP.", "FPPPPPPP"}, Form::Newest);
    const Report windows = reportOf(crlf(log));
    EXPECT_EQ(windows.malformedCount, 0u);
    EXPECT_EQ(reportJson(windows), reportJson(reportOf(log)));
    // A maintenance file saved by a spreadsheet, its socket the last column.
    const Report serviced =
        reportOf(wornLog(), crlf("time,unit,note,socket\n" + runTime(300) + ",U,new,3\n"));
    EXPECT_EQ(serviced.malformedCount, 0u);
    EXPECT_TRUE(serviced.units.at(0).alarms.empty());
}

TEST(YieldInUse, ASocketsAlarmLooksAtItsRunsSinceItsLatestMaintenance) {
    const std::string kLongestNote(kMaxNoteBytes, 'n');
    const struct {
        const char* what;
        std::string lines;
        bool alarm;
        size_t sinceFrom;                  // the alarm's run at or after this
        std::optional<int64_t> maintained; // its maintenance_since
        std::string marks;                 // socket:beforeRun:note of each chart's marks
    } cases[] = {
        {"none", "", true, 150, std::nullopt, ""},
        {"socket 3 replaced after its wear", runTime(300) + ",U,3,new contacts\n", false, 0,
         std::nullopt, "3:300:new contacts"},
        {"every socket serviced", runTime(300) + ",U,all,s\n", false, 0, std::nullopt,
         "1:300:s 2:300:s 3:300:s 4:300:s 5:300:s 6:300:s 7:300:s 8:300:s"},
        {"sockets 1 and 8", runTime(300) + ",U,1,a\n" + runTime(300) + ",U,8,b\n", true, 150,
         std::nullopt, "1:300:a 8:300:b"},
        {"another unit's socket 3", runTime(300) + ",V,3,\n", true, 150, std::nullopt, ""},
        {"during the wear", runTime(250) + ",U,3,\n", true, 250, kStart + 250 * kSecondsPerRun,
         "3:250:"},
        {"the latest, whatever the file's order",
         runTime(300) + ",U,3,a\n" + runTime(100) + ",U,3,b\n" + runTime(300) + ",U,3,c\n", false,
         0, std::nullopt, "3:100:b 3:300:a 3:300:c"},
        {"a time between runs", timeText(kStart + 299 * kSecondsPerRun + 1) + ",U,3,\n", false, 0,
         std::nullopt, "3:300:"},
        {"a date: its midnight", "2026-12-08,U,3,\n", true, 150, kStart, "3:0:"},
        {"after the last run", runTime(500) + ",U,3,\n", false, 0, std::nullopt, "3:400:"},
        {"the longest note", runTime(300) + ",U,3," + kLongestNote + "\n", false, 0, std::nullopt,
         "3:300:" + kLongestNote},
    };
    for (const auto& c : cases) {
        const Report report = reportOf(wornLog(), c.lines.empty() ? "" : maintenanceFile(c.lines));
        ASSERT_EQ(report.malformedCount, 0u) << c.what;
        const UnitReport& unit = report.units.at(0);
        std::string marks;
        for (size_t s = 0; s < kSockets; ++s) {
            for (const MaintenanceMark& m : unit.trends[s].maintenance) {
                marks += (marks.empty() ? "" : " ") + std::to_string(s + 1) + ":" +
                         std::to_string(m.beforeRun) + ":" + m.note;
            }
        }
        EXPECT_EQ(marks, c.marks) << c.what;
        if (!c.alarm) {
            EXPECT_TRUE(unit.alarms.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(unit.alarms.size(), 1u) << c.what;
        const Alarm& a = unit.alarms[0];
        EXPECT_EQ(a.socket, 3) << c.what;
        EXPECT_GE(a.sinceRun, c.sinceFrom) << c.what;
        EXPECT_LT(a.sinceRun, 300u) << c.what;
        // The alarm's run is the unit's: its number and its time.
        EXPECT_EQ(a.sinceRunNumber, a.sinceRun + 1) << c.what;
        EXPECT_EQ(a.since, kStart + static_cast<int64_t>(a.sinceRun) * kSecondsPerRun) << c.what;
        EXPECT_EQ(a.maintenanceSince, c.maintained) << c.what;
        EXPECT_GT(a.failureRate, 0.1) << c.what;
        EXPECT_LT(a.othersRate, 0.02) << c.what;
        EXPECT_DOUBLE_EQ(a.ratio, a.failureRate / a.othersRate) << c.what;
    }
}

TEST(YieldInUse, TheLeastEffectIsTheRulesOwn) {
    // Socket 3 fails 26 % from run 200 on against 1 % (13.5 % of all its runs): at most some
    // 50 times the others and 50 points above them, wherever the climb is put.
    const struct {
        AlarmRule rule;
        bool alarm;
    } cases[] = {
        {{}, true},
        {{.minRatio = 10, .minPoints = 1}, true},
        {{.minRatio = 2, .minPoints = 10}, true},
        {{.minRatio = 100, .minPoints = 1}, false},
        {{.minRatio = 2, .minPoints = 60}, false},
    };
    for (const auto& c : cases) {
        const Report report = reportOf(wornLog(), "", c.rule);
        EXPECT_EQ(report.units.at(0).alarms.size(), c.alarm ? 1u : 0u)
            << c.rule.minRatio << " " << c.rule.minPoints;
    }
}

TEST(YieldInUse, MalformedMaintenanceLinesAreNamedAndSkipped) {
    const std::string good = runTime(300) + ",U,3,new contacts\n";
    const struct {
        std::string line;
        const char* reason;
    } cases[] = {
        {runTime(300) + ",U,9,x\n", "socket \"9\" is not 1 to 8 or all"},
        {runTime(300) + ",U,0,x\n", "socket \"0\" is not 1 to 8 or all"},
        {runTime(300) + ",U,03,x\n", "socket \"03\" is not 1 to 8 or all"},
        {runTime(300) + ",U,ALL,x\n", "socket \"ALL\" is not 1 to 8 or all"},
        {",U,3,x\n", "time \"\" is not like 2026-12-08T06:52:55Z or 2026-12-08"},
        {"2026-12-08 02:30,U,3,x\n", "time \"2026-12-08 02:30\""},
        {runTime(300) + ",,3,x\n", "the unit is empty"},
        {runTime(300) + ",U,3\n", "3 fields where the header has 4"},
        {runTime(300) + ",U,3,\"x\n", "a quote is not closed"},
        {runTime(300) + ",U,3," + std::string(kMaxNoteBytes + 1, 'n') + "\n",
         "note is longer than 256 bytes"},
    };
    for (const auto& c : cases) {
        // The bad line would cut socket 4's history; the good one cuts socket 3's.
        const Report report = reportOf(wornLog(), maintenanceFile(c.line + good));
        ASSERT_EQ(report.malformed.size(), 1u) << c.reason;
        EXPECT_EQ(report.malformed[0].file + ":" + std::to_string(report.malformed[0].line),
                  "m.csv:2");
        EXPECT_NE(report.malformed[0].reason.find(c.reason), std::string::npos)
            << report.malformed[0].reason;
        EXPECT_TRUE(report.units.at(0).alarms.empty()) << c.reason;
        EXPECT_EQ(report.units[0].trends[2].maintenance.size(), 1u) << c.reason;
    }
    const Report noSocket = reportOf(wornLog(), "time,unit,note\n" + good);
    ASSERT_EQ(noSocket.malformed.size(), 1u);
    EXPECT_EQ(noSocket.malformed[0].reason, "the header has no column socket: the file is skipped");
    EXPECT_EQ(noSocket.units.at(0).alarms.size(), 1u);
}

TEST(YieldInUse, TheAlarmReadsAsAFindingInTheTextThePageAndTheJson) {
    const Report report = reportOf(wornLog(), maintenanceFile(runTime(250) + ",U,3,\n"));
    const Alarm& a = report.units.at(0).alarms.at(0);
    const std::string json = reportJson(report);
    const std::string keys = "\"since_run\":" + std::to_string(*a.sinceRunNumber) +
                             ",\"ratio\":" + std::to_string(static_cast<int>(a.ratio));
    EXPECT_NE(json.find(keys), std::string::npos) << json;
    EXPECT_NE(json.find(",\"maintenance_since\":\"2026-12-08T02:05:00Z\"}"), std::string::npos)
        << json;
    const std::string sentence = alarmSentence("U", a);
    EXPECT_TRUE(sentence.starts_with("Unit U, socket 3: ")) << sentence;
    EXPECT_NE(reportText(report).find(sentence + "\n"), std::string::npos);
    EXPECT_NE(reportHtml(report).find("data-socket=\"3\">" + sentence + "</li>"),
              std::string::npos);

    // When the other sockets never failed there is no ratio.
    const Report alone = reportOf(wornLog("U", false));
    ASSERT_EQ(alone.units.at(0).alarms.size(), 1u);
    EXPECT_NE(reportJson(alone).find("\"ratio\":null,\"maintenance_since\":null}"),
              std::string::npos)
        << reportJson(alone);
    EXPECT_TRUE(alarmSentence("U", alone.units[0].alarms[0])
                    .ends_with(", the other sockets 0.0 % (none failed)."));
}

TEST(YieldInUse, SentencesGiveRatesToATenthAndTimesToTheMinute) {
    const int64_t at = parseTime("2026-12-08T14:02:59Z").value();
    Alarm a;
    a.socket = 6;
    a.since = at;
    a.sinceRunNumber = 1512;
    a.failureRate = 0.098;
    a.othersRate = 0.011;
    a.ratio = 4.1;
    EXPECT_EQ(alarmSentence("U-0002", a),
              "Unit U-0002, socket 6: 9.8 % of its chips fail since 2026-12-08 14:02 (run 1512), "
              "the other sockets 1.1 %; 4.1 times the others.");
    a.sinceRunNumber.reset();
    a.failureRate = 0.5;
    a.othersRate = 0.0004;
    a.ratio = 1250;
    EXPECT_EQ(alarmSentence("U-0002", a),
              "Unit U-0002, socket 6: 50.0 % of its chips fail since 2026-12-08 14:02, the other "
              "sockets 0.0 %; 1250.0 times the others.");
    EXPECT_EQ(stretchSentence("U-0002", {.socket = 8, .from = at, .to = at + 3600, .runs = 500}),
              "Unit U-0002, socket 8: no chip in 500 runs in a row (2026-12-08 14:02 to 15:02), "
              "counted as not in use.");
    EXPECT_EQ(stretchSentence("U-0002", {.socket = 2, .from = at, .to = at + 86400, .runs = 3}),
              "Unit U-0002, socket 2: no chip in 3 runs in a row (2026-12-08 14:02 to 2026-12-09 "
              "14:02), counted as not in use.");
}

TEST(YieldInUse, EachSocketsChartHasItsRunsAndTheOthersInTheSameRuns) {
    // 250 runs: points of 100 runs. Socket 8 without a line in the first 100 runs.
    std::vector<std::string> runs(250, "PPPPPPPP");
    for (size_t r = 0; r < 100; ++r) {
        runs[r] = "FPPPPPP-";
    }
    runs[150] = "PPFPPPPF";
    const Report report = reportOf(logOf(runs, Form::Newest));
    const UnitReport& unit = report.units.at(0);
    // Each point: its first run, its chips/failed, the others' chips/failed.
    const struct {
        size_t socket;
        const char* points;
    } cases[] = {
        {1, "0 100/100 600/0, 100 100/0 700/2, 200 50/0 350/0"},
        {2, "0 100/0 600/100, 100 100/0 700/2, 200 50/0 350/0"},
        {3, "0 100/0 600/100, 100 100/1 700/1, 200 50/0 350/0"},
        {8, "0 0/0 0/0, 100 100/1 700/1, 200 50/0 350/0"},
    };
    for (const auto& c : cases) {
        std::string points;
        for (const TrendPoint& p : unit.trends[c.socket - 1].points) {
            points += (points.empty() ? "" : ", ") + std::to_string(p.firstRun) + " " +
                      std::to_string(p.chips) + "/" + std::to_string(p.failed) + " " +
                      std::to_string(p.othersChips) + "/" + std::to_string(p.othersFailed);
            EXPECT_EQ(p.from, kStart + static_cast<int64_t>(p.firstRun) * kSecondsPerRun);
        }
        EXPECT_EQ(points, c.points) << c.socket;
    }
}

TEST(YieldInUse, AChartHasAtMostItsPointsPerHundredRunsOrPerHour) {
    const struct {
        size_t runs;
        int64_t secondsPerRun;
        size_t points;
        size_t secondFirstRun;
        int64_t start; // after kStart
    } cases[] = {
        {100, 30, 1, 0, 0},       // one point of 100 runs
        {101, 30, 2, 100, 0},     // 100 and 1
        {6000, 1, 60, 100, 0},    // 60 points of 100 runs
        {6001, 1, 31, 200, 0},    // 61 points of 100 merged in twos
        {10, 1800, 5, 2, 0},      // 4.5 hours: per hour, two runs an hour
        {300, 3600, 60, 5, 0},    // 300 hours: 5 hours a point
        {300, 3600, 60, 5, 3600}, // the same an hour later: counted from the first run's hour
        {10, 7200, 10, 1, 0},     // an hour without a run has no point
    };
    for (const auto& c : cases) {
        std::string log = trace::headerLine() + "\n";
        for (size_t r = 0; r < c.runs; ++r) {
            log += newLine(kStart + c.start + static_cast<int64_t>(r) * c.secondsPerRun, r + 1, 1,
                           'P');
        }
        const Report report = reportOf(log);
        const std::vector<TrendPoint>& points = report.units.at(0).trends[0].points;
        ASSERT_EQ(points.size(), c.points) << c.runs << " runs every " << c.secondsPerRun << " s";
        if (c.points > 1) {
            EXPECT_EQ(points[1].firstRun, c.secondFirstRun) << c.runs;
        }
        uint64_t chips = 0;
        for (const TrendPoint& p : points) {
            chips += p.chips;
        }
        EXPECT_EQ(chips, c.runs);
        EXPECT_TRUE(report.units[0].trends[1].points.empty()) << "socket 2 was never in use";
    }
}

TEST(YieldInUse, TheUnitsSummedHaveStretchesOfTheirOwn) {
    // Past the units with a panel, two units of two runs each with socket 1 empty: four in
    // a row only if their runs were taken as one unit's.
    std::string log = trace::headerLine() + "\n";
    for (size_t u = 0; u < kMostUnits; ++u) {
        log += newLine(kStart, 1, 1, 'P', "ecpv", "U" + std::to_string(u));
    }
    for (const char* unit : {"X", "Y"}) {
        for (int r = 0; r < 2; ++r) {
            for (int s = 1; s <= kSockets; ++s) {
                log += newLine(kStart + r * kSecondsPerRun, r + 1, s, s == 1 ? '.' : 'P', "ecpv",
                               unit);
            }
        }
    }
    const Report report = reportOf(log);
    ASSERT_EQ(report.otherUnits, 2u);
    EXPECT_EQ(report.others.sockets[0].chips, 4u);
    EXPECT_EQ(report.others.sockets[0].at(Stage::NotFound), 4u);
    EXPECT_TRUE(report.others.emptyStretches.empty());
}

} // namespace
} // namespace octo::yield

// The main process: the parameter block and the expected duration from the settings, the
// supply guard, one run and its outcome, a continual series with its failed runs and the
// operator's Stop, and the report of a series.
#include "ops/MainProcess.h"
#include "devices/device_table.h"
#include "resources/StringIds.h"
#include "serials/serial_ledger.h"
#include "support/DialogWithIni.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace octo {
namespace {

using testing::DialogWithIni;

constexpr char kSeeResults[] = "Result of the Operation: See Result Section.";
constexpr char kVoltageTooLow[] =
    "WARNING: Target voltage too low for Erase / Program operation ! Set to Vpp_min.";

// Everything off, so each case names only what it sets.
Settings noOptions() {
    Settings s;
    s.erase = s.eraseCheck = s.program = s.verify = s.blowFuse = 0;
    s.eraseMain = s.eraseInfo = s.erasePinfo = s.eraseBslSegm = 0;
    s.useDlk = s.verifyMarginal = s.jtagSpeed = s.switchVccOff = 0;
    return s;
}

TEST(ProgrammingParameters, EachOptionSetsItsBitsOnlyWithWhatItDependsOn) {
    DeviceType duoLinkType;
    duoLinkType.dlkAble = 1;
    const struct {
        const char* name;
        void (*set)(Settings&);
        uint32_t options;
    } cases[] = {
        {"nothing", [](Settings&) {}, 0},
        {"erase without an area", [](Settings& s) { s.erase = 1; }, 0},
        {"erase info", [](Settings& s) { s.erase = s.eraseInfo = 1; }, 0x1},
        {"erase main", [](Settings& s) { s.erase = s.eraseMain = 1; }, 0x2},
        {"erase protected info", [](Settings& s) { s.erase = s.eraseInfo = s.erasePinfo = 1; },
         0x5},
        {"protected info without info", [](Settings& s) { s.erase = s.erasePinfo = 1; }, 0},
        {"program", [](Settings& s) { s.program = 1; }, 0x98},
        {"verify", [](Settings& s) { s.verify = 1; }, 0x20},
        {"secure", [](Settings& s) { s.blowFuse = 1; }, 0x40},
        {"check info and main", [](Settings& s) { s.eraseCheck = s.eraseInfo = s.eraseMain = 1; },
         0x300},
        {"check protected info", [](Settings& s) { s.eraseCheck = s.eraseInfo = s.erasePinfo = 1; },
         0x500},
        {"check protected info without info", [](Settings& s) { s.eraseCheck = s.erasePinfo = 1; },
         0},
        {"areas without erase or check", [](Settings& s) { s.eraseMain = s.eraseInfo = 1; }, 0},
        {"DuoLink on a capable type", [](Settings& s) { s.useDlk = 1; }, 0x800},
        {"speed 3", [](Settings& s) { s.jtagSpeed = 3; }, 0x3000},
        {"marginal verify", [](Settings& s) { s.verifyMarginal = 1; }, 0x4000},
        {"boot loader: erase, check, program",
         [](Settings& s) { s.eraseBslSegm = s.erase = s.eraseCheck = s.program = 1; },
         0x10000 | 0x20000 | 0x40000 | 0x98},
        {"boot loader alone", [](Settings& s) { s.eraseBslSegm = 1; }, 0},
        {"restore DCO is not a parameter", [](Settings& s) { s.restoreDco = 1; }, 0},
    };
    for (const auto& c : cases) {
        Settings s = noOptions();
        c.set(s);
        EXPECT_EQ(programmingParameters(s, duoLinkType, 0).options, c.options) << c.name;
    }
    Settings duoLink = noOptions();
    duoLink.useDlk = 1;
    EXPECT_EQ(programmingParameters(duoLink, DeviceType{}, 0).options, 0u)
        << "DuoLink on a type without it";
}

TEST(ProgrammingParameters, SupplyAndSettlingFollowWhoSuppliesTheTargets) {
    const struct {
        int supplyByProg;
        int switchVccOff;
        uint32_t targetVcc;
        uint32_t settleMs;
    } cases[] = {
        {1, 0, 30, 400},
        {1, 1, 30 | 0x80, 400},
        {0, 0, 0, 200},
        {0, 1, 0x80, 200},
    };
    for (const auto& c : cases) {
        Settings s = noOptions();
        s.supplyByProg = c.supplyByProg;
        s.switchVccOff = c.switchVccOff;
        s.supplyVoltage = 30 - kLowestSupplyTenths;
        const auto p = programmingParameters(s, DeviceType{}, 400);
        EXPECT_EQ(p.targetVcc, c.targetVcc) << c.supplyByProg << c.switchVccOff;
        EXPECT_EQ(p.settleMs, c.settleMs) << c.supplyByProg << c.switchVccOff;
    }
}

TEST(EstimatedRunMs, ProgrammingPastSixtyKibCostsExtraAndSlowInterfacesMultiply) {
    constexpr uint32_t kWordsPerKib = 512;
    const struct {
        const char* name;
        uint32_t flashWords;
        uint32_t bslWords;
        void (*set)(Settings&);
        uint16_t settleMs;
        uint32_t ms;
    } cases[] = {
        {"60 KiB programmed", 60 * kWordsPerKib, 0, [](Settings& s) { s.program = 1; }, 0,
         1210 + 115 * 60},
        {"61 KiB programmed", 61 * kWordsPerKib, 0, [](Settings& s) { s.program = 1; }, 0,
         1210 + 115 * 61 + 60 * 61},
        {"61 KiB not programmed", 61 * kWordsPerKib, 0, [](Settings&) {}, 0, 1210},
        // 1 KiB of boot loader counts five times: 5 KiB, and 2.5 KiB of words is cut to 2.
        {"boot loader weighs five", 0, kWordsPerKib / 2, [](Settings& s) { s.program = 1; }, 0,
         1210 + 115 * 2},
        {"every step", 2 * kWordsPerKib, 0,
         [](Settings& s) { s.erase = s.eraseCheck = s.program = s.verify = s.blowFuse = 1; }, 200,
         2711}, // 800 + 1210 + 220 + 7.6 * 2 * 6 + 230 + 160, truncated
        {"DuoLink", 60 * kWordsPerKib, 0, [](Settings& s) { s.program = s.useDlk = 1; }, 0,
         (1210 + 115 * 60) * 64},
        {"DuoLink before speed", 0, 0, [](Settings& s) { s.useDlk = 1, s.jtagSpeed = 3; }, 0,
         1210 * 64},
        {"speed 1", 0, 0, [](Settings& s) { s.jtagSpeed = 1; }, 0, 1210 * 4},
        {"speed 2", 0, 0, [](Settings& s) { s.jtagSpeed = 2; }, 0, 1210 * 9},
        {"speed 3", 0, 0, [](Settings& s) { s.jtagSpeed = 3; }, 0, 1210 * 13},
    };
    for (const auto& c : cases) {
        Settings s = noOptions();
        c.set(s);
        DeviceType type;
        type.flashWords = c.flashWords;
        type.bslWords = c.bslWords;
        EXPECT_EQ(estimatedRunMs(s, type, c.settleMs), c.ms) << c.name;
    }
}

// ---- runs in the window ----------------------------------------------------------------

class MainProcessTest : public DialogWithIni {
protected:
    MainProcessTest() {
        state.logPath = folder.file("OCTO816.LOG");
        // What initialisation loads, without its posted start-up command.
        for (int bitmap : {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO, IDB_LAMP_GREY}) {
            view.loadBitmap(bitmap);
        }
        dialog.targetPower().fillTargetPowerLists();
        dialog.progress().setPeriod(100);
        dialog.results().fillStatusLampTable();
        dialog.showMembers();
        library->resultBlock[kConnectedByte] = 0x07;
        library->resultBlock[kOverAllByte] = 0x03;
        log.clear();
    }

    // The file as a run finds it: the image in the unit is of the type the window shows.
    void repeat(int runs, int createLogFile = 1) {
        ini("[System]\r\nDevType=0\r\n[User]\r\nRepeatOctoprog=" + std::to_string(runs) + "\r\n");
        dialog.settings().createLogFile = createLogFile;
    }
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    std::string report() const {
        std::ifstream in(state.logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static int count(const std::string& text, const std::string& part) {
        int n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
};

TEST_F(MainProcessTest, SupplyBelowTheTypesMinimumIsRaisedAndNothingRuns) {
    dialog.deviceType().vpp = 27;
    const struct {
        const char* name;
        int supplyTenths;
        int erase;
        int program;
        int supplyByProg;
        bool guarded;
    } cases[] = {
        {"equal passes", 27, 1, 1, 1, false},
        {"a tenth below", 26, 1, 1, 1, true},
        {"below, program only", 26, 0, 1, 1, true},
        {"below, neither erase nor program", 26, 0, 0, 1, false},
        {"below, targets supply themselves", 26, 1, 1, 0, false},
    };
    for (const auto& c : cases) {
        repeat(0);
        // As the operator left the window: the guard judges what it shows.
        view.setListSelection(IDC_SUPPLY_VOLTAGE, c.supplyTenths - kLowestSupplyTenths);
        view.setChecked(IDC_ERASE, c.erase != 0);
        view.setChecked(IDC_PROGRAM, c.program != 0);
        view.setChecked(IDC_SUPPLY_BY_PROG, c.supplyByProg != 0);
        view.setText(IDC_STATUS_LINE, "");
        view.setLamp(IDC_STATUS_LAMP, 0);
        const int runsBefore = library->calls("OctoMainProcess");
        const auto beepsBefore = view.beeps().size();

        view.click(IDC_START);

        EXPECT_EQ(library->calls("OctoMainProcess") - runsBefore, c.guarded ? 0 : 1) << c.name;
        if (c.guarded) {
            EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), " 2.7 V") << c.name;
            EXPECT_EQ(status(), kVoltageTooLow) << c.name;
            EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_INFO) << c.name;
            ASSERT_EQ(view.beeps().size(), beepsBefore + 1) << c.name;
            EXPECT_EQ(view.beeps().back(), std::make_pair(1000u, 50u)) << c.name;
            EXPECT_EQ(iniText().find("Busy"), std::string::npos) << c.name;
        }
    }
    // In a series the guard ends the series: the next Start runs at the raised supply.
    repeat(2);
    Settings& s = dialog.settings();
    s.supplyVoltage = 26 - kLowestSupplyTenths;
    s.erase = s.program = s.supplyByProg = 1;
    dialog.showMembers();
    view.click(IDC_START);
    const int runs = library->calls("OctoMainProcess");
    view.click(IDC_START);
    EXPECT_EQ(library->calls("OctoMainProcess"), runs + 1);
}

TEST_F(MainProcessTest, MeasuredDurationIsKeptOnlyWhenATargetPassedAndStoredOnlyWithoutDuoLink) {
    const struct {
        const char* name;
        uint8_t overAll;
        int useDlk;
        bool measured;
        bool stored;
    } cases[] = {
        {"passed", 0x01, 0, true, true},
        {"passed over DuoLink", 0x01, 1, true, false},
        {"nobody passed", 0x00, 0, false, false},
    };
    constexpr uint32_t kRunMs = 4321;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess") {
            platform.now += kRunMs;
        }
    };
    for (const auto& c : cases) {
        repeat(0);
        dialog.settings().useDlk = c.useDlk;
        dialog.showMembers();
        dialog.flags().estimateStale = true;
        library->resultBlock[kOverAllByte] = c.overAll;

        view.click(IDC_START);

        const uint32_t estimate = dialog.settings().timeOctoProg;
        EXPECT_EQ(status(), kSeeResults) << c.name;
        EXPECT_EQ(estimate == kRunMs, c.measured) << c.name;
        EXPECT_EQ(iniInt("Timing", "TimeOctoProg") == static_cast<int32_t>(kRunMs), c.stored)
            << c.name;
        EXPECT_EQ(iniInt("Diagnostic", "Busy"), 0) << c.name;
    }
}

TEST_F(MainProcessTest, TheRunsResultReachesTheLampsAndTheStatusLine) {
    const struct {
        const char* name;
        const char* failing; // the call that answers with code
        int32_t code;
        uint8_t miscErrors;
        const char* status;
        bool shown;
    } cases[] = {
        {"passed", "", 0, 0, kSeeResults, true},
        {"image memory corrupted", "", 0, 1, "FATAL ERROR: Image Memory corrupted or erased !",
         true},
        {"the unit's verdict, though the run failed", "OctoGetResult", 50, 0, "", true},
        {"no result", "OctoGetResult", 8, 0, "", false},
        {"parameters refused", "OctoLoadParameters", 8, 0, "", false},
    };
    const int overAllOfTarget1 = resultLampId(kOverAllByte, 0);
    for (const auto& c : cases) {
        repeat(0);
        library->script(c.failing, {c.code});
        library->resultBlock[kMiscErrorsByte] = c.miscErrors;
        view.setText(IDC_STATUS_LINE, "");
        view.setLamp(overAllOfTarget1, 0);

        view.click(IDC_START);

        EXPECT_EQ(status(), c.status) << c.name;
        EXPECT_EQ(view.lamp(overAllOfTarget1), c.shown ? IDB_LAMP_GREEN_TICK : IDB_LAMP_GREY)
            << c.name;
        EXPECT_FALSE(view.mouseCaptured()) << c.name;
    }
}

TEST_F(MainProcessTest, ARunExpectsTheLastMeasuredDurationAndWaitsFiveSecondsLonger) {
    repeat(0);
    dialog.flags().estimateStale = true;
    std::vector<std::string> bar;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess") {
            bar.push_back(std::to_string(view.progressRange(IDC_PROGRESS).high) +
                          (view.timerRunning(ID_TIMER_PROGRESS) ? " running" : " stopped") +
                          " busy " + std::to_string(iniInt("Diagnostic", "Busy")));
            platform.now += 4321;
        }
    };
    view.click(IDC_START);
    view.click(IDC_START);

    ASSERT_EQ(bar.size(), 2u);
    EXPECT_EQ(bar[1], "4321 running busy 1");
    EXPECT_EQ(library->calls("OctoMainProcess 93"), 1) << "(4321 + 5000) ms in tenths";
    EXPECT_FALSE(view.timerRunning(ID_TIMER_PROGRESS));
}

TEST_F(MainProcessTest, FailedRunsCountInASeriesAndTheSeriesEndsByItself) {
    repeat(4);
    // The second run's unit fails, the third delivers a result that counts as failed.
    library->script("OctoMainProcess", {0, 5, 0, 0});
    library->script("OctoGetResult", {0, 50, 0});
    std::vector<std::string> captions;
    std::vector<uint32_t> startedAt;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess") {
            captions.push_back(view.text(IDC_START));
            startedAt.push_back(platform.now);
        }
    };
    view.click(IDC_START);
    EXPECT_EQ(library->calls("OctoMainProcess"), 1) << "the next run waits in the queue";
    view.runPosted();

    EXPECT_EQ(library->calls("OctoMainProcess"), 4);
    EXPECT_EQ(captions, std::vector<std::string>(4, "&Stop"));
    EXPECT_EQ(startedAt, (std::vector<uint32_t>{0, 750, 750, 750})) << "a pause after a success";
    ASSERT_EQ(view.messageBoxes().size(), 2u);
    for (const auto& box : view.messageBoxes()) {
        EXPECT_EQ(box.caption, "CE-Test Error");
        EXPECT_EQ(box.text, "For details see Status Information");
        EXPECT_EQ(box.style, mb::kOk);
    }
    EXPECT_EQ(view.text(IDC_START), "&Start");
    EXPECT_TRUE(view.isEnabled(IDC_START));
    EXPECT_EQ(status(), "Continual Main Process terminated.");
    EXPECT_FALSE(dialog.flags().continualMain);
    // Rows only for the two runs that delivered a result.
    EXPECT_EQ(count(report(), "   1 1 0 0 0 0 0 0 "), 2);
    EXPECT_NE(report().find("Time for one successful session:"), std::string::npos);
}

TEST_F(MainProcessTest, StopDuringARunLetsItCompleteAndStartsNoOther) {
    repeat(5);
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess" && library->calls("OctoMainProcess") == 1) {
            view.click(IDC_START); // the operator's Stop, taken while the library waits
            EXPECT_FALSE(view.isEnabled(IDC_START));
            EXPECT_EQ(status(), "Continual Main Process terminated.");
        }
    };
    view.click(IDC_START);
    view.runPosted();

    EXPECT_EQ(library->calls("OctoMainProcess"), 1);
    EXPECT_EQ(view.text(IDC_START), "&Start");
    EXPECT_TRUE(view.isEnabled(IDC_START));
    EXPECT_TRUE(view.messageBoxes().empty());
    const std::string text = report();
    EXPECT_NE(text.find("Blow Fuse:"), std::string::npos);
    EXPECT_EQ(text.find("Session"), std::string::npos) << "the stopped run adds no row";
    EXPECT_NE(text.find("Time for one successful session:"), std::string::npos);
}

TEST_F(MainProcessTest, ReloadWarningRefusesStartAndStop) {
    repeat(3);
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess" && library->calls("OctoMainProcess") == 1) {
            dialog.flags().reloadRequired = true;
            view.click(IDC_START);
        }
    };
    view.click(IDC_START);
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_EQ(view.messageBoxes()[0].caption, "Warning");
    EXPECT_EQ(view.messageBoxes()[0].text,
              "Programming parameters were changed.\nPlease download them into OCTO816 "
              "before continue\nby pressing <Load Image>");
    EXPECT_EQ(view.messageBoxes()[0].style, mb::kOk | mb::kIconExclamation);
    EXPECT_TRUE(dialog.flags().continualMain) << "the warning does not stop the series";
}

TEST_F(MainProcessTest, ATypeChangedInTheFileIsTakenOverAndAsksForAReload) {
    repeat(0);
    ini("[System]\r\nDevType=1\r\n[ZEL816 A110]\r\nGroup=1\r\n[ZEL816 A449]\r\nGroup=1\r\n");
    dialog.catalogue().fillDeviceGroups();
    dialog.catalogue().fillDeviceGroupList();
    dialog.settings().devType = 0;
    dialog.showMembers();
    dialog.flags().reloadRequired = false;

    view.click(IDC_START);

    EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), 1);
    EXPECT_TRUE(dialog.flags().reloadRequired);
    EXPECT_EQ(library->calls("OctoMainProcess"), 1) << "the run itself goes on";
}

// ---- the report --------------------------------------------------------------------------

TEST_F(MainProcessTest, ReportRowsCarryRunningTotals) {
    dialog.settings().imageFile = "C:\\IMG\\A449.TXT";
    dialog.settings().repeatOctoprog = 2;
    dialog.settings().createLogFile = 1;
    dialog.showMembers();
    RunReport runReport(view, dialog.settings(), state.logPath);
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    runReport.open(200);
    block[kConnectedByte] = 0x07;
    block[kOverAllByte] = 0x03;
    runReport.row(block);
    block[kOverAllByte] = 0x07;
    runReport.row(block);
    runReport.close(2540);

    EXPECT_EQ(report(), "Continual Main Process Test on Octo Programmer for ZEL816 FLASH devices\n"
                        "\n"
                        "Conditions:\n"
                        "   File:           C:\\IMG\\A449.TXT\n"
                        "   File2:          \n"
                        "   Supply Voltage: 3.0 V\n"
                        "   Settle Time:    0.2 s\n"
                        "   Mass Erase:     1\n"
                        "   Erase Check:    1\n"
                        "   Program:        1\n"
                        "   Verify:         1\n"
                        "   Blow Fuse:      0\n"
                        "\n"
                        "Session   Overall         Connected Errors    Percentage\n"
                        "      1   1 1 0 0 0 0 0 0         3      1     33.33 %\n"
                        "      2   1 1 1 0 0 0 0 0         6      1     16.67 %\n"
                        "\n"
                        "Time for one successful session:  2.5 s\n");
}

TEST_F(MainProcessTest, ReportHeadEveryFiftyRowsAndNoPercentageBeforeAConnectedTarget) {
    dialog.settings().repeatOctoprog = 1;
    dialog.settings().createLogFile = 1;
    RunReport runReport(view, dialog.settings(), state.logPath);
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    runReport.open(0);
    EXPECT_NE(report().find("Blow Fuse:"), std::string::npos) << "the conditions at once";
    for (int i = 0; i < 101; ++i) {
        runReport.row(block);
        // Rows reach the file as they are written: a series cut short keeps them.
        EXPECT_EQ(count(report(), " %\n"), i + 1);
    }
    runReport.close(0);
    const std::string text = report();
    EXPECT_EQ(count(text, "Session   Overall"), 3);
    EXPECT_NE(text.find("Percentage\n    101   0 0 0 0 0 0 0 0         0      0      ---- %\n"),
              std::string::npos);
    EXPECT_NE(
        text.find("---- %\nSession   Overall         Connected Errors    Percentage\n     51   "),
        std::string::npos);
}

TEST_F(MainProcessTest, NoReportWithoutBothSwitches) {
    for (auto [repeatRuns, createLogFile] : {std::pair{0, 1}, std::pair{2, 0}}) {
        repeat(repeatRuns, createLogFile);
        view.click(IDC_START);
        view.runPosted();
        EXPECT_FALSE(std::filesystem::exists(state.logPath)) << repeatRuns << createLogFile;
    }
}

// ---- the traceability log ------------------------------------------------------------------

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST_F(MainProcessTest, TraceLogNamedInSectionUserGetsALinePerSocketInUseAndOnlyThen) {
    const std::string path = folder.file("trace.csv");
    repeat(0);
    view.click(IDC_START);
    EXPECT_FALSE(std::filesystem::exists(path)) << "no TraceLog key, no log";

    ini("[System]\r\nDevType=0\r\n[User]\r\nTraceLog=" + path + "\r\n");
    loadSettings(dialog.profile(), dialog.settings());
    ASSERT_EQ(dialog.settings().traceLog, path);
    library->resultBlock[kVerifiedByte] = 0x03;
    library->resultBlock[11] = 0x56; // firmware 0x0156
    library->resultBlock[10] = 0x01;
    library->unitSerial = "U-1";
    library->unitRuns = 9;
    view.click(IDC_START);
    library->script("OctoGetResult", {50});
    library->script("OctoGetUnitInfo", {kNotAvailableResult}); // an older library
    view.click(IDC_START);

    const std::vector<std::string> log = lines(path);
    ASSERT_EQ(log.size(), 17u) << "the header and the eight sockets in use of each run";
    EXPECT_EQ(log[0].substr(0, 13), "time,station,");
    const std::string type = dialog.deviceType().typeName;
    // Targets 1 to 3 found, the other sockets empty (found 0).
    const struct {
        size_t line;
        const char* ending;
    } cases[] = {
        {1, ",1,1,0,1,0,1,0,U-1,9,,ecpv,1"}, {2, ",2,1,0,1,0,1,0,U-1,9,,ecpv,1"},
        {3, ",3,1,0,0,0,0,0,U-1,9,,ecpv,1"}, {4, ",4,0,0,0,0,0,0,U-1,9,,ecpv,0"},
        {8, ",8,0,0,0,0,0,0,U-1,9,,ecpv,0"}, {11, ",3,1,0,0,0,0,50,,,,ecpv,1"},
        {16, ",8,0,0,0,0,0,50,,,,ecpv,0"},
    };
    for (const auto& c : cases) {
        const std::string& line = log[c.line];
        EXPECT_NE(line.find(",1.56,"), std::string::npos) << line;
        EXPECT_NE(line.find("," + type + ","), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with(c.ending)) << line << "\n" << c.ending;
    }
}

// Key Sockets of section User names the sockets that get a line in each run; a chip found
// in another socket gets one too. A text that is no list of sockets counts as all eight,
// and the window never writes the key, so the operator's text stays as it is.
TEST_F(MainProcessTest, TheSocketsKeyNamesTheSocketsThatGetALineAndABadOneMeansAllEight) {
    const std::string path = folder.file("trace.csv");
    // Longer than the window reads: cut to its buffer it would read as socket 1 alone.
    std::string cut = "1";
    for (int i = 0; i < 200; ++i) {
        cut += ",1";
    }
    cut += ",8";
    const struct {
        std::string key;     // the line in section User, without its line end
        const char* sockets; // the sockets of the run's lines, "+" for a chip found
    } cases[] = {
        {"", "1+2+3+45678"},
        {"Sockets=1-2,5", "1+2+3+5"},
        {"Sockets= 8 , 1 - 2 ", "1+2+3+8"},
        {"Sockets=3", "1+2+3+"},
        {"Sockets=", "1+2+3+45678"},
        {"Sockets=1-9", "1+2+3+45678"},
        {"Sockets=1;2", "1+2+3+45678"},
        {"Sockets=all", "1+2+3+45678"},
        {"Sockets=" + cut, "1+2+3+45678"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        const std::string text =
            "[System]\r\nDevType=0\r\n[User]\r\nTraceLog=" + path + "\r\n" + c.key + "\r\n";
        ini(text);
        loadSettings(dialog.profile(), dialog.settings());
        view.click(IDC_START);
        std::string logged;
        for (const std::string& line : lines(path)) {
            if (line.starts_with("time,")) {
                continue;
            }
            std::vector<std::string> fields;
            std::stringstream split(line);
            for (std::string f; std::getline(split, f, ',');) {
                fields.push_back(f);
            }
            ASSERT_EQ(fields.size(), 18u) << line;
            logged += fields[6] + (fields[17] == "1" ? "+" : "");
        }
        EXPECT_EQ(logged, c.sockets) << c.key;
        ASSERT_TRUE(saveSettings(dialog.profile(), dialog.settings(), view));
        EXPECT_NE(iniText().find("\r\n" + c.key + "\r\n"), std::string::npos)
            << c.key << ": the operator's text is kept";
    }
}

TEST_F(MainProcessTest, AnUnwritableLogNeitherLengthensNorHoldsARunAndIsToldOncePerSeries) {
    constexpr uint32_t kRunMs = 4321;
    constexpr uint32_t kAnswerMs = 9000;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoMainProcess") {
            platform.now += kRunMs;
        }
    };
    std::vector<bool> bracketOpen;
    view.whileBoxShown = [&](const testing::ShownMessageBox&) {
        platform.now += kAnswerMs;
        bracketOpen.push_back(!view.isEnabled(IDC_START));
    };
    const struct {
        int runs;
        const char* log;
        std::size_t boxes; // so far
    } phases[] = {{0, "missing/trace.csv", 1},
                  {3, "missing/trace.csv", 2},
                  {0, "trace.csv", 2},
                  {0, "held.csv", 3},
                  {0, "image.txt", 4}};
    // A log another process keeps locked past the wait, and a file that is no log.
    const std::string held = folder.file("held.csv");
    std::ofstream(held) << "";
    const int holder = open(held.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::ofstream(folder.file("image.txt")) << "@FC00\n01\nq\n";
    for (const auto& p : phases) {
        repeat(p.runs);
        dialog.settings().traceLog = folder.file(p.log);
        const int before = library->calls("OctoMainProcess");
        view.click(IDC_START);
        view.runPosted();
        EXPECT_EQ(library->calls("OctoMainProcess") - before, std::max(p.runs, 1)) << p.runs;
        EXPECT_EQ(bracketOpen.size(), p.boxes) << "one box per run and per series: " << p.runs;
    }
    close(holder);
    EXPECT_EQ(dialog.settings().timeOctoProg, kRunMs);
    EXPECT_EQ(bracketOpen, std::vector<bool>(4, false)) << "shown after the bracket";
    for (const auto& box : view.messageBoxes()) {
        EXPECT_EQ(box.caption, "Traceability log");
    }
}

TEST_F(MainProcessTest, TraceLogGivesTheCrcTheUnitConfirmedForTheSlotThatRuns) {
    const std::string path = folder.file("trace.csv");
    const std::string image = folder.file("a.txt");
    repeat(0);
    dialog.settings().traceLog = path;
    const char* loaded = nullptr;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoLoadImage") {
            view.setText(IDC_STATUS_LINE, loaded);
        }
    };
    constexpr char kLoaded[] = "Image loaded: 224 bytes, CRC-32 037874A1.";
    const struct {
        const char* name;
        int32_t erase;
        int32_t load;
        const char* message;
        void (*after)(ProgrammerDialog& dialog);
        const char* crc;
    } cases[] = {
        {"loaded", 0, 0, kLoaded, nullptr, "037874A1"},
        {"loaded with a warning", 0, 17,
         "Image loaded: 224 bytes, CRC-32 037874A1. WARNING: a.txt, line 3: odd", nullptr,
         "037874A1"},
        {"erase failed", 8, 0, kLoaded, nullptr, ""},
        {"a message without the CRC", 0, 0, "Image loaded.", nullptr, ""},
        {"load failed", 0, 8, kLoaded, nullptr, ""},
        {"image memory erased", 0, 0, kLoaded,
         [](ProgrammerDialog& d) { d.maintenance().eraseImage(); }, ""},
        {"another slot made current by the hidden img 1", 0, 0, kLoaded,
         [](ProgrammerDialog& d) { d.imageLoader().onImageButton(IDC_IMAGE1); }, ""},
    };
    for (const auto& c : cases) {
        std::ofstream(image) << "before";
        view.setText(IDC_IMAGE_FILE, image);
        loaded = c.message;
        library->setFallback("OctoEraseImage", c.erase);
        library->setFallback("OctoLoadImage", c.load);
        view.click(IDC_LOAD_IMAGES);
        if (c.after != nullptr) {
            c.after(dialog);
        }
        std::ofstream(image) << "changed after the load";
        view.click(IDC_START);
        const std::string line = lines(path).back();
        const std::string type = "," + dialog.deviceType().typeName + ",";
        const std::size_t at = line.find(type) + type.size();
        EXPECT_EQ(line.substr(at, line.find(',', at) - at), c.crc) << c.name;
    }
}

// ---- serial numbers ---------------------------------------------------------------------

using serials::RecordState;

// A110: information memory 0x1000-0x10FF, main memory 0xFC00-0xFFFF.
constexpr char kA110[] = "ZEL816 A110";
constexpr uint32_t kInInfoMemory = 0x1000;
constexpr uint32_t kInMainMemory = 0xFD00;

class SerialRunTest : public MainProcessTest {
protected:
    SerialRunTest() {
        view.createToolTips(); // as the window's initialisation does
        repeat(0);
        // Target 1 passes, target 2 fails, the others are empty.
        library->resultBlock[kConnectedByte] = 0x03;
        library->resultBlock[kOverAllByte] = 0x01;
        dialog.deviceType().typeName = kA110;
        const auto rows = devices::usedSegments(*devices::findDeviceType(kA110));
        library->devices[kA110] = {rows.begin(), rows.end()};
        library->devices[kA110].push_back({OCTO_SEGMENT_END, 0, 0});
        state.imageCrc32[0] = 0x037874A1; // loaded by this process
    }
    // Serial numbers at the information memory, on a pass that erases and programs it.
    void serialize(const std::string& ledger) {
        Settings& s = dialog.settings();
        s.serialLedger = ledger;
        s.serialAddress = kInInfoMemory;
        s.serialStart = 1;
        s.serialEnd = 1000;
        for (int box : {IDC_ERASE, IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_PROGRAM}) {
            view.setChecked(box, true);
        }
    }
    // The unit the ledger noted for its last run.
    static std::string lastRunUnit(const std::string& ledger) {
        sqlite3* db = nullptr;
        std::string unit = "(none)";
        sqlite3_stmt* query = nullptr;
        if (sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT unit FROM runs ORDER BY id DESC LIMIT 1", -1, &query,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW) {
            unit = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
        }
        sqlite3_finalize(query);
        sqlite3_close(db);
        return unit;
    }
    static serials::StateSummary inState(const std::string& ledger, RecordState state) {
        return serials::SerialLedger::inspect(ledger).states[static_cast<size_t>(state)];
    }
    std::string tip(int target) const { return view.toolTip(resultLampId(kOverAllByte, target)); }
    // The calls that carry records to the unit, in order.
    std::vector<std::string> unitCalls() const {
        std::vector<std::string> calls;
        for (const std::string& c : library->callLog()) {
            for (const char* name :
                 {"OctoSetTargetData", "OctoLoadParameters", "OctoMainProcess", "OctoGetResult"}) {
                if (c.starts_with(name)) {
                    calls.push_back(c.substr(0, c.starts_with("OctoSet") ? c.size() : c.find(' ')));
                }
            }
        }
        return calls;
    }
};

TEST_F(SerialRunTest, RecordsGoToTheLibraryBeforeTheRunAndAreSettledByEachTargetsOutcome) {
    const std::string ledger = folder.file("station.ledger");
    view.click(IDC_START);
    EXPECT_EQ(library->calls("OctoSetTargetData"), 0) << "no Ledger key, no records";
    EXPECT_FALSE(std::filesystem::exists(ledger));
    EXPECT_EQ(tip(0), "");

    serialize(ledger);
    dialog.settings().traceLog = folder.file("trace.csv");
    const std::size_t before = unitCalls().size();
    view.click(IDC_START);
    const std::vector<std::string> calls = unitCalls();
    const std::vector<std::string> expected = {"OctoSetTargetData 1 4096 01000000",
                                               "OctoSetTargetData 2 4096 02000000",
                                               "OctoSetTargetData 3 4096 03000000",
                                               "OctoSetTargetData 4 4096 04000000",
                                               "OctoSetTargetData 5 4096 05000000",
                                               "OctoSetTargetData 6 4096 06000000",
                                               "OctoSetTargetData 7 4096 07000000",
                                               "OctoSetTargetData 8 4096 08000000",
                                               "OctoLoadParameters",
                                               "OctoMainProcess",
                                               "OctoGetResult"};
    EXPECT_EQ(
        std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()),
        expected);
    EXPECT_EQ(inState(ledger, RecordState::Programmed).ranges,
              (std::vector<serials::NumberRun>{{1, 1}}));
    EXPECT_EQ(inState(ledger, RecordState::Void).ranges, (std::vector<serials::NumberRun>{{2, 2}}));
    EXPECT_EQ(inState(ledger, RecordState::Released).ranges,
              (std::vector<serials::NumberRun>{{3, 8}}));
    EXPECT_EQ(tip(0), "Target 1: serial 1 (01000000), programmed");
    EXPECT_EQ(tip(1), "Target 2: serial 2 (02000000), void");
    EXPECT_EQ(tip(2), "Target 3: serial 3 (03000000), released");
    const std::vector<std::string> trace = lines(folder.file("trace.csv"));
    ASSERT_EQ(trace.size(), 9u) << "the header and the eight sockets in use";
    EXPECT_TRUE(trace[2].ends_with(",2,1,0,0,0,0,0,,,02000000,ecpv,1"))
        << "the serial column: " << trace[2];
    EXPECT_TRUE(trace[3].ends_with(",3,0,0,0,0,0,0,,,,ecpv,0"))
        << "an empty socket's record was released, not written: " << trace[3];

    // The released records come back first, lowest first, then new ones.
    view.click(IDC_START);
    EXPECT_EQ(tip(0), "Target 1: serial 3 (03000000), programmed");
    EXPECT_EQ(tip(7), "Target 8: serial 10 (0a000000), released");
    EXPECT_TRUE(view.messageBoxes().empty());
}

TEST_F(SerialRunTest, WhatCannotBeGivenOutIsToldBeforeTheUnitIsTouchedAndEndsTheSeries) {
    const struct {
        const char* name;
        void (*set)(Settings&, testing::FakeLibrary&);
        const char* says;
        uint64_t released;
    } cases[] = {
        {"used up", [](Settings& s, testing::FakeLibrary&) { s.serialEnd = 7; }, "run out", 0},
        {"no such format", [](Settings& s, testing::FakeLibrary&) { s.serialFormat = "LE33"; },
         "le33", 0},
        {"ledger in a missing folder",
         [](Settings& s, testing::FakeLibrary&) { s.serialLedger += ".d/x.ledger"; }, ".d/x.ledger",
         0},
        {"refused by the library",
         [](Settings&, testing::FakeLibrary& l) {
             l.script("OctoSetTargetData", {0, 0, 16});
         },
         "target 3:\nlibrary text 16", 8},
        {"a ledger older than the log",
         [](Settings& s, testing::FakeLibrary&) {
             s.traceLog = s.serialLedger + ".csv";
             std::ofstream(s.traceLog) << trace::headerLine()
                                       << "\n2026-12-08T06:42:36Z,S,,,T,,"
                                          "1,1,1,1,0,1,0,U,1,0a000000,ecpv,1\n";
         },
         "is older than the log", 0},
    };
    for (const auto& c : cases) {
        const std::string ledger = folder.file(std::string(c.name) + ".ledger");
        repeat(2);
        dialog.settings() = Settings{.createLogFile = 1};
        serialize(ledger);
        c.set(dialog.settings(), *library);
        const std::size_t boxes = view.messageBoxes().size();
        const int runs = library->calls("OctoLoadParameters") + library->calls("OctoMainProcess");

        view.click(IDC_START);
        view.runPosted();

        ASSERT_EQ(view.messageBoxes().size(), boxes + 1) << c.name;
        const testing::ShownMessageBox& box = view.messageBoxes().back();
        EXPECT_EQ(box.caption, "Serial numbers") << c.name;
        EXPECT_NE(box.text.find(c.says), std::string::npos) << c.name << ": " << box.text;
        EXPECT_EQ(library->calls("OctoLoadParameters") + library->calls("OctoMainProcess"), runs)
            << c.name;
        EXPECT_EQ(view.text(IDC_START), "&Start") << c.name;
        EXPECT_TRUE(view.isEnabled(IDC_START)) << c.name;
        EXPECT_FALSE(dialog.flags().continualMain) << c.name;
        EXPECT_NE(report().find("Time for one successful session:"), std::string::npos)
            << c.name << ": the series' report is closed";
        if (std::filesystem::exists(ledger)) {
            EXPECT_EQ(inState(ledger, RecordState::Reserved).count, 0u) << c.name;
            EXPECT_EQ(inState(ledger, RecordState::Released).count, c.released) << c.name;
        }
    }
}

TEST_F(SerialRunTest, ARunWithoutAResultVoidsItsRecordsUnlessTheyNeverLeftTheLibrary) {
    const struct {
        const char* name;
        const char* failing;
        int32_t code;
        uint64_t programmed, voided, released;
    } cases[] = {
        {"link lost in the run", "OctoMainProcess", 6, 0, 8, 0},
        {"result not read", "OctoGetResult", 8, 0, 8, 0},
        {"records outside the device", "OctoMainProcess", 54, 0, 0, 8},
        {"firmware without records", "OctoMainProcess", 57, 0, 0, 8},
        {"a pass that does not erase their memory", "OctoMainProcess", 58, 0, 0, 8},
        {"no image loaded by the library", "OctoMainProcess", 59, 0, 0, 8},
        {"parameters refused", "OctoLoadParameters", 8, 0, 0, 8},
        // The block is the truth: target 1 passed, target 2 failed, the others are empty.
        {"run failed with its block", "OctoGetResult", 50, 1, 1, 6},
    };
    for (const auto& c : cases) {
        const std::string ledger = folder.file(std::string(c.name) + ".ledger");
        serialize(ledger);
        library->script(c.failing, {c.code});
        view.click(IDC_START);
        EXPECT_EQ(inState(ledger, RecordState::Programmed).count, c.programmed) << c.name;
        EXPECT_EQ(inState(ledger, RecordState::Void).count, c.voided) << c.name;
        EXPECT_EQ(inState(ledger, RecordState::Released).count, c.released) << c.name;
    }
    EXPECT_EQ(library->calls("OctoClearTargetData"), 5) << "records that never left are dropped";
    const serials::LedgerSummary lost =
        serials::SerialLedger::inspect(folder.file("link lost in the run.ledger"));
    ASSERT_EQ(lost.voids.size(), 8u);
    EXPECT_EQ(lost.voids[0].reason, "no result (code 6)");
}

TEST_F(SerialRunTest, RecordsGoOnlyWithAPassThatErasesAndProgramsTheirMemoryAndAnImageOfOurs) {
    constexpr char kInfoBoxes[] = "Check Erase, Info Memory and Program.";
    const struct {
        const char* name;
        uint32_t address;
        void (*set)(testing::InMemoryView&, ProgramState&);
        const char* says; // none: the pass gets its records
    } cases[] = {
        {"verify only", kInInfoMemory,
         [](testing::InMemoryView& v, ProgramState&) {
             v.setChecked(IDC_ERASE, false);
             v.setChecked(IDC_PROGRAM, false);
             v.setChecked(IDC_VERIFY, true);
         },
         kInfoBoxes},
        {"erase only", kInInfoMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_PROGRAM, false); },
         kInfoBoxes},
        {"program without erase", kInInfoMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_ERASE, false); },
         kInfoBoxes},
        {"main memory erased, records in the information memory", kInInfoMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_ERASE_INFO, false); },
         "The serial numbers at 0x1000 go only into memory that this pass erases and programs "
         "itself.\nCheck Erase, Info Memory and Program."},
        {"information memory erased, records in main memory", kInMainMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_ERASE_MAIN, false); },
         "at 0xFD00 go only into memory that this pass erases and programs itself.\nCheck Erase, "
         "Main Memory and Program."},
        {"no image loaded since the program started", kInInfoMemory,
         [](testing::InMemoryView&, ProgramState& s) { s.imageCrc32.fill(std::nullopt); },
         kSerialNeedsImage},
        {"another slot made current than the one loaded", kInInfoMemory,
         [](testing::InMemoryView&, ProgramState& s) { s.imageSlot = 1; }, kSerialNeedsImage},
        {"information memory erased and programmed", kInInfoMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_ERASE_MAIN, false); },
         nullptr},
        {"main memory erased and programmed", kInMainMemory,
         [](testing::InMemoryView& v, ProgramState&) { v.setChecked(IDC_ERASE_INFO, false); },
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ledger = folder.file(std::string(c.name) + ".ledger");
        const ProgramState loaded = state;
        serialize(ledger);
        dialog.settings().serialAddress = c.address;
        c.set(view, state);
        const std::size_t boxes = view.messageBoxes().size();
        const std::size_t calls = unitCalls().size();

        view.click(IDC_START);
        state = loaded;

        if (c.says == nullptr) {
            EXPECT_EQ(view.messageBoxes().size(), boxes);
            EXPECT_EQ(unitCalls().size(), calls + 8 + 3) << "eight records, then the run";
            EXPECT_EQ(inState(ledger, RecordState::Programmed).count, 1u);
            continue;
        }
        ASSERT_EQ(view.messageBoxes().size(), boxes + 1);
        const testing::ShownMessageBox& box = view.messageBoxes().back();
        EXPECT_EQ(box.caption, "Serial numbers");
        EXPECT_NE(box.text.find(c.says), std::string::npos) << box.text;
        EXPECT_TRUE(box.text.ends_with(kSerialNotStarted)) << box.text;
        EXPECT_EQ(unitCalls().size(), calls) << "neither records nor a run";
        EXPECT_FALSE(std::filesystem::exists(ledger)) << "nothing reserved, no ledger made";
    }
}

TEST_F(SerialRunTest, TheLedgerNamesTheUnitBySerialNumberAndPort) {
    const struct {
        const char* serial;
        int32_t answer;
        const char* unit;
    } cases[] = {
        {"OCTO-0042", 0, "OCTO-0042 COM1"},
        {"", 0, "COM1"},                            // a unit that has no serial number
        {"OCTO-0042", kNotAvailableResult, "COM1"}, // an older library
        {"OCTO-0042", 6, "COM1"},                   // the unit did not answer
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string ledger = folder.file("unit" + std::to_string(++n) + ".ledger");
        serialize(ledger);
        library->unitSerial = c.serial;
        library->script("OctoGetUnitInfo", {c.answer});
        view.click(IDC_START);
        EXPECT_EQ(lastRunUnit(ledger), c.unit) << c.serial << " " << c.answer;
    }
}

} // namespace
} // namespace octo

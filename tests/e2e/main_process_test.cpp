// The real window loading a shipped sample into the simulated unit and programming eight
// sockets of every kind (good, faulty, secured, empty), once and as a continual series with
// its report, stopped during a run, refused after a type change and run after a broken
// load. Expectations come from what the unit really did and holds: its state file, its
// event log and the dumps of its sockets and slots, never from what the window believes.
#include "EightSockets.h"
#include "UnitWindowTest.h"

#include "devices/device_table.h"
#include "objfile/crc32.h"

#include <array>
#include <cstdio>
#include <regex>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;

// How long a run that must not come is given to show up: longer than the pause between
// the runs of a series.
constexpr Millis kNoFurtherRun{4000};

constexpr char kType[] = "ZEL816 A110";
constexpr char kOtherTypeOfGroup[] = "ZEL816 A112";
constexpr char kSample[] = "A110_blink.hex";
constexpr char kSampleText[] = "A110_blink.txt"; // the same bytes as QX-Text
constexpr char kBrokenSample[] = "broken_checksum.hex";
constexpr char kReport[] = "OCTO816.LOG";
constexpr char kTraceLog[] = "trace.csv";

constexpr char kSeeResults[] = "Result of the Operation: See Result Section.";
constexpr char kSeriesEnded[] = "Continual Main Process terminated.";
constexpr char kImageCorrupted[] = "FATAL ERROR: Image Memory corrupted or erased !";
constexpr char kStartCaption[] = "&Start";
constexpr char kStopCaption[] = "&Stop";
constexpr char kReloadTitle[] = "Warning";
constexpr char kReloadText[] = "Programming parameters were changed.\nPlease download them "
                               "into OCTO816 before continue\nby pressing <Load Image>";
constexpr char kLoadDialogTitle[] = "Load programmer unit";

constexpr int kMiscErrorsByte = 5;
constexpr uint8_t kMiscImageCorrupted = 1;

// The unit's run: model time for one run of the sample on the eight sockets is about
// 1.8 s. The series runs it at this factor: a run of about 5 s, so that a Stop sent while
// it works reaches the window during it even on a loaded machine, and the program's
// estimate plus its margin still covers it.
constexpr char kQuickRuns[] = "time_scale=0.1";
constexpr char kStoppableRuns[] = "time_scale=3";
constexpr int kSeriesRuns = 3;

fs::path sample(const std::string& name) {
    return Paths::repository() / "dist" / "samples" / name;
}

// The bytes of a "run.result" value ("03 00 ...").
std::vector<uint8_t> runBytes(const std::string& text) {
    std::istringstream in(text);
    std::vector<uint8_t> bytes;
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

// The picture a lamp must show after a run, from the result bytes the unit reported and
// the rows the run addressed: rows only for connected targets; a locked target (fuse
// blown, not passed) shows its "Connected" and "Device secured" bits and nothing else.
Lamp lampAfterRun(const std::vector<uint8_t>& run, const std::array<bool, kGridRows>& addressed,
                  int row, int target) {
    const uint8_t bit = static_cast<uint8_t>(1u << target);
    const bool set = run.at(row) & bit;
    const bool locked = (run.at(kSecuredRow) & bit) && !(run.at(kOverAllRow) & bit);
    const Lamp shown =
        row == kOverAllRow ? (set ? Lamp::Passed : Lamp::Failed) : (set ? Lamp::On : Lamp::Off);
    if ((run.at(0) & bit) && addressed[row])
        return locked && (row == kEraseCheckedRow || row == kVerifiedRow) ? Lamp::Grey : shown;
    return locked && (row == 0 || row == kSecuredRow) ? shown : Lamp::Grey;
}

// The traceability log's lines that contain `part`, each as its fields (none of the run's
// fields holds a comma or a quote).
constexpr std::size_t kTargetColumn = 6;
constexpr std::size_t kAskedColumn = 16;
constexpr std::size_t kFoundColumn = 17;
std::vector<std::vector<std::string>> logLines(const std::string& log, const std::string& part) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find(part) == std::string::npos)
            continue;
        if (line.ends_with('\r'))
            line.pop_back();
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos;
             from = comma + 1)
            fields.push_back(line.substr(from, comma - from));
        fields.push_back(line.substr(from));
        EXPECT_EQ(fields.size(), kFoundColumn + 1) << line;
        if (fields.size() == kFoundColumn + 1)
            lines.push_back(fields);
    }
    return lines;
}

// ---- the window against one unit ----------------------------------------------------------

template <typename Suite>
class SocketsWindowTest : public UnitWindowTest<Suite> {
protected:
    using Base = UnitWindowTest<Suite>;
    using Base::folder;
    using Base::unit;

    // Starts a unit with the eight sockets and the program with `userKeys` set in
    // section User of its configuration file and `addedKeys` added there.
    static void openWith(const std::vector<std::string>& unitSettings,
                         const typename Base::Keys& userKeys,
                         const typename Base::Keys& addedKeys = {}) {
        Base::openWithUnit("eight_sockets.txt", kEightSockets, unitSettings, userKeys, addedKeys);
    }

    std::string iniText() { return readWholeFile(folder() / kConfigIni); }

    // Selects the type's group, then the type, as an operator does.
    void selectType(const std::string& type) {
        const devices::DeviceType* known = devices::findDeviceType(type);
        ASSERT_NE(known, nullptr) << type;
        for (const auto& group : devices::kDeviceGroups)
            if (group.number == known->group)
                this->w().select(IDC_DEVICE_GROUP, std::string(group.name));
        this->w().select(IDC_DEVICE_TYPE, type);
    }

    // Presses a button and waits until its handler has returned (the driver answers
    // "done" then); the operations it starts run inside the handler.
    void pressAndWait(int id) {
        ASSERT_EQ(this->w().click(id, kOperationTimeout), Outcome::Done) << "button " << id;
    }

    // Types the file name into the first edit (the second one empty), selects the type
    // and presses Load Image(s).
    void loadTyped(const fs::path& file, const std::string& type) {
        ASSERT_NO_FATAL_FAILURE(selectType(type));
        this->w().setText(IDC_IMAGE2_FILE, "");
        this->w().setText(IDC_IMAGE_FILE, windowsPath(file));
        this->w().setText(IDC_STATUS_LINE, "-");
        pressAndWait(IDC_LOAD_IMAGES);
    }

    // The selected slot holds the file's bytes, complete, and the status line says so.
    void expectLoaded(const fs::path& file) {
        const objfile::Image image = readObject(file);
        char status[80];
        std::snprintf(status, sizeof status, "Image loaded: %llu bytes, CRC-32 %08X.",
                      static_cast<unsigned long long>(image.byteCount()),
                      objfile::imageCrc32(image));
        EXPECT_EQ(eventually([&] { return this->w().text(IDC_STATUS_LINE); }, std::string(status)),
                  status);
        const std::string slot = "image." + unit().state("image.selected") + ".";
        EXPECT_EQ(unit().state(slot + "state"), "complete");
        EXPECT_EQ(unit().state(slot + "type"), kType);
        EXPECT_TRUE(
            readObject(unit().slotDump(static_cast<int>(unit().number("image.selected")))) == image)
            << "the unit's slot differs from " << file;
    }

    // The requests of the unit's event log from index `from` on, by command name.
    std::vector<UnitEvent> eventsSince(std::size_t from, const std::string& kind,
                                       const std::string& command) {
        std::vector<UnitEvent> found;
        const auto all = unit().events();
        for (std::size_t i = from; i < all.size(); ++i)
            if (all[i].kind == kind && all[i].command == command)
                found.push_back(all[i]);
        return found;
    }
};

// ---- single runs: eight sockets, the reload warning, a broken file -------------------------

class EightSockets : public SocketsWindowTest<EightSockets> {
protected:
    // The log beside the program: the window runs in its folder. Socket 6 (empty) and 7 (a
    // chip) are not in use at this station.
    static void SetUpTestSuite() {
        openWith({kQuickRuns}, {}, {{"TraceLog", kTraceLog}, {"Sockets", "1-5,8"}});
    }
};

TEST_F(EightSockets, RunLightsEveryLampAsTheUnitDidAndProgramsTheImage) {
    ASSERT_NO_FATAL_FAILURE(loadTyped(sample(kSample), kType));
    ASSERT_NO_FATAL_FAILURE(expectLoaded(sample(kSample)));

    w().setText(IDC_STATUS_LINE, "-");
    ASSERT_NO_FATAL_FAILURE(pressAndWait(IDC_START));
    EXPECT_EQ(w().text(IDC_STATUS_LINE), kSeeResults);
    EXPECT_EQ(w().text(IDC_START), kStartCaption);
    EXPECT_FALSE(fs::exists(folder() / kReport)) << "a single run writes no report";
    // "0x" and eight hex digits.
    const std::string crc =
        unit().state("image." + unit().state("image.selected") + ".crc32").substr(2);
    EXPECT_NE(readWholeFile(folder() / kTraceLog).find("," + crc + ","), std::string::npos)
        << "the traceability log names the CRC " << crc << " the unit holds";
    const std::string unitAndRun = ",OCTO-000001," + unit().state("run.main_processes") + ",";
    EXPECT_NE(readWholeFile(folder() / kTraceLog).find(unitAndRun), std::string::npos)
        << "the unit's serial number and run count " << unitAndRun;
    // The run's lines: one per socket in use, found 0 for the one that did not answer (4), and
    // one for the chip in socket 7, not in use; none for the empty socket 6, not in use.
    std::string asked;
    for (const auto& [box, letter] :
         {std::pair{IDC_ERASE, 'e'}, std::pair{IDC_ERASE_CHECK, 'c'}, std::pair{IDC_PROGRAM, 'p'},
          std::pair{IDC_VERIFY, 'v'}, std::pair{IDC_SECURE, 's'}})
        if (w().checkState(box) == 1)
            asked += letter;
    std::string logged;
    for (const auto& line : logLines(readWholeFile(folder() / kTraceLog), unitAndRun)) {
        logged += line[kTargetColumn] + (line[kFoundColumn] == "1" ? "+" : "");
        EXPECT_EQ(line[kAskedColumn], asked) << "the steps the window asked for";
    }
    EXPECT_EQ(logged, "1+2+3+45+7+8+");

    // The scenario did what it was written for, so every kind of lamp is met below.
    for (int t = 0; t < kSockets; ++t)
        ASSERT_NE(unit().state("target." + std::to_string(t + 1) + ".last").find(kOutcomes[t]),
                  std::string::npos)
            << "socket " << t + 1;

    const auto run = runBytes(unit().state("run.result"));
    ASSERT_GT(run.size(), static_cast<std::size_t>(kMiscErrorsByte));
    const std::array<bool, kGridRows> addressed = {true, w().checkState(IDC_ERASE_CHECK) == 1,
                                                   w().checkState(IDC_VERIFY) == 1,
                                                   w().checkState(IDC_SECURE) == 1, true};
    for (int row = 0; row < kGridRows; ++row)
        for (int t = 0; t < kSockets; ++t) {
            const Lamp expected = lampAfterRun(run, addressed, row, t);
            EXPECT_EQ(eventually([&] { return readLamp(w(), lampId(row, t)); }, expected), expected)
                << "row " << row << ", target " << t + 1;
        }

    // The sockets that passed hold the image byte for byte; the one with the bad cell
    // differs there only, in the bit the cell gets wrong.
    const objfile::Image image = readObject(sample(kSample));
    for (int t = 1; t <= kSockets; ++t) {
        const std::string last = unit().state("target." + std::to_string(t) + ".last");
        if (last != "passed" && t != 2)
            continue;
        const objfile::Image chip = readObject(unit().targetDump(t));
        for (const auto& r : image.runs())
            for (std::size_t i = 0; i < r.bytes.size(); ++i) {
                const uint32_t address = r.start + static_cast<uint32_t>(i);
                const uint8_t wrongBit = t == 2 && address == kBadCell ? 0x01 : 0x00;
                ASSERT_EQ(chip.at(address), static_cast<uint8_t>(r.bytes[i] ^ wrongBit))
                    << "socket " << t << " at 0x" << std::hex << address;
            }
    }
    EXPECT_EQ(readObject(unit().targetDump(7)).at(kStuckCell), 0x00) << "erase left it stuck";
}

TEST_F(EightSockets, TypeChangeMakesStartAskForALoadAndReachesNoUnit) {
    ASSERT_NO_FATAL_FAILURE(selectType(kOtherTypeOfGroup));
    const std::size_t before = unit().events().size();
    const std::string runs = unit().state("run.main_processes");

    w().click(IDC_START);
    Window box = w().waitPopup(kAnswerTimeout);
    const MessageBoxContent content = box.messageBox();
    EXPECT_EQ(content.title, kReloadTitle);
    EXPECT_EQ(content.text, kReloadText);
    ASSERT_EQ(content.buttons.size(), 1u);
    EXPECT_EQ(content.buttons[0].first, kIdOk);
    box.press(kIdOk);
    box.waitGone(kAnswerTimeout);

    // A query is handled once the Start handler has returned: anything it sent the unit
    // is in the log by then.
    EXPECT_EQ(w().text(IDC_START), kStartCaption);
    EXPECT_TRUE(eventsSince(before, "request", "LoadParameters").empty());
    EXPECT_TRUE(eventsSince(before, "request", "MainProcess").empty());
    EXPECT_EQ(unit().state("run.main_processes"), runs);
}

TEST_F(EightSockets, BrokenFileFailsTheLoadAndTheNextRunProgramsNothing) {
    // Sockets that hold something, so that a run that touched them would show.
    ASSERT_NO_FATAL_FAILURE(loadTyped(sample(kSample), kType));
    ASSERT_NO_FATAL_FAILURE(pressAndWait(IDC_START));

    const fs::path broken = sample(kBrokenSample);
    ASSERT_NO_FATAL_FAILURE(loadTyped(broken, kType));
    // The library's text: the file, and what its reader found wrong where.
    objfile::Image ignored;
    objfile::LoadOptions options;
    options.segments = devices::usedSegments(*devices::findDeviceType(kType));
    const auto read = objfile::loadObjectFile(broken.filename().string(), readWholeFile(broken),
                                              ignored, options);
    ASSERT_FALSE(read.ok());
    const std::string failed =
        "ERROR: " + std::string(kBrokenSample) + ", " + read.error->describe();
    EXPECT_EQ(w().text(IDC_STATUS_LINE), failed);
    const std::string slot = "image." + unit().state("image.selected") + ".state";
    EXPECT_NE(unit().state(slot), "complete");

    std::array<std::string, kSockets> chips;
    for (int t = 0; t < kSockets; ++t)
        chips[t] = unit().state("target." + std::to_string(t + 1) + ".crc32");
    const long long runs = unit().number("run.main_processes");
    ASSERT_NO_FATAL_FAILURE(pressAndWait(IDC_START));
    EXPECT_EQ(w().text(IDC_STATUS_LINE), kImageCorrupted);
    EXPECT_EQ(unit().number("run.main_processes"), runs + 1);
    EXPECT_EQ(runBytes(unit().state("run.result")).at(kMiscErrorsByte), kMiscImageCorrupted);
    for (int t = 0; t < kSockets; ++t)
        EXPECT_EQ(unit().state("target." + std::to_string(t + 1) + ".crc32"), chips[t])
            << "socket " << t + 1;
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id)
        EXPECT_EQ(eventually([&] { return readLamp(w(), id); }, Lamp::Grey), Lamp::Grey)
            << "lamp " << id;
}

// ---- continual series with a report --------------------------------------------------------

class ContinualSeries : public SocketsWindowTest<ContinualSeries> {
protected:
    static void SetUpTestSuite() {
        openWith({kStoppableRuns},
                 {{"RepeatOctoprog", std::to_string(kSeriesRuns)}, {"CreateLogFile", "1"}});
    }

    // Chooses the file with the browse button's dialog, selects the type and loads.
    void loadChosen(const fs::path& file) {
        ASSERT_NO_FATAL_FAILURE(selectType(kType));
        w().setText(IDC_IMAGE2_FILE, "");
        w().click(IDC_BROWSE_IMAGE);
        Window dialog = w().waitPopup(kAnswerTimeout);
        EXPECT_EQ(dialog.caption(), kLoadDialogTitle);
        dialog.fileName(windowsPath(file));
        dialog.press(kIdOk);
        dialog.waitGone(kAnswerTimeout);
        ASSERT_EQ(eventually([&] { return w().text(IDC_IMAGE_FILE); }, windowsPath(file)),
                  windowsPath(file));
        pressAndWait(IDC_LOAD_IMAGES);
        expectLoaded(file);
    }

    // The report's head: the conditions the unit was really given.
    std::string reportHead(const std::string& imageFile) {
        const auto options = static_cast<uint32_t>(unit().number("params.options"));
        constexpr uint32_t kSwitchOffFlag = 0x80;
        const auto volts =
            static_cast<uint32_t>(unit().number("params.target_vcc")) & ~kSwitchOffFlag;
        const auto settleMs = static_cast<uint32_t>(unit().number("params.settle_ms"));
        // Main and information memory are both chosen, so each step shows in its bits.
        const bool erase = options & 0x3;
        const bool check = options & 0x300;
        const bool program = (options & 0x98) == 0x98;
        const bool verify = options & 0x20;
        const bool secure = options & 0x40;
        char text[1024];
        std::snprintf(text, sizeof text,
                      "Continual Main Process Test on Octo Programmer for ZEL816 FLASH devices\n\n"
                      "Conditions:\n"
                      "   File:           %s\n"
                      "   File2:          \n"
                      "   Supply Voltage: %3.1f V\n"
                      "   Settle Time:    %3.1f s\n"
                      "   Mass Erase:     %d\n"
                      "   Erase Check:    %d\n"
                      "   Program:        %d\n"
                      "   Verify:         %d\n"
                      "   Blow Fuse:      %d\n\n",
                      imageFile.c_str(), volts / 10.0, settleMs / 1000.0, erase, check, program,
                      verify, secure);
        return text;
    }

    // Lines of a text, without their carriage returns.
    static std::vector<std::string> splitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    // The report's lines; the last one (the measured time) is checked for its form and
    // left off.
    std::vector<std::string> reportLines() {
        std::vector<std::string> lines = splitLines(readWholeFile(folder() / kReport));
        static const std::regex kTiming(R"(Time for one successful session: ( \d|\d{2,})\.\d s)");
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_TRUE(std::regex_match(lines.back(), kTiming)) << lines.back();
            lines.pop_back();
        }
        return lines;
    }

    void waitForSeriesEnd() {
        EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, std::string(kSeriesEnded),
                             kSeriesTimeout),
                  kSeriesEnded);
        EXPECT_EQ(eventually([&] { return w().text(IDC_START); }, std::string(kStartCaption)),
                  kStartCaption);
        // The run in progress at the end completes: Busy goes back to 0 and Start is
        // enabled again.
        EXPECT_TRUE(eventually([&] { return iniText().find("\nBusy=0\r\n") != std::string::npos; },
                               true, kOperationTimeout));
        EXPECT_TRUE(eventually([&] { return w().enabled(IDC_START); }, true, kOperationTimeout));
    }
};

TEST_F(ContinualSeries, ThreeRunsWriteTheReportOfWhatTheUnitDid) {
    const fs::path file = sample(kSampleText);
    ASSERT_NO_FATAL_FAILURE(loadChosen(file));
    const std::size_t before = unit().events().size();
    const long long runs = unit().number("run.main_processes");

    w().click(IDC_START);
    EXPECT_EQ(eventually([&] { return w().text(IDC_START); }, std::string(kStopCaption)),
              kStopCaption);
    ASSERT_NO_FATAL_FAILURE(waitForSeriesEnd());
    EXPECT_EQ(unit().number("run.main_processes"), runs + kSeriesRuns);

    // Rows from each run's answer: targets that passed, and the running totals.
    std::string expected = reportHead(windowsPath(file)) +
                           "Session   Overall         Connected Errors    Percentage\n";
    int connectedTotal = 0;
    int errorTotal = 0;
    int session = 0;
    for (const UnitEvent& answer : eventsSince(before, "answer", "MainProcess")) {
        const auto run = runBytes(answer.run);
        char cell[64];
        std::snprintf(cell, sizeof cell, "%7d   ", ++session);
        expected += cell;
        for (int t = 0; t < kSockets; ++t) {
            const bool connected = (run.at(0) >> t) & 1;
            const bool passed = (run.at(kOverAllRow) >> t) & 1;
            connectedTotal += connected;
            errorTotal += connected && !passed;
            expected += passed ? "1 " : "0 ";
        }
        std::snprintf(cell, sizeof cell, "   %6d %6d    %6.2f %%\n", connectedTotal, errorTotal,
                      errorTotal * 100.0 / connectedTotal);
        expected += cell;
    }
    EXPECT_EQ(session, kSeriesRuns);
    expected += "\n";
    EXPECT_EQ(reportLines(), splitLines(expected));
}

TEST_F(ContinualSeries, StopDuringTheFirstRunLetsItEndAndStartsNoOther) {
    const fs::path file = sample(kSampleText);
    ASSERT_NO_FATAL_FAILURE(loadChosen(file));
    const long long runs = unit().number("run.main_processes");

    w().click(IDC_START);
    ASSERT_EQ(eventually([&] { return w().text(IDC_START); }, std::string(kStopCaption)),
              kStopCaption);
    ASSERT_TRUE(eventually(
        [&] {
            return unit().state("unit.last_command") == "MainProcess" &&
                   unit().state("unit.working") == "yes";
        },
        true, kOperationTimeout))
        << "the first run never reached the unit";
    w().click(IDC_START);
    ASSERT_NO_FATAL_FAILURE(waitForSeriesEnd());
    EXPECT_EQ(unit().state("unit.working"), "no");
    EXPECT_FALSE(waitUntil(kNoFurtherRun, [&] {
        return unit().number("run.main_processes") > runs + 1;
    })) << "another run started after the stop";
    EXPECT_EQ(unit().number("run.main_processes"), runs + 1);

    // The head, no row for the stopped run, and the time line.
    EXPECT_EQ(reportLines(), splitLines(reportHead(windowsPath(file)) + "\n"));
}

} // namespace
} // namespace octo::e2e

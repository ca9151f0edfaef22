// The real window serializing against the simulated unit: section Serial names a ledger, a
// run programs the eight sockets (one empty, one whose record does not verify) with a record
// each, and the unit's chip log, the chips' memory, the ledger and the lamps' tooltips agree.
#include "UnitWindowTest.h"

#include "serials/serial_ledger.h"

#include <algorithm>
#include <map>
#include <regex>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;
using serials::NumberRun;
using serials::RecordState;

constexpr char kSample[] = "A110_blink.hex";
constexpr char kSeeResults[] = "Result of the Operation: See Result Section.";
constexpr char kLedger[] = "station.ledger";
constexpr uint32_t kRecordAddress = 0x1000; // the A110's information memory
constexpr int kFaultySocket = 3;
constexpr int kEmptySocket = 6;
constexpr char kScenario[] = R"(# Records on eight sockets: one empty, one that does not verify.
target.3.fault.record = yes
target.6.present = no
dump_targets = yes
)";

struct ChipRecord {
    std::string data;
    bool verified = false;
};

class SerialRuns : public UnitWindowTest<SerialRuns> {
protected:
    // The ledger beside the program: the window runs in its folder.
    static void SetUpTestSuite() {
        openWithUnit("serial_sockets.txt", kScenario, {"time_scale=0.1"}, {}, {},
                     std::string("[Serial]\r\nLedger=") + kLedger +
                         "\r\nAddress=0x1000\r\nStart=1000\r\nEnd=1999\r\nFormat=le32\r\n");
    }

    // The unit's chip log by socket.
    std::map<int, ChipRecord> chipLog() {
        static const std::regex kLine(
            R"(run=1 socket=(\d) address=0x0*1000 data=([0-9a-f]+) verified=([01]))");
        std::map<int, ChipRecord> records;
        std::istringstream in(readWholeFile(unit().chipLog()));
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_match(line, m, kLine))
                ADD_FAILURE() << "unexpected chip log line: " << line;
            else
                records[std::stoi(m[1])] = {m[2], m[3] == "1"};
        }
        return records;
    }
};

TEST_F(SerialRuns, ARunGivesEachChipItsOwnRecordAndTheLedgerAgreesWithTheChips) {
    w().setText(IDC_IMAGE2_FILE, "");
    w().setText(IDC_IMAGE_FILE, windowsPath(Paths::repository() / "dist" / "samples" / kSample));
    ASSERT_EQ(w().click(IDC_LOAD_IMAGES, kOperationTimeout), Outcome::Done);
    ASSERT_EQ(w().text(IDC_STATUS_LINE).rfind("Image loaded", 0), 0u) << w().text(IDC_STATUS_LINE);
    ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
    ASSERT_EQ(w().text(IDC_STATUS_LINE), kSeeResults);

    // Socket s got 1000 + s - 1, as le32; the empty one nothing.
    const std::map<int, ChipRecord> chips = chipLog();
    EXPECT_EQ(chips.size(), 7u);
    EXPECT_EQ(chips.count(kEmptySocket), 0u);
    for (const auto& [socket, record] : chips) {
        const uint32_t serial = 1000 + static_cast<uint32_t>(socket) - 1;
        char le32[9];
        std::snprintf(le32, sizeof le32, "%02x%02x%02x%02x", serial & 0xFF, (serial >> 8) & 0xFF,
                      (serial >> 16) & 0xFF, serial >> 24);
        EXPECT_EQ(record.data, le32) << "socket " << socket;
        EXPECT_EQ(record.verified, socket != kFaultySocket) << "socket " << socket;
    }
    EXPECT_EQ(readObject(unit().targetDump(1)).at(kRecordAddress), 0xe8) << "1000 is e8 03 00 00";

    // Programmed exactly where the chip verified it, void where it did not, released where
    // no chip was.
    const serials::LedgerSummary ledger = serials::SerialLedger::inspect(folder() / kLedger);
    const auto ranges = [&](RecordState s) { return ledger.states[static_cast<size_t>(s)].ranges; };
    EXPECT_EQ(ranges(RecordState::Programmed),
              (std::vector<NumberRun>{{1000, 1001}, {1003, 1004}, {1006, 1007}}));
    EXPECT_EQ(ranges(RecordState::Void), (std::vector<NumberRun>{{1002, 1002}}));
    EXPECT_EQ(ranges(RecordState::Released), (std::vector<NumberRun>{{1005, 1005}}));
    EXPECT_EQ(ranges(RecordState::Reserved), std::vector<NumberRun>{});

    EXPECT_EQ(w().toolTip(lampId(kOverAllRow, 0)), "Target 1: serial 1000 (e8030000), programmed");
    EXPECT_EQ(w().toolTip(lampId(kOverAllRow, kFaultySocket - 1)),
              "Target 3: serial 1002 (ea030000), void");
}

// A pass that would not write the records afresh, and a window started anew, get no records:
// the box says why, and neither the unit, the chips nor the ledger see anything of it.
TEST_F(SerialRuns, APassThatDoesNotProgramAndARestartedWindowGetNoRecords) {
    const auto loadImage = [&] {
        w().setText(IDC_IMAGE2_FILE, "");
        w().setText(IDC_IMAGE_FILE,
                    windowsPath(Paths::repository() / "dist" / "samples" / kSample));
        ASSERT_EQ(w().click(IDC_LOAD_IMAGES, kOperationTimeout), Outcome::Done);
        ASSERT_EQ(w().text(IDC_STATUS_LINE).rfind("Image loaded", 0), 0u)
            << w().text(IDC_STATUS_LINE);
    };
    const auto programmed = [&] {
        return serials::SerialLedger::inspect(folder() / kLedger)
            .states[static_cast<size_t>(RecordState::Programmed)]
            .count;
    };
    const auto chipLines = [&] {
        const std::string log = readWholeFile(unit().chipLog());
        return std::count(log.begin(), log.end(), '\n');
    };
    const auto chipRecord = [&] { return readObject(unit().targetDump(1)).at(kRecordAddress); };
    // Start, then the box it opens: its text, closed with OK.
    const auto refusedStart = [&] {
        w().click(IDC_START);
        Window box = w().waitPopup(kAnswerTimeout);
        const MessageBoxContent content = box.messageBox();
        box.press(kIdOk);
        box.waitGone(kAnswerTimeout);
        EXPECT_EQ(content.title, "Serial numbers");
        return content.text;
    };

    ASSERT_NO_FATAL_FAILURE(loadImage());
    ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
    ASSERT_EQ(w().text(IDC_STATUS_LINE), kSeeResults);
    const uint64_t before = programmed();
    const auto lines = chipLines();
    const auto record = chipRecord();
    const std::string runs = unit().state("run.main_processes");

    // Verify only (options 0x4020): Erase, Erase Check and Program cleared.
    for (int box : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM})
        w().click(box);
    ASSERT_EQ(w().checkState(IDC_VERIFY), 1);
    for (int box : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_ERASE_INFO})
        ASSERT_EQ(w().checkState(box), 0) << box;
    EXPECT_EQ(refusedStart(), "The serial numbers at 0x1000 go only into memory that this pass "
                              "erases and programs itself.\nCheck Erase, Info Memory and "
                              "Program.\nThe run was not started.");
    EXPECT_EQ(unit().state("run.main_processes"), runs);
    EXPECT_EQ(chipLines(), lines);
    EXPECT_EQ(chipRecord(), record);
    EXPECT_EQ(programmed(), before);
    for (int box : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_ERASE_INFO})
        w().click(box);
    for (int box : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_ERASE_MAIN, IDC_ERASE_INFO})
        ASSERT_EQ(w().checkState(box), 1) << box;

    // Started anew, the window finds the image in the unit but did not load it itself.
    session().stopProgram();
    window_ = std::make_unique<Window>(launchAndWaitForStartup(session(), kUnitWindowStartTimeout));
    EXPECT_EQ(refusedStart(), "Serial numbers need an image that this program loaded since it "
                              "started.\nPress Load Image(s) first, then Start.\nThe run was "
                              "not started.");
    EXPECT_EQ(unit().state("run.main_processes"), runs);
    EXPECT_EQ(chipLines(), lines);
    EXPECT_EQ(programmed(), before);
    const serials::LedgerSummary ledger = serials::SerialLedger::inspect(folder() / kLedger);
    EXPECT_EQ(ledger.states[static_cast<size_t>(RecordState::Reserved)].count, 0u);

    // Loaded again, the next Start programs the chips with new records.
    ASSERT_NO_FATAL_FAILURE(loadImage());
    ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
    ASSERT_EQ(w().text(IDC_STATUS_LINE), kSeeResults);
    EXPECT_EQ(programmed(), before + 6) << "the empty and the faulty socket excepted";
    EXPECT_EQ(chipLines(), lines + 7);
    EXPECT_NE(chipRecord(), record);
}

} // namespace
} // namespace octo::e2e

// octo816 program with serial records, stopped by a signal at each phase of a run, and runs
// whose outcome the ledger must take from the result block: the real program against the
// simulated unit, its chip log (what reached the chips), the ledger and the traceability log.
#include "SimulatedUnit.h"
#include "serials/serial_ledger.h"
#include "serials/sqlite_db.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;
using serials::RecordState;

constexpr auto kDeadline = std::chrono::seconds(20);

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// octo816 with its standard output and error in files of the unit's folder.
class Tool {
public:
    Tool(const SimulatedUnit& unit, std::vector<std::string> args) : folder_(unit.folder()) {
        args.insert(args.begin() + 1, {"--port", unit.link()});
        args.insert(args.begin(), OCTO816_PATH);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open((folder_ / "tool.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                 STDOUT_FILENO);
            dup2(open((folder_ / "tool.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                 STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(OCTO816_PATH, argv.data());
            _exit(127);
        }
    }
    ~Tool() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    void signal(int number) const { kill(pid_, number); }
    // The wait status at its end.
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    std::string out() const { return readFile(folder_ / "tool.out"); }
    std::string err() const { return readFile(folder_ / "tool.err"); }
    bool errSays(const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (err().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    fs::path folder_;
    pid_t pid_ = -1;
};

std::vector<std::string> serialProgram(const fs::path& folder) {
    return {"program",
            "--type",
            "ZEL816 A110",
            "--vcc",
            "3.0",
            "--json",
            "--repeat",
            "2",
            "--log",
            (folder / "trace.csv").string(),
            "--ledger",
            (folder / "station.ledger").string(),
            "--serial-address",
            "0x1000",
            "--serial-start",
            "1",
            "--serial-end",
            "100",
            "--serial-format",
            "le32",
            samplePath("A110_blink.txt").string()};
}

// The ledger as the next run finds it: what a stop left reserved becomes void.
struct LedgerFacts {
    uint64_t interrupted = 0;
    std::array<uint64_t, serials::kStates> counts{};
    uint64_t count(RecordState state) const { return counts[static_cast<size_t>(state)]; }
};

LedgerFacts openLedger(const fs::path& folder) {
    const serials::SerialLedger ledger = serials::SerialLedger::open(
        (folder / "station.ledger").string(),
        serials::SerialScheme::numbers(
            {.start = 1, .end = 100, .step = 1, .format = serials::NumberFormat::Le32}));
    LedgerFacts facts{.interrupted = ledger.interruptedAtOpen()};
    const serials::LedgerSummary summary = ledger.summary();
    for (size_t i = 0; i < serials::kStates; ++i) {
        facts.counts[i] = summary.states[i].count;
    }
    return facts;
}

// Socket -> record for each line of the unit's chip log (one run's records).
std::map<int, std::string> chipRecords(const SimulatedUnit& unit) {
    static const std::regex kLine(R"(run=1 socket=(\d) address=0x1000 data=([0-9a-f]+) .*)");
    std::map<int, std::string> records;
    for (const std::string& line : unit.chipLog()) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, kLine)) << line;
        if (!m.empty()) {
            records[std::stoi(m[1])] = m[2];
        }
    }
    return records;
}

// Socket -> serial column for each line of the traceability log.
std::map<int, std::string> loggedRecords(const fs::path& log) {
    std::map<int, std::string> records;
    const std::vector<std::string> lines = linesOf(readFile(log));
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::istringstream in(lines[i]);
        for (std::string field; std::getline(in, field, ',');) {
            fields.push_back(field);
        }
        EXPECT_EQ(fields.size(), 16u) << lines[i] << " (the serial column is the last)";
        if (fields.size() == 16) {
            records[std::stoi(fields[6])] = fields[15];
        }
    }
    return records;
}

std::string signalName(int number) {
    switch (number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "SIGHUP";
    }
}

// A stop before the main process hands back the records; a stop during the unit's run waits
// for its result and settles and logs it; a second stop ends at once and leaves the run's
// records reserved, so that the next open voids them. The series stops either way.
TEST(CliStopTest, EachStopSignalAtEachPhaseOfASerialRun) {
    enum class Phase { BeforeMainProcess, DuringRun, SecondDuringRun };
    const struct {
        Phase phase;
        const char* setting; // makes the phase last long enough to be met
        const char* key;     // the unit's state that says the phase has begun
        const char* value;
        LedgerFacts ledger;
        size_t chips;
        std::string stopped; // the line at the end, after "stopped by SIG..."
    } phases[] = {
        {Phase::BeforeMainProcess,
         "timing.erase_image_ms=1500",
         "unit.last_command",
         "ImageErase",
         {.counts = {0, 0, 0, 8}},
         0,
         " before run 1: its records are released"},
        {Phase::DuringRun,
         "timing.run_ms=2000",
         "run.main_processes",
         "1",
         {.counts = {0, 6, 1, 1}},
         7,
         " after run 1"},
        {Phase::SecondDuringRun,
         "timing.run_ms=2000",
         "run.main_processes",
         "1",
         {.interrupted = 8, .counts = {0, 0, 8, 0}},
         7,
         ""},
    };
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        for (const auto& p : phases) {
            SCOPED_TRACE(signalName(number) + " at phase " +
                         std::to_string(static_cast<int>(p.phase)));
            SimulatedUnit unit({"target.all.type=ZEL816 A110", "target.3.present=no",
                                "target.5.fault.record=yes", "time_scale=1",
                                "timing.erase_image_ms=0", p.setting});
            Tool tool(unit, serialProgram(unit.folder()));
            ASSERT_TRUE(unit.waitFor(p.key, p.value)) << tool.err();
            tool.signal(number);
            if (p.phase == Phase::SecondDuringRun) {
                ASSERT_TRUE(tool.errSays("octo816: stopping")) << tool.err();
                tool.signal(number);
            }
            const int status = tool.wait();
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;

            const std::string err = tool.err();
            const std::string stopped = "octo816: stopped by " + signalName(number);
            if (p.stopped.empty()) {
                EXPECT_EQ(err.find(stopped), std::string::npos) << err;
            } else {
                EXPECT_NE(err.find(stopped + p.stopped + "\n"), std::string::npos) << err;
            }
            EXPECT_EQ(unit.state("run.main_processes"), p.chips == 0 ? "0" : "1")
                << "the series stops";
            const LedgerFacts ledger = openLedger(unit.folder());
            EXPECT_EQ(ledger.interrupted, p.ledger.interrupted);
            EXPECT_EQ(ledger.counts, p.ledger.counts);

            const std::map<int, std::string> chips = chipRecords(unit);
            EXPECT_EQ(chips.size(), p.chips);
            const fs::path log = unit.folder() / "trace.csv";
            if (p.phase == Phase::DuringRun) {
                // The run's lines name what each chip holds, and its report went out.
                EXPECT_EQ(loggedRecords(log), chips);
                EXPECT_EQ(linesOf(tool.out()).size(), 1u) << tool.out();
            } else {
                EXPECT_FALSE(fs::exists(log)) << readFile(log);
            }
        }
    }
}

// Each value of a column of the ledger's table.
std::set<std::string> columnValues(const fs::path& ledger, const char* sql) {
    serials::sqlite::Database db(ledger.string(), SQLITE_OPEN_READONLY);
    serials::sqlite::Statement rows(db, sql);
    std::set<std::string> values;
    while (rows.step()) {
        values.insert(rows.text(0));
    }
    return values;
}

TEST(CliSerialUnitTest, TheLedgerNamesTheUnitBySerialNumberAndPort) {
    SimulatedUnit unit({"target.all.type=ZEL816 A110", "unit.serial=OCTO-0042"});
    Tool tool(unit, serialProgram(unit.folder()));
    const int status = tool.wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << tool.err();
    const fs::path ledger = unit.folder() / "station.ledger";
    const std::set<std::string> expected = {"OCTO-0042 " + unit.link()};
    EXPECT_EQ(columnValues(ledger, "SELECT unit FROM runs"), expected);
    EXPECT_EQ(columnValues(ledger, "SELECT unit FROM serials"), expected);
}

// A run the unit counts as failed still has a result block, and it says what reached the
// chips: here the image memory lost its image, so the unit touched no chip.
TEST(CliSerialUnitTest, ARunTheUnitCountsAsFailedIsSettledByItsResultBlock) {
    SimulatedUnit unit(
        {"target.all.type=ZEL816 A110", "target.3.present=no", "image.lost_at_run=2"});
    Tool failed(unit, serialProgram(unit.folder()));
    const int status = failed.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << failed.err();
    const std::vector<std::string> runs = linesOf(failed.out());
    ASSERT_EQ(runs.size(), 2u) << failed.out();
    EXPECT_NE(runs[1].find("\"result\":{\"code\":50,"), std::string::npos) << runs[1];
    const std::regex state(R"re("record_state":"(\w+)")re");
    std::vector<std::string> states;
    for (auto it = std::sregex_iterator(runs[1].begin(), runs[1].end(), state);
         it != std::sregex_iterator(); ++it) {
        states.push_back((*it)[1]);
    }
    EXPECT_EQ(states, std::vector<std::string>(8, "released")) << runs[1];
    EXPECT_EQ(unit.chipLog().size(), 7u) << "run 1's";
    const LedgerFacts ledger = openLedger(unit.folder());
    EXPECT_EQ(ledger.counts, (std::array<uint64_t, serials::kStates>{0, 7, 0, 8}));
    // The log has run 1's seven lines; run 2 found no chip.
    EXPECT_EQ(linesOf(readFile(unit.folder() / "trace.csv")).size(), 1u + 7);
}

} // namespace
} // namespace octo::testing

// The unit unplugged from the real window's COM1 in the middle of an image load and of a
// main process: the call fails within its bound with the link's code and text in the
// status line, the window stays usable, and after the unit is plugged back the next load
// and run program the targets, checked byte for byte, without restarting the program.
#include "UnitWindowTest.h"

#include "devices/device_table.h"
#include "objfile/crc32.h"
#include "ops/MainProcess.h"

#include <csignal>
#include <cstdio>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr Millis kAnswerTimeout{30000};
constexpr Millis kOperationTimeout{90000};
// How often the status line is read while waiting for the moment to unplug.
constexpr Millis kWatchStep{20};
// A button pressed without waiting for its handler (under Wine a time-out of 0 waits for
// good).
constexpr Millis kNoWait{100};
constexpr int kSockets = 8;
// The load is cut when the unit has this part of the image.
constexpr long long kPartsBeforeUnplug = 5;

// A large image, paced at the line rate: its load takes seconds, so the unplug meets the
// stream. The small one programs the targets after the unit is back.
constexpr char kLargeType[] = "ZEL816 A449";
constexpr char kLargeSample[] = "A449_full.hex";
constexpr char kSmallType[] = "ZEL816 A110";
constexpr char kSmallSample[] = "A110_blink.hex";
// The unit stays unplugged until it is plugged back by the test (a second SIGUSR1).
constexpr char kScenario[] = R"(pace = yes
unplug.for_ms = 0
dump_targets = yes
)";

// The library's text for code 6, the link lost (docs/library.md).
constexpr char kLinkLost[] = "ERROR: Timeout during operation - Correct COM port selected?";
constexpr char kSeeResults[] = "Result of the Operation: See Result Section.";
// Documented bounds at 115200 (docs/library.md, "How long a call may take"): the Hello a
// call says first when the link failed before, a short exchange, and the stream of 60 KiB.
constexpr Millis kHelloBound{3200};
constexpr Millis kShortBound{3400};
constexpr Millis kLargeStreamBound{63000};
constexpr long long kMsPerTimeoutUnit = 100;

fs::path sample(const std::string& name) {
    return Paths::repository() / "dist" / "samples" / name;
}

class Unplugged : public UnitWindowTest<Unplugged> {
protected:
    static void SetUpTestSuite() { openWithUnit("unplug.txt", kScenario, {}, {}); }

    void selectType(const std::string& type) {
        const devices::DeviceType* known = devices::findDeviceType(type);
        ASSERT_NE(known, nullptr) << type;
        for (const auto& group : devices::kDeviceGroups)
            if (group.number == known->group)
                w().select(IDC_DEVICE_GROUP, std::string(group.name));
        w().select(IDC_DEVICE_TYPE, type);
    }

    // Starts Load Image(s) of the file without waiting for its end.
    void startLoad(const std::string& file, const std::string& type) {
        ASSERT_NO_FATAL_FAILURE(selectType(type));
        w().setText(IDC_IMAGE2_FILE, "");
        w().setText(IDC_IMAGE_FILE, windowsPath(sample(file)));
        w().setText(IDC_STATUS_LINE, "-");
        w().click(IDC_LOAD_IMAGES, kNoWait);
    }

    // Waits until the unit's state shows the moment, then pulls its plug. (The unit's
    // state, not the status line: the window answers a query only between two pumps of
    // the library's wait, too late for a moment a few hundred milliseconds long.)
    template <typename Moment>
    Clock::time_point unplugAt(const std::string& what, Moment moment) {
        EXPECT_TRUE(waitUntil(kOperationTimeout, moment, kWatchStep))
            << "the unit never reached " << what;
        unit().signal(SIGUSR1);
        const auto at = Clock::now();
        EXPECT_TRUE(
            waitUntil(kAnswerTimeout, [&] { return unit().state("link.state") == "unplugged"; }));
        return at;
    }

    // The failure shows in the status line within `bound` of the unplug, and the window
    // is usable again: its buttons enabled, an option answering a click.
    void expectFailedAndUsable(const std::string& failed, Clock::time_point unplugged,
                               Millis bound) {
        EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, failed, bound), failed);
        EXPECT_LE(std::chrono::duration_cast<Millis>(Clock::now() - unplugged), bound);
        EXPECT_TRUE(eventually([&] { return w().enabled(IDC_LOAD_IMAGES); }, true));
        EXPECT_TRUE(w().enabled(IDC_START));
        const int verify = w().checkState(IDC_VERIFY);
        EXPECT_EQ(w().click(IDC_VERIFY), Outcome::Done);
        EXPECT_EQ(w().checkState(IDC_VERIFY), 1 - verify);
        EXPECT_EQ(w().click(IDC_VERIFY), Outcome::Done);
    }

    void plugBack() {
        if (unit().state("link.state") == "unplugged")
            unit().signal(SIGUSR1);
        ASSERT_TRUE(
            waitUntil(kAnswerTimeout, [&] { return unit().state("link.state") == "plugged"; }));
    }

    void loadSmall() {
        ASSERT_NO_FATAL_FAILURE(startLoad(kSmallSample, kSmallType));
        const objfile::Image image = readObject(sample(kSmallSample));
        char loaded[80];
        std::snprintf(loaded, sizeof loaded, "Image loaded: %llu bytes, CRC-32 %08X.",
                      static_cast<unsigned long long>(image.byteCount()),
                      objfile::imageCrc32(image));
        ASSERT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, std::string(loaded),
                             kOperationTimeout),
                  loaded);
        ASSERT_TRUE(eventually([&] { return w().enabled(IDC_START); }, true, kAnswerTimeout));
    }

    // Plugs the unit back; then a load and a run program all sockets with the small image.
    void replugLoadAndRun() {
        ASSERT_NO_FATAL_FAILURE(plugBack());
        ASSERT_NO_FATAL_FAILURE(loadSmall());
        const long long runs = unit().number("run.main_processes");
        ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
        EXPECT_EQ(w().text(IDC_STATUS_LINE), kSeeResults);
        EXPECT_EQ(unit().number("run.main_processes"), runs + 1);
        const objfile::Image image = readObject(sample(kSmallSample));
        for (int t = 1; t <= kSockets; ++t) {
            const objfile::Image chip = readObject(unit().targetDump(t));
            for (const auto& piece : image.runs())
                for (std::size_t i = 0; i < piece.bytes.size(); ++i) {
                    const uint32_t address = piece.start + static_cast<uint32_t>(i);
                    ASSERT_EQ(chip.at(address), piece.bytes[i])
                        << "socket " << t << " at 0x" << std::hex << address;
                }
        }
    }

    // The time-out the window gives the library for a run, from the estimate it saved.
    Millis runTimeout() {
        const std::string ini = readWholeFile(folder() / kConfigIni);
        const std::string key = "\nTimeOctoProg=";
        const std::size_t at = ini.find(key);
        EXPECT_NE(at, std::string::npos);
        const auto estimate = at == std::string::npos ? 0 : std::stoul(ini.substr(at + key.size()));
        return Millis{static_cast<long long>(libraryTimeout(static_cast<uint32_t>(estimate))) *
                      kMsPerTimeoutUnit};
    }
};

TEST_F(Unplugged, DuringAnImageLoadTheLoadFailsAndAfterReplugTheNextLoadAndRunWork) {
    ASSERT_NO_FATAL_FAILURE(startLoad(kLargeSample, kLargeType));
    const long long fifth =
        static_cast<long long>(readObject(sample(kLargeSample)).byteCount()) / kPartsBeforeUnplug;
    const auto at = unplugAt("a fifth of the image", [&] {
        return unit().number("image." + unit().state("image.selected") + ".received") >= fifth;
    });
    const std::string failed =
        std::string("ERROR: Image transfer of ") + kLargeSample + " interrupted. " + kLinkLost;
    ASSERT_NO_FATAL_FAILURE(
        expectFailedAndUsable(failed, at, kHelloBound + kShortBound + kLargeStreamBound));
    EXPECT_EQ(unit().state("image." + unit().state("image.selected") + ".state"), "loading");
    ASSERT_NO_FATAL_FAILURE(replugLoadAndRun());
}

TEST_F(Unplugged, DuringAMainProcessTheRunFailsAndAfterReplugTheNextLoadAndRunWork) {
    ASSERT_NO_FATAL_FAILURE(plugBack());
    ASSERT_NO_FATAL_FAILURE(loadSmall());
    w().setText(IDC_STATUS_LINE, "-");
    w().click(IDC_START, kNoWait);
    const auto at = unplugAt("the main process", [&] {
        return unit().state("unit.last_command") == "MainProcess" &&
               unit().state("unit.working") == "yes";
    });
    ASSERT_NO_FATAL_FAILURE(
        expectFailedAndUsable(std::string("ERROR: Main Process interrupted. ") + kLinkLost, at,
                              runTimeout() + kHelloBound));
    ASSERT_NO_FATAL_FAILURE(replugLoadAndRun());
}

} // namespace
} // namespace octo::e2e

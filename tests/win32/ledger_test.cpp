// The serial ledger built for Windows, on the SQLite compiled from Debian's source: a run
// reserved, settled and read back, and the ledger held against a second program.
#include "serials/serial_ledger.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <filesystem>
#include <string>

namespace octo::serials {
namespace {

namespace fs = std::filesystem;

class WindowsLedgerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() / ("octo_ledger_" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    std::string path() const { return (folder_ / "station.ledger").string(); }

    fs::path folder_;
};

TEST_F(WindowsLedgerTest, ARunIsReservedSettledAndReadBack) {
    const SerialScheme scheme = SerialScheme::numbers({100, 199, 1, NumberFormat::Be32, 0});
    constexpr std::array<int, 8> kSockets = {1, 2, 3, 4, 5, 6, 7, 8};
    {
        SerialLedger ledger = SerialLedger::open(path(), scheme);
        const Reservation reservation = ledger.reserve({"COM1", 0xCAFEu}, kSockets);
        EXPECT_EQ(reservation.forSocket(8)->value, "0000006b");
        ledger.settle(reservation,
                      {Outcome::Passed, Outcome::Failed, Outcome::NotConnected, Outcome::Passed,
                       Outcome::Passed, Outcome::Passed, Outcome::Passed, Outcome::Passed});
        try {
            SerialLedger::open(path(), scheme);
            ADD_FAILURE() << "a second holder opened the ledger";
        } catch (const LedgerError& e) {
            EXPECT_EQ(e.fault(), LedgerFault::InUse);
        }
        // A reader is not kept out by the holder, and makes no file.
        const LedgerSummary held = SerialLedger::inspect(path());
        EXPECT_TRUE(held.inUse);
        EXPECT_EQ(held.states[static_cast<size_t>(RecordState::Programmed)].count, 6u);
        EXPECT_FALSE(SerialLedger::backup(path()).empty());
        EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
        ledger.reserve({"COM1", std::nullopt}, std::array<int, 1>{1});
    }
    SerialLedger ledger = SerialLedger::open(path(), scheme);
    EXPECT_EQ(ledger.interruptedAtOpen(), 1u);
    const LedgerSummary summary = ledger.summary();
    EXPECT_EQ(summary.states[static_cast<size_t>(RecordState::Programmed)].ranges,
              (std::vector<NumberRun>{{100, 100}, {103, 107}}));
    ASSERT_EQ(summary.voids.size(), 2u);
    EXPECT_EQ(summary.voids[1].reason, "interrupted") << "the released 102, reserved again";
}

TEST_F(WindowsLedgerTest, ANameInTheAnsiCodePageIsTheFileOpened) {
    // "Linie-<A umlaut>.ledger" in the code page: one byte that is no UTF-8 on its own.
    WCHAR wide[] = L"Linie-\u00C4.ledger";
    char ansi[MAX_PATH] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr), 0);
    const std::string path = folder_.string() + "\\" + ansi;
    SerialLedger::open(path, SerialScheme::numbers({1, 9, 1, NumberFormat::Ascii, 1}));
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace octo::serials

// The three sub-dialogs as the main window opens them, each on its own in-memory view made
// from its template: the About box's fields, the read-out fields' checks and the signal
// words the signals dialog sends.
#include "dialogs/ReadOutDialog.h"
#include "resources/resource.h"
#include "support/DialogWithIni.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace octo {
namespace {

using testing::InMemoryView;

class SubDialogsTest : public testing::DialogWithIni {
protected:
    SubDialogsTest() { state.programDirectory = kFolder; }

    void unitAnswers(uint16_t hardware, uint16_t firmware, const char* name) {
        library->resultBlock[8] = hardware >> 8;
        library->resultBlock[9] = hardware & 0xFF;
        library->resultBlock[10] = firmware >> 8;
        library->resultBlock[11] = firmware & 0xFF;
        std::copy(name, name + std::char_traits<char>::length(name) + 1,
                  library->resultBlock.begin() + 12);
        library->setFallback("OctoGetResult", 0);
    }
    void noUnit() { library->setFallback("OctoGetResult", kNoAnswer); }

    static constexpr char kFolder[] = "C:\\OCTO\\";
    static constexpr int32_t kNoAnswer = 5;
};

struct AboutFields {
    std::string copyright, exe, dll, ini, firmwareName, firmware, hardware;
};

AboutFields aboutFields(const InMemoryView& box) {
    return {box.text(IDC_ABOUT_COPYRIGHT),       box.text(IDC_ABOUT_EXE_VERSION),
            box.text(IDC_ABOUT_DLL_VERSION),     box.text(IDC_ABOUT_INI_VERSION),
            box.text(IDC_ABOUT_FIRMWARE_NAME),   box.text(IDC_ABOUT_FIRMWARE_VERSION),
            box.text(IDC_ABOUT_HARDWARE_VERSION)};
}

TEST_F(SubDialogsTest, AboutBoxShowsEachVersionOrWhatStandsForAMissingOne) {
    struct Case {
        const char* name;
        bool versionResources;
        const char* iniText;
        bool unit;
        uint16_t hardware, firmware;
        AboutFields want;
    };
    const Case cases[] = {
        {"all present",
         true,
         "[Version]\nVersion=1.56\n",
         true,
         0x0120,
         0x0156,
         {"(C) ZEL", "1.56", "1.56", "1.56", "OCTO816-156.TXT", "1.56", "1.20"}},
        // The high byte in hexadecimal without leading zeros, the low byte as two digits.
        {"hexadecimal bytes",
         true,
         "[Version]\nVersion=2.00\n",
         true,
         0x0A05,
         0x1003,
         {"(C) ZEL", "1.56", "1.56", "2.00", "OCTO816-156.TXT", "10.03", "a.05"}},
        {"nothing answers",
         false,
         "[System]\nComPort=1\n",
         false,
         0,
         0,
         {"???", "???", "???", "<1.21", "OCTO816-xxx.TXT", "n. c.", "n. c."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.versions.clear();
        if (c.versionResources) {
            platform.versions["C:\\OCTO\\OCTO816.EXE|LegalCopyright"] = "(C) ZEL";
            platform.versions["C:\\OCTO\\OCTO816.EXE|FileVersion"] = "1.56";
            platform.versions["C:\\OCTO\\OCTO816.DLL|FileVersion"] = "1.56";
        }
        ini(c.iniText);
        if (c.unit) {
            unitAnswers(c.hardware, c.firmware, "OCTO816-156.TXT");
        } else {
            noUnit();
        }
        AboutFields shown;
        view.operateNextDialog([&](InMemoryView& box) {
            shown = aboutFields(box);
            box.click(IDC_DIALOG_OK);
        });
        dialog.onSysCommand(IDM_ABOUTBOX);
        EXPECT_EQ(shown.copyright, c.want.copyright);
        EXPECT_EQ(shown.exe, c.want.exe);
        EXPECT_EQ(shown.dll, c.want.dll);
        EXPECT_EQ(shown.ini, c.want.ini);
        EXPECT_EQ(shown.firmwareName, c.want.firmwareName);
        EXPECT_EQ(shown.firmware, c.want.firmware);
        EXPECT_EQ(shown.hardware, c.want.hardware);
    }
}

TEST_F(SubDialogsTest, AboutBoxReadsTheUnitAnewAtEveryOpeningFromMenuAndHelp) {
    std::vector<std::string> firmware;
    const auto readFirmware = [&](InMemoryView& box) {
        firmware.push_back(box.text(IDC_ABOUT_FIRMWARE_VERSION));
    };
    noUnit();
    view.operateNextDialog(readFirmware);
    dialog.onSysCommand(IDM_ABOUTBOX | 0x3);
    unitAnswers(0x0120, 0x0155, "OCTO816-155.TXT");
    view.operateNextDialog(readFirmware);
    dialog.onCommand(ID_HELP_COMMAND, 0);
    // A unit that stops answering does not leave its last versions in a new box.
    noUnit();
    view.operateNextDialog(readFirmware);
    dialog.onCommand(ID_HELP_COMMAND, 0);
    EXPECT_EQ(view.openedDialogs(), (std::vector<int>{IDD_ABOUTBOX, IDD_ABOUTBOX, IDD_ABOUTBOX}));
    EXPECT_EQ(firmware, (std::vector<std::string>{"n. c.", "1.55", "n. c."}));
}

TEST_F(SubDialogsTest, AboutBoxStaysClosedWhileALibraryCallIsInProgress) {
    dialog.beginOperation();
    dialog.onCommand(ID_HELP_COMMAND, 0);
    dialog.onSysCommand(IDM_ABOUTBOX);
    EXPECT_TRUE(view.openedDialogs().empty());
    dialog.endOperation();
    dialog.onCommand(ID_HELP_COMMAND, 0);
    EXPECT_EQ(view.openedDialogs(), std::vector<int>{IDD_ABOUTBOX});
}

TEST_F(SubDialogsTest, ReadOutFieldsAreCheckedInOrderAndStoredBeforeTheCheck) {
    struct Case {
        int field;
        const char* entry;
        bool accepted;
        uint32_t stored; // what the field's value holds afterwards
    };
    const Case cases[] = {
        {IDC_READOUT_TARGET, "8", true, 8},
        {IDC_READOUT_TARGET, "0x8", true, 8},
        {IDC_READOUT_TARGET, "010", true, 8},
        // A negative number wraps around; 0xFFFFFFFF itself still does.
        {IDC_READOUT_TARGET, "-4294967295", true, 1},
        // A refused target keeps the value it had.
        {IDC_READOUT_TARGET, "9", false, 1},
        {IDC_READOUT_TARGET, "0", false, 1},
        {IDC_READOUT_START, "0x200", true, 0x200},
        {IDC_READOUT_START, "512", true, 0x200},
        {IDC_READOUT_START, "0xaBc0", true, 0xABC0},
        {IDC_READOUT_START, "0X200", true, 0x200},
        {IDC_READOUT_START, "0x1FF", false, 0x1FF},
        {IDC_READOUT_START, "0xFFFFE", true, 0xFFFFE},
        {IDC_READOUT_START, "0xFFFFF", false, 0xFFFFF},
        {IDC_READOUT_LENGTH, "0xFFE00", true, 0xFFE00},
        {IDC_READOUT_LENGTH, "2", true, 2},
        {IDC_READOUT_LENGTH, "1", false, 1},
        {IDC_READOUT_LENGTH, "0xFFE01", false, 0xFFE01},
        {IDC_READOUT_START, "", false, 0},
        {IDC_READOUT_START, "12 ", false, 12},
        {IDC_READOUT_LENGTH, "12k", false, 12},
        {IDC_READOUT_LENGTH, "-1", false, 0xFFFFFFFF},
        {IDC_READOUT_START, "0x", false, 0},
        {IDC_READOUT_START, "99999999999", false, 0xFFFFFFFF},
        {IDC_READOUT_START, "-99999999999", false, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.field) + " '" + c.entry + "'");
        state.readOutTarget = 1;
        bool stayedOpen = false;
        std::vector<testing::ShownMessageBox> boxes;
        int focus = 0;
        int selected = 0;
        view.operateNextDialog([&](InMemoryView& d) {
            d.setEditText(IDC_READOUT_TARGET, "1");
            d.setEditText(IDC_READOUT_START, "0x1000");
            d.setEditText(IDC_READOUT_LENGTH, "0x2000");
            d.setEditText(c.field, c.entry);
            d.click(IDC_DIALOG_OK);
            stayedOpen = !d.ended();
            boxes = d.messageBoxes();
            focus = d.focusedControl();
            selected = d.selectedField();
        });
        EXPECT_EQ(dialog.subDialogs().runReadOutDialog(), c.accepted);
        EXPECT_EQ(stayedOpen, !c.accepted);
        const uint32_t values[] = {static_cast<uint32_t>(state.readOutTarget), state.readOutStart,
                                   state.readOutLength};
        EXPECT_EQ(values[c.field - IDC_READOUT_TARGET], c.stored);
        if (c.accepted) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "ERROR: Value wrong or out of range !");
        EXPECT_EQ(boxes[0].caption, "ZEL816 FLASH Octo Programmer");
        EXPECT_EQ(boxes[0].style, mb::kOk | mb::kIconStop);
        EXPECT_EQ(focus, c.field);
        EXPECT_EQ(selected, c.field);
    }
}

TEST(ReadOutField, AnEmptyTextIsNeverAWholeNumber) {
    EXPECT_FALSE(convertFieldNumber("").whole);
    EXPECT_FALSE(convertFieldNumber("  ").whole);
}

TEST(ReadOutField, TheNumberEndsWithTheTextGiven) {
    const FieldNumber number = convertFieldNumber(std::string_view("12345").substr(0, 2));
    EXPECT_EQ(number.value, 12u);
    EXPECT_TRUE(number.whole);
}

TEST_F(SubDialogsTest, ReadOutShowsTheKeptValuesAndKeepsATargetCheckedBeforeAWrongStart) {
    std::vector<std::string> shown;
    int focus = 0;
    view.operateNextDialog([&](InMemoryView& d) {
        shown = {d.text(IDC_READOUT_TARGET), d.text(IDC_READOUT_START), d.text(IDC_READOUT_LENGTH)};
        focus = d.focusedControl();
        d.setEditText(IDC_READOUT_TARGET, "3");
        d.setEditText(IDC_READOUT_START, "-1");
        d.click(IDC_DIALOG_OK);
        d.click(IDC_DIALOG_CANCEL);
    });
    EXPECT_FALSE(dialog.subDialogs().runReadOutDialog());
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "0x0F000", "0x01000"}));
    EXPECT_EQ(focus, IDC_READOUT_TARGET);
    EXPECT_EQ(state.readOutTarget, 3);

    // The next opening shows the refused start it stored.
    view.operateNextDialog([&](InMemoryView& d) { shown = {d.text(IDC_READOUT_START)}; });
    EXPECT_FALSE(dialog.subDialogs().runReadOutDialog());
    EXPECT_EQ(shown, (std::vector<std::string>{"0xFFFFFFFF"}));
}

TEST_F(SubDialogsTest, SignalsSetSendsTheWordOfTheControlsAndLeavingSendsTheExitWord) {
    using Operate = std::function<void(InMemoryView&)>;
    struct Case {
        const char* name;
        Operate choose;
        uint32_t word;
    };
    const Case cases[] = {
        {"defaults", [](InMemoryView&) {}, 0x0100},
        {"line 1, Vpp on TDI and RESET",
         [](InMemoryView& d) {
             d.click(IDC_SIGNAL_TDI_VPP);
             d.click(IDC_SIGNAL_RESET);
         },
         0x0980},
        {"line 8, x, TCK and RESET without Vcc",
         [](InMemoryView& d) {
             d.click(IDC_SIGNAL_LINE_LAST);
             d.click(IDC_SIGNAL_TDO_TDI_X);
             d.click(IDC_SIGNAL_TCK);
             d.click(IDC_SIGNAL_RESET);
             d.click(IDC_SIGNAL_VCC_ON);
         },
         0x081F},
        {"line 8 and every box",
         [](InMemoryView& d) {
             d.click(IDC_SIGNAL_LINE_LAST);
             for (int id = IDC_SIGNAL_TDO_TDI_X; id <= IDC_SIGNAL_RESET; ++id) {
                 if (id != IDC_SIGNAL_VCC_ON && id != IDC_SIGNAL_EXIT && id != IDC_SIGNAL_DEFAULT) {
                     d.click(id);
                 }
             }
         },
         0x0FFF},
    };
    // Supply voltage 3.3 V: list position 15.
    dialog.settings().supplyVoltage = 15;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = library->callLog().size();
        view.operateNextDialog([&](InMemoryView& d) {
            c.choose(d);
            d.click(IDC_SIGNAL_SET);
            // Default resets the controls only; Enter does nothing.
            d.click(IDC_SIGNAL_DEFAULT);
            d.click(IDC_DIALOG_OK);
            EXPECT_FALSE(d.ended());
            EXPECT_TRUE(d.isChecked(IDC_SIGNAL_LINE_FIRST));
            EXPECT_TRUE(d.isChecked(IDC_SIGNAL_VCC_ON));
            EXPECT_FALSE(d.isChecked(IDC_SIGNAL_RESET));
            d.click(IDC_SIGNAL_EXIT);
        });
        dialog.subDialogs().runSignalsDialog();
        const std::vector<std::string> calls(library->callLog().begin() + before,
                                             library->callLog().end());
        EXPECT_EQ(calls,
                  (std::vector<std::string>{"OctoSetSignals " + std::to_string(c.word) + " 33",
                                            "OctoSetSignals 32768 33", "OctoSetVccTarget 33"}));
    }
}

TEST_F(SubDialogsTest, SignalsLeftWithEscapeSendTheExitWordEvenWithoutSupplyByProgrammer) {
    dialog.settings().supplyByProg = 0;
    dialog.settings().switchVccOff = 1;
    library->setFallback("OctoSetSignals", 8);
    dialog.subDialogs().runSignalsDialog();
    EXPECT_EQ(library->callLog(),
              (std::vector<std::string>{"OctoSetSignals 32768 30", "OctoSetVccTarget 30"}));
}

} // namespace
} // namespace octo

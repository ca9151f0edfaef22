// The device catalogue through the in-memory view, the scripted library and a real
// configuration file: offered groups, the sorted type list, restoring the stored type,
// change of group and type with and without the lock, the segment table walk with its
// sums and option boxes, the information line, and the interface rules.
#include "resources/resource.h"
#include "support/DialogWithIni.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace octo {
namespace {

using testing::DialogWithIni;

constexpr OctoSegmentEntry kEnd{0, 0, 0};

std::string typeSection(const std::string& name, int group, const std::string& extra = "") {
    return "[" + name + "]\r\nGroup=" + std::to_string(group) + "\r\n" + extra;
}

std::vector<std::string> rows(const View& view, int id) {
    std::vector<std::string> out;
    for (int i = 0; i < view.listCount(id); ++i) {
        out.push_back(view.listRow(id, i));
    }
    return out;
}

class CatalogueTest : public DialogWithIni {
protected:
    // A device layout every listed type gets unless a test gives its own.
    void plainDevice(const std::string& name, uint32_t flash = 0x2000) {
        library->devices[name] = {
            {OCTO_SEGMENT_RAM, 0x200, 512}, {OCTO_SEGMENT_FLASH, 0xE000, flash}, kEnd};
    }
    void startUp() {
        dialog.loadSettings();
        dialog.catalogue().fillDeviceGroups();
        dialog.catalogue().fillDeviceGroupList();
        dialog.showMembers();
        dialog.catalogue().applyDeviceType();
    }
    std::vector<std::string> offeredNames() {
        std::vector<std::string> names;
        for (int i = 0; i < dialog.catalogue().offeredGroups().count; ++i) {
            names.emplace_back(dialog.catalogue().offeredGroups().rows[i].groupName.data());
        }
        return names;
    }
};

// ---- groups ---------------------------------------------------------------------------------

TEST_F(CatalogueTest, OnlyGroupsWithTypesAreOfferedInTableOrder) {
    struct Case {
        std::string file;
        std::vector<std::string> offered;
    };
    const std::vector<Case> cases = {
        {typeSection("ZEL816 R510", 57), {"ZEL816R5xx"}},
        {typeSection("VRG 1", 23) + typeSection("ZEL816 A110", 1) + typeSection("QD816 A5", 15) +
             typeSection("ZEL816 N2", 22),
         {"ZEL816A1xx", "ZEL816N2xx", "QD816A5xx", "VRG xx"}},
        // Family words are case-sensitive; other sections never count, whatever their Group.
        {typeSection("zel816 a110", 1) + typeSection("System", 2) + typeSection("TRV816 x", 4),
         {"ZEL816A4xx"}},
        // A group number no row has, and a type without Group, are never offered.
        {typeSection("ZEL816 X", 99) + "[ZEL816 NoGroup]\r\nVpp=30\r\n", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        ini(c.file);
        dialog.catalogue().fillDeviceGroups();
        EXPECT_EQ(offeredNames(), c.offered) << c.file;
    }
}

TEST_F(CatalogueTest, TypeCountsPerGroupAndEveryTableRow) {
    ini(typeSection("ZEL816 A110", 1) + typeSection("ZEL816 A112", 1) +
        typeSection("ZEL816 B21", 21));
    dialog.catalogue().fillDeviceGroups();
    const DeviceGroupTable& table = dialog.catalogue().deviceGroupTable();
    const std::vector<std::pair<int, std::string>> expected = {
        {1, "ZEL816A1xx"}, {2, "ZEL816A2xx"},  {22, "ZEL816N2xx"}, {21, "ZEL816B2xx"},
        {4, "ZEL816A4xx"}, {41, "ZEL816C4xx"}, {42, "ZEL816D4xx"}, {43, "ZEL816E4xx"},
        {5, "ZEL816A5xx"}, {57, "ZEL816R5xx"}, {6, "ZEL816A6xx"},  {15, "QD816A5xx"},
        {16, "QD816A6xx"}, {23, "VRG xx"}};
    ASSERT_EQ(table.size(), expected.size());
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].groupNumber, expected[i].first) << i;
        EXPECT_STREQ(table[i].groupName.data(), expected[i].second.c_str()) << i;
        const int count = expected[i].first == 1 ? 2 : expected[i].first == 21 ? 1 : 0;
        EXPECT_EQ(table[i].typeCount, count) << expected[i].second;
    }
    ASSERT_EQ(dialog.catalogue().offeredGroups().count, 2);
    EXPECT_EQ(dialog.catalogue().offeredGroups().rows[1].groupNumber, 21);
    EXPECT_EQ(dialog.catalogue().offeredGroups().rows[1].typeCount, 1);
    // A second count starts from zero again.
    ini(typeSection("ZEL816 B21", 21));
    dialog.catalogue().fillDeviceGroups();
    EXPECT_EQ(dialog.catalogue().deviceGroupTable()[0].typeCount, 0);
    EXPECT_EQ(offeredNames(), std::vector<std::string>{"ZEL816B2xx"});
}

// More section names than 5000 bytes hold: every configured type is still offered.
TEST_F(CatalogueTest, ThousandTypesAreAllListed) {
    std::string file;
    for (int i = 0; i < 1000; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "ZEL816 Long Type Name %04d", i);
        file += typeSection(name, i < 500 ? 1 : 6);
    }
    ini(file);
    dialog.catalogue().fillDeviceGroups();
    ASSERT_EQ(offeredNames(), (std::vector<std::string>{"ZEL816A1xx", "ZEL816A6xx"}));
    EXPECT_EQ(dialog.catalogue().offeredGroups().rows[1].typeCount, 500);
    dialog.catalogue().fillDeviceTypes(6, "ZEL816 Long Type Name 0999");
    EXPECT_EQ(view.listCount(IDC_DEVICE_TYPE), 500);
    EXPECT_EQ(view.text(IDC_DEVICE_TYPE), "ZEL816 Long Type Name 0999");
}

// ---- the type list ----------------------------------------------------------------------------

TEST_F(CatalogueTest, TypeListIsSortedAndSelectsByExactName) {
    ini(typeSection("ZEL816 Beta", 1) + typeSection("ZEL816 alpha", 1) +
        typeSection("ZEL816 Gamma", 2));
    struct Case {
        const char* select;
        int selected;
    };
    for (const Case& c : std::vector<Case>{{"ZEL816 Beta", 1},
                                           {"ZEL816 alpha", 0},
                                           {"zel816 beta", 0},
                                           {"", 0},
                                           {"ZEL816 Gamma", 0}}) {
        dialog.catalogue().fillDeviceTypes(1, c.select);
        EXPECT_EQ(rows(view, IDC_DEVICE_TYPE),
                  (std::vector<std::string>{"ZEL816 alpha", "ZEL816 Beta"}));
        EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), c.selected) << c.select;
    }
    dialog.catalogue().fillDeviceTypes(7, "ZEL816 Beta");
    EXPECT_EQ(view.listCount(IDC_DEVICE_TYPE), 0);
    EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), -1);
}

TEST_F(CatalogueTest, StartUpRestoresTheStoredGroupAndPosition) {
    const std::string types = typeSection("ZEL816 A110", 1) + typeSection("ZEL816 A112", 1) +
                              typeSection("ZEL816 C41", 41) + typeSection("ZEL816 C42", 41) +
                              "[ZEL816 NoGroup]\r\nVpp=30\r\n";
    struct Case {
        const char* system;
        std::string group;
        int devType;
    };
    const std::vector<Case> cases = {
        {"DevTypeName=ZEL816 C42\r\nDevType=1\r\n", "ZEL816C4xx", 1},
        // The stored position wins over the name when both were stored together.
        {"DevTypeName=ZEL816 C42\r\nDevType=0\r\n", "ZEL816C4xx", 0},
        // No DevTypeName: "ZEL816 A110" of group 1.
        {"DevType=1\r\n", "ZEL816A1xx", 1},
        // The named section has no Group: group 1.
        {"DevTypeName=ZEL816 NoGroup\r\nDevType=0\r\n", "ZEL816A1xx", 0},
        // A position beyond the list: the first row.
        {"DevTypeName=ZEL816 C41\r\nDevType=5\r\n", "ZEL816C4xx", 0},
        {"DevTypeName=ZEL816 C41\r\nDevType=-1\r\n", "ZEL816C4xx", 0},
        // A name of a removed type with a group nobody offers: the first group.
        {"DevTypeName=ZEL816 Gone\r\n[ZEL816 Gone]\r\nGroup=99\r\n", "ZEL816A1xx", 1},
    };
    for (const Case& c : cases) {
        ini(std::string("[System]\r\n") + c.system + types);
        for (const auto& name : {"ZEL816 A110", "ZEL816 A112", "ZEL816 C41", "ZEL816 C42"}) {
            plainDevice(name);
        }
        startUp();
        EXPECT_EQ(view.text(IDC_DEVICE_GROUP), c.group) << c.system;
        EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), c.devType) << c.system;
        EXPECT_EQ(dialog.deviceType().typeName, view.text(IDC_DEVICE_TYPE)) << c.system;
    }
}

TEST_F(CatalogueTest, NoTypesLeaveBothListsEmptyAndApplyNothing) {
    ini("[System]\r\nDevType=2\r\n");
    startUp();
    EXPECT_EQ(view.listCount(IDC_DEVICE_GROUP), 0);
    EXPECT_EQ(view.listCount(IDC_DEVICE_TYPE), 0);
    EXPECT_EQ(dialog.settings().devType, -1);
    EXPECT_EQ(library->calls("GetDevice"), 0);
    EXPECT_EQ(dialog.flags().reloadRequired, 0);
}

// ---- change of group and type -------------------------------------------------------------------

class ChangeTest : public CatalogueTest {
protected:
    void SetUp() override {
        ini("[System]\r\nDevTypeName=ZEL816 A112\r\nDevType=1\r\n" + typeSection("ZEL816 A110", 1) +
            typeSection("ZEL816 A112", 1) + typeSection("ZEL816 D2", 42) +
            typeSection("ZEL816 B4", 42));
        plainDevice("ZEL816 A110", 0x1000);
        plainDevice("ZEL816 A112", 0x2000);
        plainDevice("ZEL816 B4", 0x4000);
        plainDevice("ZEL816 D2", 0x8000);
        startUp();
        dialog.flags().reloadRequired = 0;
    }
};

TEST_F(ChangeTest, ChangeOfGroupSelectsTheFirstTypeAndAppliesIt) {
    view.selectRow(IDC_DEVICE_GROUP, 1);
    EXPECT_EQ(rows(view, IDC_DEVICE_TYPE), (std::vector<std::string>{"ZEL816 B4", "ZEL816 D2"}));
    EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), 0);
    EXPECT_EQ(dialog.deviceType().typeName, "ZEL816 B4");
    EXPECT_EQ(view.text(IDC_DEVICE_INFO), " RAM: 512 Byte   FLASH: 16 KByte (+0 Byte)");
    EXPECT_EQ(dialog.flags().reloadRequired, 1);
    EXPECT_EQ(dialog.settings().devType, 0);
}

TEST_F(ChangeTest, LockedChangeOfGroupRefillsButAppliesNothing) {
    dialog.settings().showSettings = 0;
    const std::string infoBefore = view.text(IDC_DEVICE_INFO);
    library->callLog();
    const int before = library->calls("GetDevice");
    view.selectRow(IDC_DEVICE_GROUP, 1);
    EXPECT_EQ(rows(view, IDC_DEVICE_TYPE), (std::vector<std::string>{"ZEL816 B4", "ZEL816 D2"}));
    EXPECT_EQ(library->calls("GetDevice"), before);
    EXPECT_EQ(dialog.deviceType().typeName, "ZEL816 A112");
    EXPECT_EQ(view.text(IDC_DEVICE_INFO), infoBefore);
    EXPECT_EQ(dialog.flags().reloadRequired, 0);
}

TEST_F(ChangeTest, ChangeOfTypeAppliesOnlyWhileUnlocked) {
    view.selectRow(IDC_DEVICE_TYPE, 0);
    EXPECT_EQ(dialog.deviceType().typeName, "ZEL816 A110");
    EXPECT_EQ(view.text(IDC_DEVICE_INFO), " RAM: 512 Byte   FLASH: 4096 Byte (+0 Byte)");
    EXPECT_EQ(dialog.flags().reloadRequired, 1);

    dialog.flags().reloadRequired = 0;
    dialog.settings().showSettings = 0;
    view.selectRow(IDC_DEVICE_TYPE, 1);
    EXPECT_EQ(dialog.deviceType().typeName, "ZEL816 A110");
    EXPECT_EQ(dialog.flags().reloadRequired, 0);
    EXPECT_EQ(dialog.settings().devType, 0) << "the stored position stays";
}

TEST_F(ChangeTest, ApplyingATypeSetsTheReadOutDefaultsAndVpp) {
    ini("[ZEL816 A110]\r\nGroup=1\r\nVpp=22\r\n[ZEL816 A112]\r\nGroup=1\r\n");
    view.selectRow(IDC_DEVICE_TYPE, 0);
    EXPECT_EQ(dialog.deviceType().vpp, 22);
    EXPECT_EQ(state.readOutStart, 0xE000u);
    EXPECT_EQ(state.readOutLength, 0x1000u);
    view.selectRow(IDC_DEVICE_TYPE, 1);
    EXPECT_EQ(dialog.deviceType().vpp, 27) << "Vpp default";
    EXPECT_EQ(state.readOutLength, 0x2000u);
}

TEST_F(ChangeTest, UnknownTypeKeepsTheFormerLayout) {
    library->devices.erase("ZEL816 A110");
    view.selectRow(IDC_DEVICE_TYPE, 0);
    EXPECT_EQ(view.text(IDC_DEVICE_INFO), " Device type entry not valid !");
    EXPECT_EQ(dialog.deviceType().flashBytes, 0x2000u) << "the former type's size";
    EXPECT_EQ(state.readOutLength, 0x2000u);
    EXPECT_EQ(dialog.flags().reloadRequired, 1);
    EXPECT_EQ(dialog.deviceType().jtag4Allowed, 1);
}

// ---- the segment table --------------------------------------------------------------------------

struct LayoutCase {
    const char* what;
    std::vector<OctoSegmentEntry> table;
    const char* info;
    uint16_t ram, infoBytes, protectedInfo, dco;
    uint32_t flash, flashStart, bsl;
};

TEST_F(CatalogueTest, SegmentTableSumsAndTheInformationLine) {
    const std::vector<LayoutCase> cases = {
        {"example",
         {{1, 0x200, 512}, {3, 0x1000, 61440}, {2, 0x1000, 128}, {2, 0x1080, 128}, kEnd},
         " RAM: 512 Byte   FLASH: 60 KByte (+256 Byte)",
         512,
         256,
         0,
         0,
         61440,
         0x1000,
         0},
        {"4100 bytes in bytes",
         {{3, 0xE000, 4100}, kEnd},
         " RAM: 0 Byte   FLASH: 4100 Byte (+0 Byte)",
         0,
         0,
         0,
         0,
         4100,
         0xE000,
         0},
        {"4101 bytes as 4 KByte",
         {{3, 0xE000, 4101}, kEnd},
         " RAM: 0 Byte   FLASH: 4 KByte (+0 Byte)",
         0,
         0,
         0,
         0,
         4101,
         0xE000,
         0},
        {"4608 bytes round half up",
         {{3, 0xE000, 4608}, kEnd},
         " RAM: 0 Byte   FLASH: 5 KByte (+0 Byte)",
         0,
         0,
         0,
         0,
         4608,
         0xE000,
         0},
        {"first entry ends the table",
         {kEnd, {1, 0, 512}},
         " RAM: 0 Byte   FLASH: 0 Byte (+0 Byte)",
         0,
         0,
         0,
         0,
         0,
         0xFFFFFF,
         0},
        {"16-bit sums wrap",
         {{1, 0, 0x8000}, {1, 0, 0x8001}, {2, 0, 0x1FFFF}, kEnd},
         " RAM: 1 Byte   FLASH: 0 Byte (+65535 Byte)",
         1,
         0xFFFF,
         0,
         0,
         0,
         0xFFFFFF,
         0},
        {"32-bit flash and lowest start",
         {{3, 0x20000, 0x20000}, {3, 0x4000, 0x10000}, {0x10003, 0x100, 0x100}, kEnd},
         " RAM: 0 Byte   FLASH: 192 KByte (+0 Byte)",
         0,
         0,
         0,
         0,
         0x30100,
         0x100,
         0},
        {"unknown kinds skipped",
         {{4, 0, 100}, {9, 0, 100}, {1, 0, 10}, kEnd},
         " RAM: 10 Byte   FLASH: 0 Byte (+0 Byte)",
         10,
         0,
         0,
         0,
         0,
         0xFFFFFF,
         0},
        {"protected info counts as info",
         {{2, 0, 128}, {5, 0, 64}, kEnd},
         " RAM: 0 Byte   FLASH: 0 Byte (+192 Byte)",
         0,
         192,
         64,
         0,
         0,
         0xFFFFFF,
         0},
        {"BSL",
         {{7, 0x1000, 0x800}, {7, 0x1800, 0x800}, kEnd},
         " RAM: 0 Byte   FLASH: 0 Byte (+0 Byte)",
         0,
         0,
         0,
         0,
         0,
         0xFFFFFF,
         0x1000},
    };
    for (const LayoutCase& c : cases) {
        library->devices["ZEL816 T"] = c.table;
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        const DeviceType& d = dialog.deviceType();
        EXPECT_EQ(view.text(IDC_DEVICE_INFO), c.info) << c.what;
        EXPECT_EQ(d.ramBytes, c.ram) << c.what;
        EXPECT_EQ(d.infoBytes, c.infoBytes) << c.what;
        EXPECT_EQ(d.protectedInfoBytes, c.protectedInfo) << c.what;
        EXPECT_EQ(d.dcoBytes, c.dco) << c.what;
        EXPECT_EQ(d.flashBytes, c.flash) << c.what;
        EXPECT_EQ(d.flashStart, c.flashStart) << c.what;
        EXPECT_EQ(d.bslBytes, c.bsl) << c.what;
        EXPECT_EQ(d.flashWords, c.flash >> 1) << c.what;
        EXPECT_EQ(d.infoWords, c.infoBytes >> 1) << c.what;
        EXPECT_EQ(d.bslWords, c.bsl >> 1) << c.what;
        EXPECT_EQ(d.hasBsl, c.bsl != 0 ? 1 : 0) << c.what;
        EXPECT_EQ(d.hasProtectedInfo, c.protectedInfo != 0 ? 1 : 0) << c.what;
    }
}

TEST_F(CatalogueTest, AtMostEighteenEntriesAreRead) {
    std::vector<OctoSegmentEntry> table(20, OctoSegmentEntry{1, 0, 1});
    library->devices["ZEL816 T"] = table;
    dialog.catalogue().refreshDevice("ZEL816 T", true);
    EXPECT_EQ(dialog.deviceType().ramBytes, 18);
}

TEST_F(CatalogueTest, RestoreFollowsTheCalibrationSegment) {
    struct Case {
        const char* what;
        std::vector<OctoSegmentEntry> table;
        bool enabled, checked;
    };
    const std::vector<Case> cases = {
        {"DCO after a protected segment of its length",
         {{5, 0, 64}, {6, 0, 64}, kEnd},
         false,
         false},
        {"DCO before the protected segment", {{6, 0, 64}, {5, 0, 64}, kEnd}, true, true},
        {"DCO of its own", {{6, 0, 64}, kEnd}, true, true},
        {"no DCO", {{1, 0, 64}, kEnd}, false, false},
    };
    for (const Case& c : cases) {
        view.setChecked(IDC_RESTORE_DCO, true);
        view.setEnabled(IDC_RESTORE_DCO, true);
        dialog.settings().restoreDco = 1;
        library->devices["ZEL816 T"] = c.table;
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        EXPECT_EQ(view.isEnabled(IDC_RESTORE_DCO), c.enabled) << c.what;
        if (c.table[0].kind == 6 || c.table[1].kind == 6) {
            EXPECT_EQ(view.isChecked(IDC_RESTORE_DCO), c.checked) << c.what;
            EXPECT_EQ(dialog.settings().restoreDco, c.checked ? 1 : 0) << c.what;
        }
    }
}

TEST_F(CatalogueTest, ProtectedInfoAndBslBoxesFollowTheTypeAndTheOptions) {
    struct Case {
        const char* what;
        std::vector<OctoSegmentEntry> table;
        bool erase, infoMemory;
        bool pinfoEnabled, bslEnabled;
    };
    const std::vector<Case> cases = {
        {"protected, erasing info", {{5, 0, 64}, {7, 0, 1}, kEnd}, true, true, true, true},
        {"protected, info not erased", {{5, 0, 64}, kEnd}, true, false, false, false},
        {"protected, nothing erased", {{5, 0, 64}, kEnd}, false, true, false, false},
        {"nothing protected", {{2, 0, 64}, kEnd}, true, true, false, false},
    };
    for (const Case& c : cases) {
        view.setChecked(IDC_ERASE, c.erase);
        view.setChecked(IDC_ERASE_CHECK, false);
        view.setChecked(IDC_ERASE_INFO, c.infoMemory);
        view.setChecked(IDC_ERASE_PINFO, true);
        view.setChecked(IDC_ERASE_BSL, true);
        dialog.takeControls();
        library->devices["ZEL816 T"] = c.table;
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        EXPECT_EQ(view.isEnabled(IDC_ERASE_PINFO), c.pinfoEnabled) << c.what;
        EXPECT_EQ(view.isEnabled(IDC_ERASE_BSL), c.bslEnabled) << c.what;
        const bool hasProtected = c.table[0].kind == 5;
        EXPECT_EQ(view.isChecked(IDC_ERASE_PINFO), hasProtected) << c.what;
        EXPECT_EQ(dialog.settings().erasePinfo, hasProtected ? 1 : 0) << c.what;
        EXPECT_EQ(dialog.settings().eraseBslSegm, c.bslEnabled ? 1 : 0) << c.what;
    }
}

TEST_F(CatalogueTest, WithoutUpdatingControlsTheBoxesStayDisabled) {
    view.setChecked(IDC_ERASE, true);
    view.setChecked(IDC_ERASE_INFO, true);
    library->devices["ZEL816 T"] = {{5, 0, 64}, {7, 0, 16}, kEnd};
    dialog.catalogue().refreshDevice("ZEL816 T", false);
    EXPECT_FALSE(view.isEnabled(IDC_ERASE_PINFO));
    EXPECT_FALSE(view.isEnabled(IDC_ERASE_BSL));
    EXPECT_EQ(dialog.deviceType().hasBsl, 1);
    EXPECT_EQ(library->calls("OctoGetResult"), 0) << "no interface rules";
}

// ---- interface rules
// ------------------------------------------------------------------------------

class InterfaceTest : public CatalogueTest {
protected:
    void type(int dlkAble, int jtag4Disable) {
        ini("[ZEL816 T]\r\nGroup=1\r\nDlkAble=" + std::to_string(dlkAble) +
            "\r\nJTAG4disable=" + std::to_string(jtag4Disable) + "\r\n");
        library->devices["ZEL816 T"] = {{1, 0, 16}, kEnd};
    }
    void unit(uint16_t hardware, uint16_t firmware) {
        library->resultBlock[8] = static_cast<uint8_t>(hardware >> 8);
        library->resultBlock[9] = static_cast<uint8_t>(hardware & 0xFF);
        library->resultBlock[10] = static_cast<uint8_t>(firmware >> 8);
        library->resultBlock[11] = static_cast<uint8_t>(firmware & 0xFF);
        library->setFallback("OctoGetResult", 0);
    }
};

TEST_F(InterfaceTest, Jtag4DisableBitZeroDecides) {
    for (int value : {0, 1, 2, 3}) {
        type(1, value);
        unit(0x0130, 0x0156);
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        EXPECT_EQ(dialog.deviceType().jtag4Allowed, (value & 1) ? 0 : 1) << value;
        EXPECT_EQ(view.isEnabled(IDC_USE_JTAG4), (value & 1) == 0) << value;
    }
}

TEST_F(InterfaceTest, WithoutAUnitBothButtonsPresetFromTheDevice) {
    for (int dlk : {0, 1}) {
        type(dlk, 0);
        library->setFallback("OctoGetResult", 5);
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        EXPECT_FALSE(view.isEnabled(IDC_USE_DUOLINK));
        EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
        EXPECT_EQ(view.isChecked(IDC_USE_DUOLINK), dlk == 1);
        EXPECT_EQ(view.isChecked(IDC_USE_JTAG4), dlk == 0);
        EXPECT_EQ(dialog.settings().useDlk, dlk) << "UseDLK follows the buttons";
        EXPECT_EQ(dialog.flags().versionsKnown, 0);
    }
}

TEST_F(InterfaceTest, OldHardwareOrFirmwareForcesDuoLink) {
    view.createToolTips();
    struct Case {
        uint16_t hardware, firmware;
        bool forced;
        const char* tip;
    };
    const std::vector<Case> cases = {
        {0x0120, 0x0156, true,
         "To program DuoLink-capable device in 4Wire mode you have to upgrade the "
         "OCTO816-Hardware to ver.1.30 or newer"},
        {0x0130, 0x0129, true,
         "To program DuoLink-capable device in 4Wire mode you have to update the OCTO816-Firmware"},
        {0x0121, 0x0130, false,
         "Check this box in order to program DuoLink-capable device in 2Wire mode"},
    };
    for (const Case& c : cases) {
        type(1, 0);
        unit(c.hardware, c.firmware);
        dialog.flags().versionsKnown = 0;
        view.setChecked(IDC_USE_DUOLINK, false);
        view.setChecked(IDC_USE_JTAG4, true);
        dialog.takeControls();
        dialog.catalogue().refreshDevice("ZEL816 T", true);
        EXPECT_EQ(dialog.flags().versionsKnown, 1);
        EXPECT_EQ(view.isEnabled(IDC_USE_DUOLINK), !c.forced) << c.tip;
        EXPECT_EQ(view.isChecked(IDC_USE_DUOLINK), c.forced) << c.tip;
        EXPECT_EQ(view.toolTip(IDC_USE_DUOLINK), c.tip);
    }
    type(0, 0);
    dialog.catalogue().refreshDevice("ZEL816 T", true);
    EXPECT_FALSE(view.isEnabled(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
    EXPECT_EQ(view.toolTip(IDC_USE_DUOLINK), "");
}

TEST_F(InterfaceTest, LockedStopsBeforeTheCheckMarks) {
    type(0, 0);
    unit(0x0130, 0x0156);
    view.setChecked(IDC_USE_DUOLINK, true);
    view.setChecked(IDC_USE_JTAG4, false);
    dialog.takeControls();
    dialog.settings().showSettings = 0;
    dialog.catalogue().refreshDevice("ZEL816 T", true);
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK)) << "left as it was";
    EXPECT_EQ(dialog.flags().versionsKnown, 1);
}

TEST_F(InterfaceTest, ClickOnDuoLinkIsUndoneWhileLocked) {
    type(1, 0);
    unit(0x0130, 0x0156);
    view.setChecked(IDC_USE_DUOLINK, true);
    view.setChecked(IDC_USE_JTAG4, false);
    dialog.catalogue().refreshDevice("ZEL816 T", true);
    ASSERT_TRUE(view.isEnabled(IDC_USE_DUOLINK));
    dialog.flags().estimateStale = 0;
    // Unlocked: the JTAG button takes the pair over and the estimate is stale.
    view.click(IDC_USE_JTAG4);
    view.click(IDC_USE_DUOLINK);
    EXPECT_EQ(dialog.flags().estimateStale, 1);
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));

    // Locked with JTAG stored: a click on DuoLink flips the pair and is undone.
    view.click(IDC_USE_JTAG4); // unlocked: the pair simply switches
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
    dialog.takeControls();
    ASSERT_EQ(dialog.settings().useDlk, 0);
    dialog.settings().showSettings = 0;
    dialog.flags().estimateStale = 0;
    view.click(IDC_USE_DUOLINK);
    EXPECT_EQ(dialog.flags().estimateStale, 1);
    EXPECT_FALSE(view.isChecked(IDC_USE_DUOLINK)) << "set back to UseDLK = 0";
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
}

} // namespace
} // namespace octo

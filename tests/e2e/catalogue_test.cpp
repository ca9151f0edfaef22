// The device catalogue in the real window with the shipped OCTO816.INI: the group and type
// lists and the information line after start-up, a change of group, and a change of type
// while the settings are locked. Expectations come from the shipped file and the library's
// device database, read here with the program's own profile store.
#include "E2eTest.h"

#include "devices/DeviceCatalogue.h"
#include "devices/device_table.h"
#include "resource.h"
#include "settings/ProfileStore.h"

#include <algorithm>
#include <cctype>

namespace octo::e2e {
namespace {

constexpr std::uint32_t kScLockSettings = 0x20;

bool lessCaseInsensitive(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

// What the shipped configuration file offers.
class ShippedCatalogue {
public:
    ShippedCatalogue()
        : ini_(makeStdFileAccess(), (Paths::repository() / "dist" / kConfigIni).string()) {}

    std::vector<int32_t> offeredGroups() {
        std::vector<int32_t> groups;
        for (const auto& g : devices::kDeviceGroups) {
            if (!types(g.number).empty()) {
                groups.push_back(g.number);
            }
        }
        return groups;
    }
    std::vector<std::string> groupNames() {
        std::vector<std::string> names;
        for (int32_t number : offeredGroups()) {
            for (const auto& g : devices::kDeviceGroups) {
                if (g.number == number) {
                    names.emplace_back(g.name);
                }
            }
        }
        return names;
    }
    std::vector<std::string> types(int32_t group) {
        std::vector<std::string> names;
        for (const std::string& s : ini_.sectionNames()) {
            if (isDeviceTypeSection(s) && ini_.readInt(s, "Group", kNoGroup) == group) {
                names.push_back(s);
            }
        }
        std::stable_sort(names.begin(), names.end(), lessCaseInsensitive);
        return names;
    }
    std::string storedTypeName() {
        return ini_.readString("System", "DevTypeName", kDefaultDevTypeName, 50);
    }
    int32_t storedGroup() { return ini_.readInt(storedTypeName(), "Group", 1); }
    int32_t storedPosition() { return ini_.readInt("System", "DevType", 1); }

private:
    ProfileStore ini_;
};

// The information line the library's layout of a type gives.
std::string infoLine(const std::string& typeName) {
    const devices::DeviceType* type = devices::findDeviceType(typeName);
    if (!type) {
        return kDeviceEntryNotValid;
    }
    uint16_t ram = 0;
    uint16_t info = 0;
    uint32_t flash = 0;
    for (const OctoSegmentEntry& e : devices::usedSegments(*type)) {
        switch (e.kind & 0xFFFF) {
        case OCTO_SEGMENT_RAM:
            ram = static_cast<uint16_t>(ram + e.length);
            break;
        case OCTO_SEGMENT_INFO:
        case OCTO_SEGMENT_PROTECTED_INFO:
            info = static_cast<uint16_t>(info + e.length);
            break;
        case OCTO_SEGMENT_FLASH:
            flash += e.length;
            break;
        default:
            break;
        }
    }
    return formatDeviceInfo(ram, flash, info);
}

class Catalogue : public ProgramWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramWindowTest::SetUp());
        // The start-up command fills the lists once the window is shown.
        eventually([&] { return window_->comboCount(IDC_DEVICE_GROUP) > 0; }, true);
    }
    void TearDown() override {
        window_.reset();
        if (session_) {
            session_->stopProgram();
        }
    }

    ShippedCatalogue shipped_;
};

TEST_F(Catalogue, ListsAndInformationLineShowTheShippedCatalogue) {
    Window& w = *window_;
    EXPECT_EQ(w.comboRows(IDC_DEVICE_GROUP), shipped_.groupNames());
    const auto groups = shipped_.offeredGroups();
    const auto at = std::find(groups.begin(), groups.end(), shipped_.storedGroup());
    const int groupRow = at == groups.end() ? 0 : static_cast<int>(at - groups.begin());
    EXPECT_EQ(w.comboSelection(IDC_DEVICE_GROUP).index, groupRow);
    const auto types = shipped_.types(groups[groupRow]);
    EXPECT_EQ(w.comboRows(IDC_DEVICE_TYPE), types);
    const int32_t stored = shipped_.storedPosition();
    const int typeRow = stored >= 0 && stored < static_cast<int32_t>(types.size()) ? stored : 0;
    const ComboSelection selected = w.comboSelection(IDC_DEVICE_TYPE);
    EXPECT_EQ(selected.index, typeRow);
    EXPECT_EQ(w.text(IDC_DEVICE_INFO), infoLine(types[typeRow]));
}

TEST_F(Catalogue, ChangeOfGroupRefillsTheTypesAndSelectsTheFirst) {
    Window& w = *window_;
    const auto groups = shipped_.offeredGroups();
    ASSERT_GE(groups.size(), 2u);
    const int current = w.comboSelection(IDC_DEVICE_GROUP).index;
    const int other = current == 0 ? 1 : 0;
    w.select(IDC_DEVICE_GROUP, other);
    const auto types = shipped_.types(groups[other]);
    EXPECT_EQ(eventually([&] { return w.comboRows(IDC_DEVICE_TYPE); }, types), types);
    EXPECT_EQ(w.comboSelection(IDC_DEVICE_TYPE).index, 0);
    EXPECT_EQ(eventually([&] { return w.text(IDC_DEVICE_INFO); }, infoLine(types[0])),
              infoLine(types[0]));
}

TEST_F(Catalogue, LockedChangeOfTypeAppliesNothing) {
    Window& w = *window_;
    // Find a group with two types whose information lines differ.
    const auto groups = shipped_.offeredGroups();
    int groupRow = -1;
    int otherType = -1;
    for (size_t g = 0; g < groups.size() && groupRow < 0; ++g) {
        const auto types = shipped_.types(groups[g]);
        for (size_t t = 1; t < types.size(); ++t) {
            if (infoLine(types[t]) != infoLine(types[0])) {
                groupRow = static_cast<int>(g);
                otherType = static_cast<int>(t);
                break;
            }
        }
    }
    ASSERT_GE(groupRow, 0) << "the shipped file has no group with two different layouts";
    w.select(IDC_DEVICE_GROUP, groupRow);
    const std::string first = infoLine(shipped_.types(groups[groupRow])[0]);
    ASSERT_EQ(eventually([&] { return w.text(IDC_DEVICE_INFO); }, first), first);

    w.sysCommand(kScLockSettings);
    ASSERT_EQ(eventually([&] { return w.enabled(IDC_ERASE); }, false), false);
    w.select(IDC_DEVICE_TYPE, otherType);
    EXPECT_EQ(w.comboSelection(IDC_DEVICE_TYPE).index, otherType) << "the list shows the choice";
    EXPECT_EQ(w.text(IDC_DEVICE_INFO), first) << "but the type is not applied";
    w.sysCommand(kScLockSettings);
}

} // namespace
} // namespace octo::e2e

// The device database: coverage of the groups and of the layouts the program's catalogue
// rules turn on, sound memory maps, the GetDevice lookup, and agreement with the INI.
#include "devices/device_table.h"
#include "devices/ini_sections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace octo::devices {
namespace {

constexpr uint32_t kKindMask = 0xFFFF;
constexpr uint32_t kAddressLimit = 0x100000;
constexpr size_t kSectionNameBuffer = 5000;

// What the program's catalogue derives from a table, with its 16-bit sums.
struct Sums {
    uint16_t ram = 0;
    uint16_t info = 0;
    uint32_t flash = 0;
    uint32_t flashStart = 0xFFFFFF;
    uint16_t protectedInfo = 0;
    uint16_t dco = 0;
    uint32_t bsl = 0;
    bool restoreOffered = false; // the DCO rule: non-zero and unlike the protected length so far
};

Sums catalogueSums(const DeviceType& type) {
    Sums s;
    for (size_t i = 0; i < OCTO_MAX_SEGMENTS; ++i) {
        const auto& row = type.segments[i];
        const uint32_t kind = row.kind & kKindMask;
        if (kind == OCTO_SEGMENT_END) {
            break;
        }
        switch (kind) {
        case OCTO_SEGMENT_RAM:
            s.ram = static_cast<uint16_t>(s.ram + row.length);
            break;
        case OCTO_SEGMENT_INFO:
            s.info = static_cast<uint16_t>(s.info + row.length);
            break;
        case OCTO_SEGMENT_FLASH:
            s.flash += row.length;
            s.flashStart = std::min(s.flashStart, row.start);
            break;
        case OCTO_SEGMENT_PROTECTED_INFO:
            s.info = static_cast<uint16_t>(s.info + row.length);
            s.protectedInfo = static_cast<uint16_t>(s.protectedInfo + row.length);
            break;
        case OCTO_SEGMENT_DCO:
            s.dco = static_cast<uint16_t>(s.dco + row.length);
            s.restoreOffered = s.dco != 0 && s.dco != s.protectedInfo;
            break;
        case OCTO_SEGMENT_BSL:
            s.bsl += row.length;
            break;
        default:
            break;
        }
    }
    return s;
}

uint64_t sumOf(const DeviceType& type, uint32_t kind) {
    uint64_t total = 0;
    for (const auto& row : usedSegments(type)) {
        if ((row.kind & kKindMask) == kind) {
            total += row.length;
        }
    }
    return total;
}

TEST(DeviceTable, CoversEveryGroupWithThirtyOrMoreTypes) {
    EXPECT_GE(deviceTypes().size(), 30u);
    std::map<int32_t, int> perGroup;
    for (const auto& type : deviceTypes()) {
        perGroup[type.group]++;
    }
    for (const auto& group : kDeviceGroups) {
        EXPECT_GE(perGroup[group.number], 1) << group.name;
        perGroup.erase(group.number);
    }
    EXPECT_TRUE(perGroup.empty()) << "types in a group the program does not offer";
}

TEST(DeviceTable, NamesAreUniqueFamilyNamesThatFitTheProgramsBuffers) {
    constexpr size_t kTypeNameBuffer = 50;
    std::set<std::string> folded;
    for (const auto& type : deviceTypes()) {
        EXPECT_TRUE(hasFamilyWord(type.name)) << type.name;
        EXPECT_LT(type.name.size(), kTypeNameBuffer) << type.name;
        std::string lower(type.name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(folded.insert(lower).second) << "duplicate name, ignoring case: " << type.name;
        EXPECT_EQ(type.name.find_first_of("[]=\r\n"), std::string_view::npos) << type.name;
        EXPECT_EQ(type.name, type.name.substr(type.name.find_first_not_of(' ')));
    }
}

TEST(DeviceTable, SegmentTablesAreWellFormedAndPlausible) {
    const std::set<uint32_t> kinds = {OCTO_SEGMENT_RAM,   OCTO_SEGMENT_INFO,
                                      OCTO_SEGMENT_FLASH, OCTO_SEGMENT_PROTECTED_INFO,
                                      OCTO_SEGMENT_DCO,   OCTO_SEGMENT_BSL};
    for (const auto& type : deviceTypes()) {
        SCOPED_TRACE(std::string(type.name));
        const auto used = usedSegments(type);
        ASSERT_LT(used.size(), size_t{OCTO_MAX_SEGMENTS}) << "no terminating kind 0 row";
        for (size_t i = used.size(); i < type.segments.size(); ++i) {
            EXPECT_EQ(type.segments[i].kind, 0u) << "rows after the end";
        }
        for (const auto& row : used) {
            EXPECT_TRUE(kinds.count(row.kind)) << row.kind;
            EXPECT_GT(row.length, 0u);
            EXPECT_LE(uint64_t{row.start} + row.length, kAddressLimit);
        }
        // Segments do not overlap, except calibration data inside information memory.
        for (size_t a = 0; a < used.size(); ++a) {
            for (size_t b = a + 1; b < used.size(); ++b) {
                const bool overlap = used[a].start < uint64_t{used[b].start} + used[b].length &&
                                     used[b].start < uint64_t{used[a].start} + used[a].length;
                const bool dcoInInfo =
                    (used[a].kind == OCTO_SEGMENT_DCO || used[b].kind == OCTO_SEGMENT_DCO) &&
                    used[a].kind != OCTO_SEGMENT_RAM && used[b].kind != OCTO_SEGMENT_RAM;
                EXPECT_TRUE(!overlap || dcoInInfo) << "rows " << a << " and " << b;
            }
        }
        if (used.empty()) {
            continue;
        }
        EXPECT_GE(type.vpp, 18);
        EXPECT_LE(type.vpp, 36);
        const uint64_t ram = sumOf(type, OCTO_SEGMENT_RAM);
        EXPECT_GE(ram, 128u);
        // The catalogue adds RAM lengths in 16 bits; 64 KiB would be shown as 0 bytes.
        EXPECT_LT(ram, 0x10000u);
        const uint64_t flash = sumOf(type, OCTO_SEGMENT_FLASH);
        EXPECT_GE(flash, 1024u);
        EXPECT_LT(flash, kAddressLimit);
        const uint64_t info =
            sumOf(type, OCTO_SEGMENT_INFO) + sumOf(type, OCTO_SEGMENT_PROTECTED_INFO);
        EXPECT_GE(info, 128u);
        EXPECT_LE(info, 512u);
        const uint64_t bsl = sumOf(type, OCTO_SEGMENT_BSL);
        EXPECT_TRUE(bsl == 0 || (bsl >= 1024 && bsl <= 4096)) << bsl;
        // The read-out defaults (lowest flash address, flash size rounded down to words)
        // must lie inside flash and inside what the read-out dialog accepts.
        const Sums sums = catalogueSums(type);
        EXPECT_GE(sums.flashStart, 0x200u);
        EXPECT_LE(sums.flash & ~1u, 0xFFE00u);
        uint64_t reach = sums.flashStart;
        for (bool grown = true; grown;) {
            grown = false;
            for (const auto& row : used) {
                if (row.kind == OCTO_SEGMENT_FLASH && row.start <= reach &&
                    uint64_t{row.start} + row.length > reach) {
                    reach = uint64_t{row.start} + row.length;
                    grown = true;
                }
            }
        }
        EXPECT_GE(reach, uint64_t{sums.flashStart} + (sums.flash & ~1u))
            << "main flash is not one contiguous block";
    }
}

TEST(DeviceTable, HoldsTheLayoutsTheCatalogueRulesTurnOn) {
    auto any = [](auto predicate) {
        return std::any_of(deviceTypes().begin(), deviceTypes().end(), predicate);
    };
    EXPECT_TRUE(any([](const DeviceType& t) { return catalogueSums(t).flash == 4100; }));
    EXPECT_TRUE(any([](const DeviceType& t) { return catalogueSums(t).flash == 4101; }));
    EXPECT_TRUE(any([](const DeviceType& t) { return catalogueSums(t).flash == 4608; }));
    EXPECT_TRUE(any([](const DeviceType& t) { return usedSegments(t).empty(); }));
    EXPECT_TRUE(any([](const DeviceType& t) { return t.jtag4Disable == 3; }));
    EXPECT_TRUE(any([](const DeviceType& t) { return t.jtag4Disable == 2; }));
    EXPECT_TRUE(any([](const DeviceType& t) { return t.dlkAble != 0; }));
    EXPECT_TRUE(
        any([](const DeviceType& t) { return t.dlkAble == 0 && !usedSegments(t).empty(); }));
    EXPECT_TRUE(any([](const DeviceType& t) { return catalogueSums(t).bsl != 0; }));
    EXPECT_TRUE(any(
        [](const DeviceType& t) { return catalogueSums(t).bsl == 0 && !usedSegments(t).empty(); }));
    EXPECT_TRUE(any([](const DeviceType& t) { return catalogueSums(t).flash > 900 * 1024; }));
    // A calibration segment as long as the protected segment before it: Restore not offered.
    EXPECT_TRUE(any([](const DeviceType& t) {
        const Sums s = catalogueSums(t);
        return s.dco != 0 && s.dco == s.protectedInfo && !s.restoreOffered;
    }));
    // The same lengths with the calibration segment first: compared with 0, so offered.
    EXPECT_TRUE(any([](const DeviceType& t) {
        const Sums s = catalogueSums(t);
        return s.dco != 0 && s.dco == s.protectedInfo && s.restoreOffered;
    }));
    EXPECT_TRUE(any([](const DeviceType& t) {
        const Sums s = catalogueSums(t);
        return s.dco != 0 && s.dco != s.protectedInfo;
    }));

    const DeviceType* beta = findDeviceType("ZEL816 Beta");
    const DeviceType* alpha = findDeviceType("ZEL816 alpha");
    ASSERT_NE(beta, nullptr);
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(beta->group, alpha->group);
    EXPECT_EQ(beta->name, "ZEL816 Beta");
    EXPECT_EQ(alpha->name, "ZEL816 alpha");
}

TEST(GetDeviceTable, FindsKnownTypesAndRefusesOthers) {
    const OctoSegmentEntry sentinel[1] = {{0xDEAD, 0xBEEF, 0xF00D}};
    struct Case {
        const char* name;
        bool known;
    };
    const Case cases[] = {{"ZEL816 A110", true}, {"zel816 a110", true}, {"ZEL816 A110 ", false},
                          {"ZEL816 A11", false}, {"", false},           {"VRG816 Generic", true}};
    for (const auto& c : cases) {
        const OctoSegmentEntry* table = sentinel;
        const int32_t result = getDeviceTable(c.name, &table);
        if (c.known) {
            EXPECT_EQ(result, 0) << c.name;
            ASSERT_NE(table, sentinel) << c.name;
            EXPECT_EQ(table, findDeviceType(c.name)->segments.data());
        } else {
            EXPECT_NE(result, 0) << c.name;
            EXPECT_EQ(table, sentinel) << "an unknown type must leave the pointer alone";
        }
    }
    const OctoSegmentEntry* table = nullptr;
    EXPECT_NE(getDeviceTable(nullptr, &table), 0);
    EXPECT_NE(getDeviceTable("ZEL816 A110", nullptr), 0);

    // The exact spelling wins over a case-insensitive match.
    EXPECT_EQ(findDeviceType("ZEL816 Beta")->name, "ZEL816 Beta");
    ASSERT_EQ(getDeviceTable("VRG816 Generic", &table), 0);
    EXPECT_EQ(table[0].kind, 0u);
}

// ---------------------------------------------------------------- OCTO816.INI

// Sections and keys as the Windows profile functions see them: names trimmed and matched
// without regard to case, the first section and key of a name winning.
class ProfileFile {
public:
    explicit ProfileFile(const std::string& text) {
        std::string section;
        bool inSection = false;
        std::string line;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\r' && text[i] != '\n') {
                line.push_back(text[i]);
                continue;
            }
            const std::string trimmed = trim(line);
            line.clear();
            if (trimmed.empty()) {
                continue;
            }
            const size_t close = trimmed.rfind(']');
            if (trimmed[0] == '[' && close != std::string::npos) {
                section = trim(trimmed.substr(1, close - 1));
                inSection = true;
                sectionNames_.push_back(section);
                continue;
            }
            const size_t eq = trimmed.find('=');
            if (!inSection || eq == std::string::npos) {
                continue;
            }
            const std::string key = fold(section) + "\n" + fold(trim(trimmed.substr(0, eq)));
            values_.emplace(key, trim(trimmed.substr(eq + 1)));
        }
    }

    const std::vector<std::string>& sectionNames() const { return sectionNames_; }

    std::optional<std::string> value(const std::string& section, const std::string& key) const {
        auto it = values_.find(fold(section) + "\n" + fold(key));
        if (it == values_.end()) {
            return std::nullopt;
        }
        return it->second;
    }

    int intValue(const std::string& section, const std::string& key, int fallback) const {
        const auto text = value(section, key);
        return text ? std::atoi(text->c_str()) : fallback;
    }

private:
    static std::string trim(const std::string& s) {
        const char* blanks = " \t\v\f\x1A";
        const size_t first = s.find_first_not_of(blanks);
        if (first == std::string::npos) {
            return {};
        }
        return s.substr(first, s.find_last_not_of(blanks) - first + 1);
    }
    static std::string fold(std::string s) {
        for (char& c : s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return s;
    }

    std::vector<std::string> sectionNames_;
    std::map<std::string, std::string> values_;
};

std::string readDistFile(const std::string& name) {
    std::ifstream in(std::string(OCTO_DIST_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ShippedIni : public ::testing::Test {
protected:
    void SetUp() override {
        text_ = readDistFile("OCTO816.INI");
        ASSERT_FALSE(text_.empty()) << "dist/OCTO816.INI missing";
    }
    std::string text_;
};

TEST_F(ShippedIni, DeviceSectionsAndTheDatabaseAgreeBothWays) {
    const ProfileFile ini(text_);
    std::set<std::string> iniTypes;
    for (const auto& name : ini.sectionNames()) {
        if (!hasFamilyWord(name)) {
            continue;
        }
        iniTypes.insert(name);
        const DeviceType* type = findDeviceType(name);
        ASSERT_NE(type, nullptr) << "GetDevice does not know [" << name << "]";
        EXPECT_EQ(type->name, name);
        EXPECT_EQ(ini.intValue(name, "Group", -1), type->group) << name;
        EXPECT_EQ(ini.intValue(name, "Vpp", kDefaultVpp), type->vpp) << name;
        EXPECT_EQ(ini.intValue(name, "DlkAble", kDefaultDlkAble), type->dlkAble) << name;
        EXPECT_EQ(ini.intValue(name, "JTAG4disable", kDefaultJtag4Disable), type->jtag4Disable)
            << name;
    }
    for (const auto& type : deviceTypes()) {
        EXPECT_TRUE(iniTypes.count(std::string(type.name))) << type.name << " missing in the INI";
    }
    EXPECT_EQ(iniTypes.size(), deviceTypes().size());
}

TEST_F(ShippedIni, StartsTheProgramOnAValidFirstSetting) {
    const ProfileFile ini(text_);
    EXPECT_EQ(ini.value("Version", "Version"), "1.56");
    for (const char* section : {"System", "User", "Timing"}) {
        EXPECT_NE(std::find(ini.sectionNames().begin(), ini.sectionNames().end(), section),
                  ini.sectionNames().end())
            << section;
    }
    EXPECT_EQ(ini.intValue("System", "ComPort", 0), 1);
    EXPECT_EQ(ini.intValue("System", "SupplyVoltage", 0), 30);
    EXPECT_GE(ini.intValue("User", "MaxSupplyVoltage", 0),
              ini.intValue("System", "SupplyVoltage", 0));
    EXPECT_GT(ini.intValue("Timing", "TimeOctoProg", 0), 0);
    EXPECT_GT(ini.intValue("Timing", "TimeSelfTest", 0), 0);

    // DevType is the position of DevTypeName in its group's list, sorted without regard to case.
    const auto typeName = ini.value("System", "DevTypeName");
    ASSERT_TRUE(typeName);
    const DeviceType* current = findDeviceType(*typeName);
    ASSERT_NE(current, nullptr);
    std::vector<std::string> groupList;
    for (const auto& type : deviceTypes()) {
        if (type.group == current->group) {
            groupList.emplace_back(type.name);
        }
    }
    std::sort(groupList.begin(), groupList.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) {
                                                return std::tolower(static_cast<unsigned char>(x)) <
                                                       std::tolower(static_cast<unsigned char>(y));
                                            });
    });
    const auto position =
        std::find(groupList.begin(), groupList.end(), *typeName) - groupList.begin();
    EXPECT_EQ(ini.intValue("System", "DevType", -1), position);
}

TEST_F(ShippedIni, EverySectionNameFitsTheProgramsListBuffer) {
    const ProfileFile ini(text_);
    size_t bytes = 0;
    for (const auto& name : ini.sectionNames()) {
        bytes += name.size() + 1;
    }
    // The list is cut at buffer size less two: every name must be seen whole.
    EXPECT_LE(bytes, kSectionNameBuffer - 2);
}

TEST_F(ShippedIni, UsesWindowsLineEnds) {
    for (size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == '\n') {
            ASSERT_TRUE(i > 0 && text_[i - 1] == '\r') << "bare LF at byte " << i;
        }
    }
    EXPECT_NE(text_.find(deviceSectionsText()), std::string::npos)
        << "the device sections differ from the generated ones; run octo_gendist";
}

} // namespace
} // namespace octo::devices

// The main window's template against the control table: ids, kinds, captions, visibility,
// tab order, the initial lists, and a layout where nothing overlaps or leaves the window.
#include "app/DialogTemplate.h"
#include "app/StringTable.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace octo {
namespace {

struct Expected {
    int id;
    ControlKind kind;
    const char* caption;
    bool visible;
};

using K = ControlKind;

// The controls with an id, written out independently of the template rows.
const Expected kExpected[] = {
    {1003, K::PushButton, "&Start", true},
    {1004, K::CheckBox, "&Erase", true},
    {1005, K::CheckBox, "Erase  Chec&k", true},
    {1006, K::CheckBox, "&Program", true},
    {1007, K::CheckBox, "&Verify", true},
    {1008, K::CheckBox, "Se&cure Device", true},
    {1068, K::Lamp, "", true},
    {1001, K::SunkenLabel, "Status Information", true},
    {1000, K::ProgressBar, "", true},
    {1108, K::Frame, "", true},
    {1073, K::GroupBox, "Target Power", true},
    {1062, K::CheckBox, "S&upplied by Programmer", true},
    {1064, K::CheckBox, "S&witch Vcc off", true},
    {1063, K::DropDownList, "", true},
    {1067, K::DropDownList, "", true},
    {1017, K::DropDownList, "", true},
    {1016, K::SortedDropDownList, "", true},
    {1010, K::PushButton, "&Load Image(s)", true},
    {1071, K::DropDownList, "", false},
    {1002, K::SunkenLabel, "RAM....      FLASH.....      (+INFO)", true},
    {1012, K::ReadOnlyEdit, "", true},
    {1013, K::PushButton, "...", true},
    {1018, K::ReadOnlyEdit, "", true},
    {1060, K::PushButton, "...", true},
    {1115, K::CheckBox, "M&ain Memory", true},
    {1116, K::CheckBox, "In&fo Memory", true},
    {1066, K::CheckBox, "Prote&cted Info", true},
    {1069, K::CheckBox, "&BSL Memory", true},
    {1070, K::CheckBox, "Res&tore", false},
    {1065, K::DropDownList, "", true},
    {1019, K::PushButton, "E&xecute", true},
    {1118, K::GroupBox, "Interface", true},
    {1120, K::RadioButton, "Use JTA&G 4 wires", true},
    {1117, K::RadioButton, "Use Duo&Link", true},
    {1014, K::DropDownList, "", true},
    {1015, K::DropDownList, "", true},
    {1082, K::PushButton, "img 0", false},
    {1084, K::PushButton, "img 1", false},
    {1083, K::PushButton, "Test&1", false},
};

// Texts and group boxes without an id.
const std::pair<K, const char*> kUnnamed[] = {
    {K::GroupBox, "Main Process"},
    {K::GroupBox, "Result"},
    {K::Label, " Target #"},
    {K::Label, "Connected"},
    {K::Label, "Erase Checked"},
    {K::Label, "Verified"},
    {K::Label, "Device secured"},
    {K::Label, " Over All"},
    {K::GroupBox, ""},
    {K::GroupBox, "Status"},
    {K::Label, "%"},
    {K::Label, "Suppl&y Voltage"},
    {K::Label, "Settling Ti&me"},
    {K::GroupBox, "Target Program / Device"},
    {K::Label, "Group"},
    {K::Label, "Type"},
    {K::Label, "Device Information"},
    {K::Label, "File &Names"},
    {K::GroupBox, "Erase / Check Erase "},
    {K::GroupBox, "DCO calibration data "},
    {K::GroupBox, "Maintenance"},
    {K::Label, "Cate&gory"},
    {K::GroupBox, "Communication Settings"},
    {K::Label, "C&OM Port"},
    {K::Label, "Baud &Rate"},
    {K::Picture, ""},
};

TEST(DialogTemplate, EveryControlHasItsKindCaptionAndVisibility) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.id);
        const ControlTemplate* c = findControl(e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->kind, e.kind);
        EXPECT_EQ(c->text, e.caption);
        EXPECT_EQ(c->visible, e.visible);
    }
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        const ControlTemplate* c = findControl(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(c->kind, K::Lamp);
        EXPECT_TRUE(c->visible);
    }
    for (const auto& [kind, text] : kUnnamed) {
        const auto controls = mainDialogControls();
        const bool found = std::any_of(controls.begin(), controls.end(), [&](const auto& c) {
            return c.id == kNoControlId && c.kind == kind && c.text == text;
        });
        EXPECT_TRUE(found) << '"' << text << '"';
    }
    for (int target = 1; target <= 8; ++target) {
        const auto controls = mainDialogControls();
        EXPECT_TRUE(std::any_of(controls.begin(), controls.end(), [&](const auto& c) {
            return c.kind == K::Label && c.text == std::to_string(target);
        })) << target;
    }
}

TEST(DialogTemplate, NoIdIsUsedTwiceAndNothingElseHasAnId) {
    std::set<int> ids;
    for (const ControlTemplate& c : mainDialogControls()) {
        if (c.id != kNoControlId) {
            EXPECT_TRUE(ids.insert(c.id).second) << "duplicate " << c.id;
        }
    }
    // 39 named controls, 40 result lamps.
    EXPECT_EQ(ids.size(), std::size(kExpected) + 40);
}

TEST(DialogTemplate, TabStopsFollowTheCreationOrder) {
    const std::vector<int> visibleOrder = {1003, 1004, 1005, 1006, 1007, 1008, 1062, 1064, 1063,
                                           1067, 1016, 1010, 1012, 1013, 1065, 1019, 1014, 1015,
                                           1066, 1115, 1116, 1017, 1018, 1060, 1069, 1071};
    const std::set<int> hiddenWithTabStop = {1082, 1070, 1084, 1083};
    std::vector<int> order;
    std::set<int> hidden;
    for (const ControlTemplate& c : mainDialogControls()) {
        if (!hasTabStop(c.kind)) {
            continue;
        }
        if (hiddenWithTabStop.contains(c.id)) {
            hidden.insert(c.id);
        } else {
            order.push_back(c.id);
        }
    }
    EXPECT_EQ(order, visibleOrder);
    EXPECT_EQ(hidden, hiddenWithTabStop);
    EXPECT_FALSE(hasTabStop(K::RadioButton));
    EXPECT_FALSE(hasTabStop(K::Lamp));
}

TEST(DialogTemplate, InitialListsAreTheTemplates) {
    std::map<int, std::vector<std::string>> lists;
    for (const InitialList& l : mainDialogInitialLists()) {
        lists[l.id] = l.rows;
    }
    ASSERT_EQ(lists[IDC_SUPPLY_VOLTAGE].size(), 19u);
    EXPECT_EQ(lists[IDC_SUPPLY_VOLTAGE].front(), "1.8 V ");
    EXPECT_EQ(lists[IDC_SUPPLY_VOLTAGE][12], "3.0 V ");
    EXPECT_EQ(lists[IDC_SUPPLY_VOLTAGE].back(), "3.6 V ");
    EXPECT_EQ(lists[IDC_SETTLE_TIME],
              (std::vector<std::string>{"0.0 s ", "0.1 s ", "0.2 s", "1.5 s", "2.0 s", "2.5 s"}));
    EXPECT_EQ(lists[IDC_DEVICE_TYPE],
              (std::vector<std::string>{"ZEL816 Axxx", "INI file contains no", "Device Type info"}));
    EXPECT_EQ(lists[IDC_CATEGORY],
              (std::vector<std::string>{"H/W Selftest", "Upgrade Firmware", "Read out Target",
                                        "Erase Image", "Target Connector"}));
    ASSERT_EQ(lists[IDC_COM_PORT].size(), 50u);
    EXPECT_EQ(lists[IDC_COM_PORT][0], "COM1");
    EXPECT_EQ(lists[IDC_COM_PORT][49], "COM50");
    EXPECT_EQ(lists[IDC_BAUD_RATE],
              (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(lists[IDC_IMAGE_NUMBER],
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

// The part of a control that shows: a closed drop-down list is one line high.
struct Box {
    int left, top, right, bottom;
};

constexpr int kClosedListHeight = 12;

Box shownBox(const ControlTemplate& c) {
    const bool list = c.kind == K::DropDownList || c.kind == K::SortedDropDownList;
    return {c.x, c.y, c.x + c.width, c.y + (list ? kClosedListHeight : c.height)};
}

bool overlap(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool inside(const Box& inner, const Box& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

TEST(DialogTemplate, VisibleControlsStayInsideTheWindowAndDoNotOverlap) {
    const Box window{0, 0, kDialogWidth, kDialogHeight};
    std::vector<const ControlTemplate*> leaves;
    std::vector<const ControlTemplate*> groups;
    for (const ControlTemplate& c : mainDialogControls()) {
        if (!c.visible) {
            continue;
        }
        EXPECT_TRUE(inside(shownBox(c), window)) << c.id << " " << c.text;
        // The frame lies around the progress bar on purpose.
        if (c.kind == K::GroupBox) {
            groups.push_back(&c);
        } else if (c.kind != K::Frame) {
            leaves.push_back(&c);
        }
    }
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        for (std::size_t j = i + 1; j < leaves.size(); ++j) {
            EXPECT_FALSE(overlap(shownBox(*leaves[i]), shownBox(*leaves[j])))
                << leaves[i]->id << " '" << leaves[i]->text << "' and " << leaves[j]->id << " '"
                << leaves[j]->text << "'";
        }
    }
    // Group boxes either nest or stand apart; every control that touches a group box
    // lies wholly inside it.
    for (const ControlTemplate* g : groups) {
        for (const ControlTemplate* h : groups) {
            if (g != h && overlap(shownBox(*g), shownBox(*h))) {
                EXPECT_TRUE(inside(shownBox(*g), shownBox(*h)) || inside(shownBox(*h), shownBox(*g)))
                    << g->text << " / " << h->text;
            }
        }
        for (const ControlTemplate* c : leaves) {
            if (overlap(shownBox(*c), shownBox(*g))) {
                EXPECT_TRUE(inside(shownBox(*c), shownBox(*g))) << c->id << " in " << g->text;
            }
        }
    }
}

TEST(StringTable, HoldsTheWindowAndStatusTextsExactly) {
    EXPECT_EQ(stringTableText(110), "&Lock Settings");
    EXPECT_EQ(stringTableText(111), "&Unlock Settings");
    EXPECT_EQ(stringTableText(113), "&About Octo Programmer...");
    EXPECT_EQ(stringTableText(170), "ZEL-OCTO816 Octo Programmer connected.");
    EXPECT_EQ(stringTableText(304),
              "ERROR: Selftest failed - No access to one ore more Image Buffer devices ! ");
    EXPECT_EQ(stringTableText(409), "ERROR: Unable to load Image Memory !  Image Memory erased? "
                                    "Correct file format?");
    EXPECT_EQ(stringTableText(463), "Target power settings modified.  ");
    EXPECT_EQ(stringTableText(407), "");
    EXPECT_EQ(stringTableText(0), "");
}

} // namespace
} // namespace octo

// The real OCTO816.EXE under Wine, seen from outside: the main window's caption and frame,
// every control with its caption, kind, visibility and place, the tab order, the lists,
// selections and check states of the template, the lamps, Enter and Escape, and closing.
#include "E2eTest.h"
#include "TemplateState.h"
#include "protocol/LineProtocol.h"

#include "resource.h"

#include <algorithm>
#include <map>
#include <optional>

namespace octo::e2e {
namespace {

// ---- control kinds --------------------------------------------------------------------

// What a control is, told from its window class and style as an operator would tell it.
enum class Kind {
    GroupBox,
    PushButton,
    CheckBox,
    RadioButton,
    DropDownList,
    SortedDropDownList,
    ReadOnlyEdit,
    Text,
    SunkenText,
    ProgressBar,
    Lamp, // flat bitmap button
    Bitmap,
    Other,
};

const char* kindName(Kind k) {
    switch (k) {
    case Kind::GroupBox:
        return "group box";
    case Kind::PushButton:
        return "push button";
    case Kind::CheckBox:
        return "check box";
    case Kind::RadioButton:
        return "radio button";
    case Kind::DropDownList:
        return "drop-down list";
    case Kind::SortedDropDownList:
        return "sorted drop-down list";
    case Kind::ReadOnlyEdit:
        return "read-only edit";
    case Kind::Text:
        return "text";
    case Kind::SunkenText:
        return "sunken text";
    case Kind::ProgressBar:
        return "progress bar";
    case Kind::Lamp:
        return "flat bitmap button";
    case Kind::Bitmap:
        return "bitmap";
    case Kind::Other:
        return "other";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& os, Kind k) {
    return os << kindName(k);
}

// Window styles (winuser.h), named here because the harness does not include <windows.h>.
constexpr std::uint32_t kWsCaption = 0x00C00000;
constexpr std::uint32_t kWsSysMenu = 0x00080000;
constexpr std::uint32_t kWsThickFrame = 0x00040000;
constexpr std::uint32_t kWsMinimizeBox = 0x00020000;
constexpr std::uint32_t kWsMaximizeBox = 0x00010000;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kWsDisabled = 0x08000000;
constexpr std::uint32_t kWsExAppWindow = 0x00040000;
constexpr std::uint32_t kButtonTypeMask = 0x0F;
constexpr std::uint32_t kBsPushButton = 0x0;
constexpr std::uint32_t kBsAutoCheckBox = 0x3;
constexpr std::uint32_t kBsGroupBox = 0x7;
constexpr std::uint32_t kBsAutoRadioButton = 0x9;
constexpr std::uint32_t kBsBitmap = 0x80;
constexpr std::uint32_t kBsFlat = 0x8000;
constexpr std::uint32_t kCbsTypeMask = 0x3;
constexpr std::uint32_t kCbsDropDownList = 0x3;
constexpr std::uint32_t kCbsSort = 0x100;
constexpr std::uint32_t kEsReadOnly = 0x800;
constexpr std::uint32_t kSsTypeMask = 0x1F;
constexpr std::uint32_t kSsLeft = 0x0;
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsLeftNoWordWrap = 0xC;
constexpr std::uint32_t kSsBitmap = 0xE;
constexpr std::uint32_t kSsSunken = 0x1000;

Kind kindOf(const std::string& cls, std::uint32_t style) {
    if (cls == "Button") {
        switch (style & kButtonTypeMask) {
        case kBsGroupBox:
            return Kind::GroupBox;
        case kBsAutoCheckBox:
            return Kind::CheckBox;
        case kBsAutoRadioButton:
            return Kind::RadioButton;
        case kBsPushButton:
            return (style & (kBsBitmap | kBsFlat)) == (kBsBitmap | kBsFlat) ? Kind::Lamp
                                                                            : Kind::PushButton;
        default:
            return Kind::Other;
        }
    }
    if (cls == "ComboBox" && (style & kCbsTypeMask) == kCbsDropDownList)
        return (style & kCbsSort) ? Kind::SortedDropDownList : Kind::DropDownList;
    if (cls == "Edit" && (style & kEsReadOnly))
        return Kind::ReadOnlyEdit;
    if (cls == "Static") {
        const std::uint32_t type = style & kSsTypeMask;
        if (type == kSsBitmap)
            return Kind::Bitmap;
        if (style & kSsSunken)
            return Kind::SunkenText;
        if (type == kSsLeft || type == kSsCenter || type == kSsLeftNoWordWrap)
            return Kind::Text;
    }
    if (cls == "msctls_progress32")
        return Kind::ProgressBar;
    return Kind::Other;
}

// ---- the expected controls, written out -------------------------------------------------

constexpr char kNoGroup[] = "-";
constexpr char kUntitledGroup[] = "";

struct Expected {
    int id;
    Kind kind;
    std::optional<std::string> caption; // none: the window text is not a caption (lists, lamps)
    bool visible;
    std::string group; // the innermost group box it lies in, by caption
};

// The main window's controls as the operator sees them: exact captions (blanks included),
// kinds, visibility and group boxes. Written out literally, independently of the template
// definition, so that a wrong caption in the template is caught.
std::vector<Expected> expectedControls() {
    const auto G = Kind::GroupBox;
    const auto T = Kind::Text;
    std::vector<Expected> e = {
        {kNoId, G, "Main Process", true, kNoGroup},
        {1003, Kind::PushButton, "&Start", true, "Main Process"},
        {1004, Kind::CheckBox, "&Erase", true, "Main Process"},
        {1005, Kind::CheckBox, "Erase  Chec&k", true, "Main Process"},
        {1006, Kind::CheckBox, "&Program", true, "Main Process"},
        {1007, Kind::CheckBox, "&Verify", true, "Main Process"},
        {1008, Kind::CheckBox, "Se&cure Device", true, "Main Process"},
        {kNoId, G, "Result", true, kNoGroup},
        {kNoId, T, " Target #", true, "Result"},
        {kNoId, T, "Connected", true, "Result"},
        {kNoId, T, "Erase Checked", true, "Result"},
        {kNoId, T, "Verified", true, "Result"},
        {kNoId, T, "Device secured", true, "Result"},
        {kNoId, G, "", true, "Result"},
        {kNoId, T, " Over All", true, kUntitledGroup},
        {kNoId, G, "Status", true, kNoGroup},
        {1068, Kind::Lamp, std::nullopt, true, "Status"},
        {1001, Kind::SunkenText, std::nullopt, true, "Status"}, // text: TemplateState.h
        {1000, Kind::ProgressBar, std::nullopt, true, "Status"},
        {1108, Kind::SunkenText, "", true, "Status"},
        {kNoId, T, "%", true, "Status"},
        {1073, G, "Target Power", true, kNoGroup},
        {1062, Kind::CheckBox, "S&upplied by Programmer", true, "Target Power"},
        {1064, Kind::CheckBox, "S&witch Vcc off", true, "Target Power"},
        {kNoId, T, "Suppl&y Voltage", true, "Target Power"},
        {1063, Kind::DropDownList, std::nullopt, true, "Target Power"},
        {kNoId, T, "Settling Ti&me", true, "Target Power"},
        {1067, Kind::DropDownList, std::nullopt, true, "Target Power"},
        {kNoId, G, "Target Program / Device", true, kNoGroup},
        {kNoId, T, "Group", true, "Target Program / Device"},
        {1017, Kind::DropDownList, std::nullopt, true, "Target Program / Device"},
        {kNoId, T, "Type", true, "Target Program / Device"},
        {1016, Kind::SortedDropDownList, std::nullopt, true, "Target Program / Device"},
        {1010, Kind::PushButton, "&Load Image(s)", true, "Target Program / Device"},
        {1071, Kind::DropDownList, std::nullopt, false, "Target Program / Device"},
        {kNoId, T, "Device Information", true, "Target Program / Device"},
        {1002, Kind::SunkenText, std::nullopt, true, "Target Program / Device"},
        {kNoId, T, "File &Names", true, "Target Program / Device"},
        {1012, Kind::ReadOnlyEdit, std::nullopt, true, "Target Program / Device"},
        {1013, Kind::PushButton, "...", true, "Target Program / Device"},
        {1018, Kind::ReadOnlyEdit, std::nullopt, true, "Target Program / Device"},
        {1060, Kind::PushButton, "...", true, "Target Program / Device"},
        {kNoId, G, "Erase / Check Erase ", true, kNoGroup},
        {1115, Kind::CheckBox, "M&ain Memory", true, "Erase / Check Erase "},
        {1116, Kind::CheckBox, "In&fo Memory", true, "Erase / Check Erase "},
        {1066, Kind::CheckBox, "Prote&cted Info", true, "Erase / Check Erase "},
        {1069, Kind::CheckBox, "&BSL Memory", true, "Erase / Check Erase "},
        {kNoId, G, "DCO calibration data ", false, kNoGroup},
        {1070, Kind::CheckBox, "Res&tore", false, "DCO calibration data "},
        {kNoId, G, "Maintenance", true, kNoGroup},
        {kNoId, T, "Cate&gory", true, "Maintenance"},
        {1065, Kind::DropDownList, std::nullopt, true, "Maintenance"},
        {1019, Kind::PushButton, "E&xecute", true, "Maintenance"},
        {1118, G, "Interface", true, kNoGroup},
        {1120, Kind::RadioButton, "Use JTA&G 4 wires", true, "Interface"},
        {1117, Kind::RadioButton, "Use Duo&Link", true, "Interface"},
        {kNoId, Kind::Bitmap, std::nullopt, true, kNoGroup},
        {kNoId, G, "Communication Settings", true, kNoGroup},
        {kNoId, T, "C&OM Port", true, "Communication Settings"},
        {1014, Kind::DropDownList, std::nullopt, true, "Communication Settings"},
        {kNoId, T, "Baud &Rate", true, "Communication Settings"},
        {1015, Kind::DropDownList, std::nullopt, true, "Communication Settings"},
        {1082, Kind::PushButton, "img 0", false, kNoGroup},
        {1084, Kind::PushButton, "img 1", false, kNoGroup},
        {1083, Kind::PushButton, "Test&1", false, kNoGroup},
    };
    for (int target = 1; target <= 8; ++target)
        e.push_back({kNoId, T, std::to_string(target), true, "Result"});
    // The result grid: row r, target t has id 1020 + 8r + t; the Over All row has its own box.
    for (int row = 0; row < 5; ++row)
        for (int target = 0; target < 8; ++target)
            e.push_back({1020 + 8 * row + target, Kind::Lamp, std::nullopt, true,
                         row == 4 ? kUntitledGroup : "Result"});
    return e;
}

// The tab order: controls with a tab stop, in creation order.
const std::vector<int> kTabOrder = {1003, 1004, 1005, 1006, 1007, 1008, 1062, 1064, 1063,
                                    1067, 1016, 1010, 1012, 1013, 1065, 1019, 1014, 1015,
                                    1066, 1115, 1116, 1017, 1018, 1060, 1069, 1071};
const std::vector<int> kHiddenTabStops = {1070, 1082, 1083, 1084};

// ---- the template definition, as the resource compiler reads it ---------------------------

struct DefinedControl {
    std::string kind; // the .def's kind word
    int id;
    std::string text;
    bool visible;
};

// A row's text is a caption, or for a picture the resource number of its bitmap.
std::string definedText(const char* caption) {
    return caption;
}
std::string definedText(int) {
    return {};
}

const std::vector<DefinedControl>& definedControls() {
    static const std::vector<DefinedControl> rows = {
#define OCTO_CONTROL(kind, id, text, x, y, w, h, vis)                                              \
    {#kind, id, definedText(text), std::string(#vis) == "VISIBLE"},
#include "dialog102.def"
#undef OCTO_CONTROL
    };
    return rows;
}

Kind kindOfDefinition(const std::string& word) {
    static const std::map<std::string, Kind> kinds = {
        {"GROUP", Kind::GroupBox},
        {"PUSH", Kind::PushButton},
        {"CHECK", Kind::CheckBox},
        {"RADIO_FIRST", Kind::RadioButton},
        {"RADIO", Kind::RadioButton},
        {"COMBO", Kind::DropDownList},
        {"COMBO_SORTED", Kind::SortedDropDownList},
        {"EDIT_RO", Kind::ReadOnlyEdit},
        {"LABEL", Kind::Text},
        {"LABEL_CENTER", Kind::Text},
        {"SUNKEN", Kind::SunkenText},
        {"FRAME", Kind::SunkenText},
        {"PROGRESS", Kind::ProgressBar},
        {"LAMP", Kind::Lamp},
        {"LOGO", Kind::Bitmap},
    };
    const auto it = kinds.find(word);
    return it == kinds.end() ? Kind::Other : it->second;
}

bool isList(Kind k) {
    return k == Kind::DropDownList || k == Kind::SortedDropDownList;
}

// ---- the shared window -------------------------------------------------------------------

// The window as the template makes it: the program alone, without its library and
// configuration file, so the start-up checks fail and the window behind their message
// keeps the construction values until the message is answered.
class MainWindow : public SharedWindowTest<MainWindow> {
protected:
    static void SetUpTestSuite() {
        openWindow([](Session& s) {
            s.installProgram();
            std::filesystem::remove(s.programFolder() / "OCTO816.DLL");
            std::filesystem::remove(s.programFolder() / "OCTO816.INI");
            window_ = std::make_unique<Window>(s.launch());
            message_ = std::make_unique<Window>(window_->waitPopup(kStartTimeout));
            children_ = window_->children();
        });
    }
    static void TearDownTestSuite() {
        message_.reset();
        window_.reset();
        if (Session* s = SharedSession::get())
            s->stopProgram();
    }

    const std::vector<Child>& children() { return children_; }

    const Child* childById(int id) {
        for (const auto& c : children_)
            if (c.id == id)
                return &c;
        return nullptr;
    }
    const Child* groupBox(const std::string& caption) {
        for (const auto& c : children_)
            if (kindOf(c.className, c.style) == Kind::GroupBox && c.text == caption)
                return &c;
        return nullptr;
    }

    static inline std::unique_ptr<Window> message_;
    static inline std::vector<Child> children_;
};

std::string describe(const Child& c) {
    return "control " + std::to_string(c.id) + " " + quote(c.text) + " (" + c.className + ")";
}

TEST_F(MainWindow, HasTheCaptionAndAFixedSizeFrameWithSystemMenuAndMinimiseBox) {
    EXPECT_EQ(w().caption(), "ZEL816 FLASH Octo Programmer");
    const std::uint32_t style = w().style();
    EXPECT_EQ(style & kWsCaption, kWsCaption);
    EXPECT_TRUE(style & kWsSysMenu);
    EXPECT_TRUE(style & kWsMinimizeBox);
    EXPECT_FALSE(style & kWsMaximizeBox);
    EXPECT_FALSE(style & kWsThickFrame);
    EXPECT_TRUE(w().exStyle() & kWsExAppWindow) << "not shown in the task bar";
}

TEST_F(MainWindow, IsCentredOnTheScreen) {
    constexpr int kScreenWidth = 1024;
    constexpr int kScreenHeight = 768;
    constexpr int kRounding = 1;
    const Rect r = w().rect();
    EXPECT_NEAR(r.left + r.right, kScreenWidth, 2 * kRounding) << r.left << ".." << r.right;
    EXPECT_NEAR(r.top + r.bottom, kScreenHeight, 2 * kRounding) << r.top << ".." << r.bottom;
}

TEST_F(MainWindow, EveryControlHasItsCaptionKindAndVisibility) {
    const auto expected = expectedControls();
    EXPECT_EQ(children().size(), expected.size()) << "number of controls";
    std::vector<bool> used(children().size(), false);
    for (const auto& e : expected) {
        // Controls with an id are found by it; the others by kind and caption.
        std::optional<std::size_t> found;
        for (std::size_t i = 0; i < children().size() && !found; ++i) {
            const Child& c = children()[i];
            if (used[i] || c.id != e.id)
                continue;
            if (e.id == kNoId &&
                (kindOf(c.className, c.style) != e.kind || (e.caption && c.text != *e.caption)))
                continue;
            found = i;
        }
        const std::string what =
            e.id == kNoId ? std::string(kindName(e.kind)) + " " + quote(e.caption.value_or(""))
                          : "control " + std::to_string(e.id);
        if (!found) {
            ADD_FAILURE() << "missing: " << what;
            continue;
        }
        used[*found] = true;
        const Child& c = children()[*found];
        EXPECT_EQ(kindOf(c.className, c.style), e.kind) << what << ", class " << c.className;
        if (e.caption) {
            EXPECT_EQ(c.text, *e.caption) << what;
        }
        EXPECT_EQ(c.visible(), e.visible) << what;
        EXPECT_EQ(c.style & kWsDisabled, 0u) << what << " is disabled";
    }
    for (std::size_t i = 0; i < children().size(); ++i)
        EXPECT_TRUE(used[i]) << "unexpected " << describe(children()[i]);
}

TEST_F(MainWindow, ControlsFollowTheTemplateDefinitionInCreationOrder) {
    const auto& rows = definedControls();
    ASSERT_EQ(children().size(), rows.size());
    std::map<int, std::string> startupTexts(template_state::texts().begin(),
                                            template_state::texts().end());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DefinedControl& d = rows[i];
        const Child& c = children()[i];
        const std::string where = "row " + std::to_string(i) + " " + quote(d.text);
        EXPECT_EQ(c.id, d.id) << where;
        const Kind kind = kindOfDefinition(d.kind);
        EXPECT_EQ(kindOf(c.className, c.style), kind) << where;
        EXPECT_EQ(c.visible(), d.visible) << where;
        if (d.kind == "RADIO_FIRST") {
            EXPECT_TRUE(c.style & kWsGroup) << where << " does not start its radio group";
        }
        if (d.kind == "SUNKEN") {
            // Status and device lines are two lines high and wrap long texts.
            EXPECT_EQ(c.style & kSsTypeMask, kSsLeft) << where;
        }
        if (!isList(kind) && kind != Kind::Bitmap && !startupTexts.count(d.id)) {
            EXPECT_EQ(c.text, d.text) << where;
        }
    }
}

TEST_F(MainWindow, TabOrderIsTheCreationOrderOfTheTabStops) {
    std::vector<int> visible;
    std::vector<int> hidden;
    for (const auto& c : children())
        if (c.style & kWsTabStop)
            (c.visible() || c.id == 1071 ? visible : hidden).push_back(c.id);
    EXPECT_EQ(visible, kTabOrder);
    std::sort(hidden.begin(), hidden.end());
    EXPECT_EQ(hidden, kHiddenTabStops);
}

TEST_F(MainWindow, ControlsLieInTheirGroupBoxesWithoutOverlapping) {
    const Rect window = w().rect();
    for (const auto& e : expectedControls()) {
        if (e.group == kNoGroup || e.id == kNoId)
            continue;
        const Child* c = childById(e.id);
        const Child* g = groupBox(e.group);
        ASSERT_TRUE(c && g) << e.id << " in " << quote(e.group);
        EXPECT_TRUE(g->rect.contains(c->rect)) << describe(*c) << " outside " << quote(e.group);
    }
    // Id-less texts: each inside the group box the table names.
    for (const auto& e : expectedControls()) {
        if (e.id != kNoId || e.group == kNoGroup || !e.caption)
            continue;
        const Child* g = groupBox(e.group);
        ASSERT_TRUE(g) << quote(e.group);
        for (const auto& c : children())
            if (c.id == kNoId && c.text == *e.caption && kindOf(c.className, c.style) == e.kind) {
                EXPECT_TRUE(g->rect.contains(c.rect))
                    << describe(c) << " outside " << quote(e.group);
            }
    }
    const Child* interface = groupBox("Interface");
    ASSERT_TRUE(interface);
    for (const auto& c : children()) {
        if (!c.visible())
            continue;
        EXPECT_TRUE(window.contains(c.rect)) << describe(c) << " sticks out of the window";
        if (kindOf(c.className, c.style) == Kind::Bitmap) {
            EXPECT_GE(c.rect.top, interface->rect.bottom) << "the logo is not below Interface";
        }
    }
    // Visible controls other than group boxes never overlap; the frame 1108 lies around the
    // progress bar on purpose. Group boxes are either apart or one holds the other.
    for (std::size_t i = 0; i < children().size(); ++i) {
        for (std::size_t j = i + 1; j < children().size(); ++j) {
            const Child& a = children()[i];
            const Child& b = children()[j];
            if (!a.visible() || !b.visible() || !a.rect.overlaps(b.rect))
                continue;
            const bool aGroup = kindOf(a.className, a.style) == Kind::GroupBox;
            const bool bGroup = kindOf(b.className, b.style) == Kind::GroupBox;
            if (aGroup && bGroup) {
                EXPECT_TRUE(a.rect.contains(b.rect) || b.rect.contains(a.rect))
                    << describe(a) << " crosses " << describe(b);
            } else if (!aGroup && !bGroup) {
                const bool frameOverBar =
                    (a.id == 1000 && b.id == 1108) || (a.id == 1108 && b.id == 1000);
                EXPECT_TRUE(frameOverBar) << describe(a) << " overlaps " << describe(b);
            }
        }
    }
}

TEST_F(MainWindow, ListsHoldTheTemplateRowsAndTheConstructionSelections) {
    for (const auto& list : template_state::lists()) {
        EXPECT_EQ(w().comboRows(list.id), list.rows) << "list " << list.id;
        const auto sel = w().comboSelection(list.id);
        EXPECT_EQ(sel.index, list.selected) << "list " << list.id;
        if (list.selected >= 0 && list.selected < static_cast<int>(list.rows.size())) {
            EXPECT_EQ(sel.text, list.rows[static_cast<std::size_t>(list.selected)])
                << "list " << list.id;
        }
    }
    // The selections an operator reads, written out.
    EXPECT_EQ(w().comboSelection(1014).text, "COM1");
    EXPECT_EQ(w().comboSelection(1015).text, "115200");
    EXPECT_EQ(w().comboSelection(1063).text, "3.0 V ");
    EXPECT_EQ(w().comboSelection(1067).text, "0.1 s ");
}

TEST_F(MainWindow, CheckBoxesShowTheConstructionValues) {
    for (const auto& [id, state] : template_state::checkStates())
        EXPECT_EQ(w().checkState(id), state) << "control " << id;
}

TEST_F(MainWindow, StatusLineDeviceLineFileNamesAndProgressShowTheTemplate) {
    for (const auto& [id, text] : template_state::texts())
        EXPECT_EQ(w().text(id), text) << "control " << id;
    const auto p = w().progress(1000);
    EXPECT_EQ(p.position, template_state::kProgress.position);
    EXPECT_EQ(p.low, template_state::kProgress.low);
    EXPECT_EQ(p.high, template_state::kProgress.high);
}

TEST_F(MainWindow, LampsAreReadableAndTheGridIsUniform) {
    const std::string first = w().pixel(IDC_RESULT_FIRST);
    ASSERT_EQ(first.size(), 6u);
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id)
        EXPECT_EQ(w().pixel(id), first) << "lamp " << id;
    const std::string status = w().pixel(IDC_STATUS_LAMP);
    EXPECT_EQ(status.size(), 6u);
    RecordProperty("result_lamp_colour", first);
    RecordProperty("status_lamp_colour", status);
}

TEST_F(MainWindow, ScreenshotIsSaved) {
    const auto file = session().screenshot("main_window");
    EXPECT_GT(std::filesystem::file_size(file), 0u);
    RecordProperty("screenshot", file.string());
}

// The failed start-up's one message names both missing files; after OK the program ends.
TEST_F(MainWindow, FailedStartupShowsOneMessageThenCloses) {
    ASSERT_TRUE(message_);
    const MessageBoxContent box = message_->messageBox();
    EXPECT_EQ(box.title, "ZEL816 FLASH Octo Programmer");
    EXPECT_EQ(box.text, "Error:\n\nDynamic link library OCTO816.DLL could not be found!\n\n"
                        "Configuration file OCTO816.INI could not be found!\n\n"
                        "Please update your OCTO816 system.\nThis application will close.\n");
    message_->press(kIdOk);
    window_->waitGone(kExitTimeout);
    const auto status = session().waitProgramExit(kExitTimeout);
    ASSERT_TRUE(status.has_value()) << "the window went but the process did not end";
    EXPECT_EQ(*status, 0);
    // Nothing was loaded, so nothing was written: no configuration file appeared.
    EXPECT_FALSE(std::filesystem::exists(session().programFolder() / "OCTO816.INI"));
}

// ---- closing: each test starts the program afresh -----------------------------------------

class MainWindowClosing : public ProgramWindowTest {
protected:
    void expectProgramEnds() {
        window_->waitGone(kExitTimeout);
        const auto status = session_->waitProgramExit(kExitTimeout);
        ASSERT_TRUE(status.has_value()) << "the window went but the process did not end";
        EXPECT_EQ(*status, 0) << session_->programLog();
    }
};

TEST_F(MainWindowClosing, EnterAndEscapeDoNotCloseTheWindow) {
    for (int id : {IDC_ERASE, IDC_COM_PORT, IDC_IMAGE_FILE}) {
        window_->focus(id);
        const int before = window_->checkState(IDC_ERASE);
        EXPECT_EQ(window_->key("Enter"), AfterKey::Open) << "focus on " << id;
        EXPECT_EQ(window_->key("Escape"), AfterKey::Open) << "focus on " << id;
        EXPECT_EQ(window_->checkState(IDC_ERASE), before);
        EXPECT_EQ(window_->focusedId(), id);
    }
    EXPECT_TRUE(session_->programRunning());
    EXPECT_EQ(window_->caption(), "ZEL816 FLASH Octo Programmer");
}

TEST_F(MainWindowClosing, CloseMessageClosesTheWindowAndEndsTheProcess) {
    window_->close();
    expectProgramEnds();
}

TEST_F(MainWindowClosing, SystemMenuCloseEndsTheProcess) {
    window_->sysCommand(kScClose);
    expectProgramEnds();
}

TEST_F(MainWindowClosing, AltF4EndsTheProcess) {
    window_->focus(IDC_ERASE);
    EXPECT_EQ(window_->key("alt+f4"), AfterKey::Closed);
    expectProgramEnds();
}

} // namespace
} // namespace octo::e2e

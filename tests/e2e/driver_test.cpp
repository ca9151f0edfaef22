// The driver's commands against octo_e2e_fixture.exe, a dialog whose every answer is known:
// texts, states, lists, progress, pixels, clicks, selections with their notification,
// keys through the dialog manager, a message box, the common file dialog and closing.
#include "E2eTest.h"
#include "fixture/FixtureIds.h"

#include <algorithm>
#include <fstream>
#include <functional>

namespace octo::e2e {
namespace {

constexpr char kFixtureExe[] = "octo_e2e_fixture.exe";
constexpr char kFixtureTitle[] = OCTO_FIXTURE_TITLE;
constexpr int kFixtureExitCode = fixture::kExitCode;
using namespace fixture;

constexpr std::uint32_t kButtonTypeMask = 0x0F;
constexpr std::uint32_t kAutoCheckBox = 0x03;
constexpr std::uint32_t kComboTypeMask = 0x03;
constexpr std::uint32_t kDropDownList = 0x03;
constexpr Millis kPopupTimeout{15000};

class Fixture : public SharedWindowTest<Fixture> {
protected:
    static void SetUpTestSuite() {
        openWindow([](Session& s) {
            s.installFromBuild(kFixtureExe);
            window_ = std::make_unique<Window>(s.launch(kFixtureExe, kFixtureTitle));
        });
    }
    static void TearDownTestSuite() { window_.reset(); }
};

TEST_F(Fixture, ReadsCaptionTextsClassesAndStyles) {
    EXPECT_EQ(w().caption(), kFixtureTitle);
    EXPECT_EQ(w().text(kLabel), "Hello fixture");
    EXPECT_EQ(w().text(kAsk), "&Ask");
    const auto check = w().controlClass(kCheck);
    EXPECT_EQ(check.name, "Button");
    EXPECT_EQ(check.style & kButtonTypeMask, kAutoCheckBox);
    const auto combo = w().controlClass(kCombo);
    EXPECT_EQ(combo.name, "ComboBox");
    EXPECT_EQ(combo.style & kComboTypeMask, kDropDownList);
    EXPECT_EQ(w().controlClass(kProgress).name, "msctls_progress32");
    EXPECT_THROW(w().text(999), E2eError);
}

TEST_F(Fixture, ListsChildrenInCreationOrderWithVisibility) {
    const auto children = w().children();
    std::vector<int> ids;
    for (const auto& c : children)
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{kLabel, kAsk, kAnswer, kCheck, kCombo, kComboEcho, kProgress,
                                     kRedBox, kOpen, kOpenResult, kDisabled, kHidden, kDialogKeys,
                                     kEdit, kHold, kHeldActions}));
    for (const auto& c : children) {
        EXPECT_EQ(c.visible(), c.id != kHidden) << c.id;
        EXPECT_TRUE(w().rect().contains(c.rect)) << c.id;
    }
    ASSERT_EQ(children.size(), 16u);
    EXPECT_EQ(children[0].text, "Hello fixture");
    EXPECT_EQ(children[8].text, "&Open...");
}

TEST_F(Fixture, ReadsEnabledVisibleProgressAndPixels) {
    EXPECT_TRUE(w().enabled(kAsk));
    EXPECT_FALSE(w().enabled(kDisabled));
    EXPECT_TRUE(w().visible(kAsk));
    EXPECT_FALSE(w().visible(kHidden));
    const auto p = w().progress(kProgress);
    EXPECT_EQ(p.position, 50);
    EXPECT_EQ(p.low, 0);
    EXPECT_EQ(p.high, 200);
    // The screen shows the box once the fixture has painted it, which may lag its window
    // appearing.
    const std::string red = "FF0000";
    EXPECT_EQ(eventually([&] { return w().pixel(kRedBox); }, red), red);
    // The whole box, pixel for pixel, and no more.
    const Picture box = w().grab(kRedBox);
    const Rect r = w().rect(kRedBox);
    EXPECT_EQ(box.width, r.width());
    EXPECT_EQ(box.height, r.height());
    constexpr std::uint32_t kRed = 0xFF0000;
    EXPECT_EQ(std::count(box.pixels.begin(), box.pixels.end(), kRed),
              static_cast<std::ptrdiff_t>(box.pixels.size()));
    EXPECT_TRUE(box.contains(Picture{2, 2, {kRed, kRed, kRed, kRed}}));
    EXPECT_FALSE(box.contains(Picture{1, 1, {0x00FF00}}));
}

TEST_F(Fixture, ReadsAndSelectsListRowsWithTheNotification) {
    EXPECT_EQ(w().comboCount(kCombo), 3);
    EXPECT_EQ(w().comboRows(kCombo), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(w().comboSelection(kCombo).index, 0);
    w().select(kCombo, "gamma");
    const auto sel = w().comboSelection(kCombo);
    EXPECT_EQ(sel.index, 2);
    EXPECT_EQ(sel.text, "gamma");
    // The fixture echoes the row only on CBN_SELCHANGE.
    EXPECT_EQ(eventually([&] { return w().text(kComboEcho); }, std::string("gamma")), "gamma");
    EXPECT_THROW(w().select(kCombo, 3), E2eError);
    EXPECT_THROW(w().select(kCombo, "delta"), E2eError);
}

TEST_F(Fixture, ClicksToggleCheckBoxesAndRefuseDisabledOrHiddenControls) {
    const int before = w().checkState(kCheck);
    w().click(kCheck);
    EXPECT_EQ(eventually([&] { return w().checkState(kCheck); }, 1 - before), 1 - before);
    w().click(kCheck);
    EXPECT_EQ(eventually([&] { return w().checkState(kCheck); }, before), before);
    EXPECT_THROW(w().click(kDisabled), E2eError);
    EXPECT_THROW(w().click(kHidden), E2eError);
}

TEST_F(Fixture, ActionsWaitForTheControlsTheWindowHoldsForAMoment) {
    // The window stops painting and disables the check box and the list for kHoldMs (Wine
    // reports them as hidden meanwhile): each action is taken once the window gives them
    // back, and none reaches them during the hold (the fixture counts those that do).
    int checkBefore = 0;
    const struct {
        const char* action;
        std::function<void()> act;
        std::function<bool()> taken;
    } rows[] = {
        {"click", [&] { w().click(kCheck); },
         [&] { return w().checkState(kCheck) == 1 - checkBefore; }},
        {"select", [&] { w().select(kCombo, 1); }, [&] { return w().text(kComboEcho) == "beta"; }},
        {"focus", [&] { w().focus(kCheck); }, [&] { return w().focusedId() == kCheck; }},
    };
    for (const auto& row : rows) {
        w().focus(kEdit);
        checkBefore = w().checkState(kCheck);
        w().click(kHold);
        row.act();
        EXPECT_TRUE(eventually(row.taken, true)) << row.action;
        EXPECT_EQ(w().text(kHeldActions), "0") << row.action;
    }
}

TEST_F(Fixture, SetsAndReadsTextsWithAnyCharacters) {
    const std::string text = "a \"quoted\" \\ text \xC3\xA4\xE2\x82\xAC and  two blanks ";
    w().setText(kEdit, text);
    EXPECT_EQ(w().text(kEdit), text);
    w().setText(kEdit, "");
    EXPECT_EQ(w().text(kEdit), "");
}

TEST_F(Fixture, EnterAndEscapeReachTheDialogManagerAsOkAndCancel) {
    w().focus(kCheck);
    EXPECT_EQ(w().focusedId(), kCheck);
    const int checkBefore = w().checkState(kCheck);
    EXPECT_EQ(w().text(kDialogKeys), "IDOK 0, IDCANCEL 0");
    EXPECT_EQ(w().key("Enter"), AfterKey::Open);
    EXPECT_EQ(w().text(kDialogKeys), "IDOK 1, IDCANCEL 0");
    EXPECT_EQ(w().key("Escape"), AfterKey::Open);
    EXPECT_EQ(w().text(kDialogKeys), "IDOK 1, IDCANCEL 1");
    // The probe that tells the key was handled puts the focus back where it was.
    EXPECT_EQ(w().focusedId(), kCheck);
    EXPECT_EQ(w().checkState(kCheck), checkBefore);
}

TEST_F(Fixture, FindsReadsAndAnswersAMessageBoxWithAnEmptyTitle) {
    EXPECT_EQ(w().click(kAsk), Outcome::Pending);
    Window box = w().waitPopup(kPopupTimeout);
    const auto content = box.messageBox();
    EXPECT_EQ(content.title, "");
    EXPECT_EQ(content.text, "Proceed with the test?");
    ASSERT_EQ(content.buttons.size(), 2u);
    EXPECT_EQ(content.buttons[0].first, kIdYes);
    EXPECT_EQ(content.buttons[1].first, kIdNo);
    // Behind its modal box the window takes no clicks.
    EXPECT_THROW(w().click(kCheck), E2eError);
    box.press(kIdNo);
    box.waitGone(kPopupTimeout);
    EXPECT_EQ(eventually([&] { return w().text(kAnswer); }, std::string("no")), "no");
    EXPECT_TRUE(w().enabled(kCheck));
}

TEST_F(Fixture, ChoosesAFileAndAFilterInTheFileDialog) {
    const auto file = session().programFolder() / "pick.hex";
    std::ofstream(file) << ":00000001FF\n";
    EXPECT_EQ(w().click(kOpen), Outcome::Pending);
    Window dialog = w().waitPopup(kPopupTimeout);
    EXPECT_EQ(dialog.caption(), "Open Fixture File");
    dialog.fileFilter(1);
    dialog.fileName(windowsPath(file));
    dialog.press(kIdOk);
    dialog.waitGone(kPopupTimeout);
    const std::string expected = "2|" + windowsPath(file);
    EXPECT_EQ(eventually([&] { return w().text(kOpenResult); }, expected), expected);
}

TEST_F(Fixture, ScreenshotShowsTheWindow) {
    const auto file = session().screenshot("fixture");
    EXPECT_GT(std::filesystem::file_size(file), 0u);
}

class FixtureClosing : public SessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SessionTest::SetUp());
        session_->installFromBuild(kFixtureExe);
    }
};

TEST_F(FixtureClosing, CloseMessageEndsTheProgram) {
    Window w = session_->launch(kFixtureExe, kFixtureTitle);
    w.close();
    w.waitGone(kExitTimeout);
    EXPECT_EQ(session_->waitProgramExit(kExitTimeout), kFixtureExitCode);
}

TEST_F(FixtureClosing, AltF4EndsTheProgram) {
    Window w = session_->launch(kFixtureExe, kFixtureTitle);
    w.focus(kCheck);
    EXPECT_EQ(w.key("alt+f4"), AfterKey::Closed);
    EXPECT_EQ(session_->waitProgramExit(kExitTimeout), kFixtureExitCode);
}

} // namespace
} // namespace octo::e2e

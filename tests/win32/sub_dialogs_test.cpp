// The three sub-dialogs for real, over the real main window: each made by the resource
// compiler as its portable description says, and driven from inside its own modal loop by
// a thread timer that plays the operator.
#include "DialogWindowTest.h"
#include "TemplateChecks.h"
#include "app/DialogTemplate.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace octo {
namespace {

using testing::windowText;

// These tests set the window up themselves.
class WindowOnlyDialog : public ProgrammerDialog {
public:
    using ProgrammerDialog::ProgrammerDialog;

protected:
    void onStartupCommand() override {}
};

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findOwned(HWND w, LPARAM l) {
    auto* search = reinterpret_cast<OwnedSearch*>(l);
    if (GetWindow(w, GW_OWNER) == search->owner && IsWindowVisible(w) &&
        testing::className(w) == "#32770") {
        search->found = w;
        return FALSE;
    }
    return TRUE;
}

// The visible dialog box of this thread that owner owns (a sub-dialog or a message box).
HWND ownedDialog(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &findOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void pressKey(UINT key) {
    PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
}

// Plays the operator inside a modal loop: a thread timer runs the steps in order, each
// until it reports done. A step that never gets done fails the test and closes the boxes
// so that the modal loops end.
class Operator {
public:
    using Step = std::function<bool()>;

    Operator(HWND mainWindow, std::vector<Step> steps)
        : mainWindow_(mainWindow), steps_(std::move(steps)),
          deadline_(GetTickCount() + kDeadlineMs) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, kTickMs, &Operator::tick);
    }
    ~Operator() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    Operator(const Operator&) = delete;
    Operator& operator=(const Operator&) = delete;

    bool finished() const { return next_ == steps_.size(); }

private:
    static constexpr UINT kTickMs = 20;
    // Generous for a loaded machine: a step waits only for a window to appear or go.
    static constexpr DWORD kDeadlineMs = 30000;

    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        Operator* self = current_;
        if (!self || self->finished()) {
            return;
        }
        if (self->steps_[self->next_]()) {
            ++self->next_;
            self->deadline_ = GetTickCount() + kDeadlineMs;
        } else if (static_cast<LONG>(GetTickCount() - self->deadline_) > 0) {
            ADD_FAILURE() << "operator step " << self->next_ << " never got done";
            self->next_ = self->steps_.size();
            for (HWND box = ownedDialog(self->mainWindow_); box; box = ownedDialog(box)) {
                PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            }
        }
    }

    static inline Operator* current_ = nullptr;
    HWND mainWindow_;
    std::vector<Step> steps_;
    DWORD deadline_;
    std::size_t next_ = 0;
    UINT_PTR timer_ = 0;
};

class SubDialogWindowTest : public testing::DialogWindowTest<WindowOnlyDialog> {
protected:
    SubDialogWindowTest() { pump(); }

    // Waits for the sub-dialog and checks it against its template; the controls the
    // dialog fills are checked by the test.
    Operator::Step findDialog(int templateId, HWND& found, std::set<int> filled = {}) {
        return [this, templateId, &found, filled] {
            found = ownedDialog(hwnd);
            if (!found) {
                return false;
            }
            const DialogTemplate& t = *subDialogTemplate(templateId);
            EXPECT_EQ(windowText(found), t.caption);
            RECT size{0, 0, t.width, t.height};
            MapDialogRect(found, &size);
            RECT client{};
            GetClientRect(found, &client);
            EXPECT_EQ(client.right, size.right);
            EXPECT_EQ(client.bottom, size.bottom);
            std::vector<std::string> texts;
            texts.reserve(t.controls.size());
            std::vector<ControlTemplate> unfilled;
            for (const ControlTemplate& c : t.controls) {
                ControlTemplate copy = c;
                if (filled.contains(c.id)) {
                    copy.text = texts.emplace_back(windowText(GetDlgItem(found, c.id)));
                }
                unfilled.push_back(copy);
            }
            testing::expectControlsOfTemplate(found, unfilled);
            return true;
        };
    }

    std::string itemText(HWND dialog, int id) const { return windowText(GetDlgItem(dialog, id)); }
};

TEST_F(SubDialogWindowTest, AboutBoxFromTheSystemMenuShowsTheVersionsAndClosesWithOk) {
    platform.versions[state.programDirectory + "OCTO816.EXE|FileVersion"] = "1.56";
    HWND box = nullptr;
    Operator op(hwnd, {findDialog(IDD_ABOUTBOX, box,
                                  {IDC_ABOUT_COPYRIGHT, IDC_ABOUT_EXE_VERSION,
                                   IDC_ABOUT_DLL_VERSION, IDC_ABOUT_INI_VERSION}),
                       [&] {
                           EXPECT_EQ(itemText(box, IDC_ABOUT_EXE_VERSION), "1.56");
                           EXPECT_EQ(itemText(box, IDC_ABOUT_DLL_VERSION), "???");
                           EXPECT_EQ(itemText(box, IDC_ABOUT_FIRMWARE_VERSION), "n. c.");
                           pressKey(VK_RETURN);
                           return true;
                       }});
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    EXPECT_TRUE(op.finished());
    EXPECT_FALSE(IsWindow(box));
}

TEST_F(SubDialogWindowTest, ReadOutRefusesAWrongStartWithItsFieldSelectedThenTakesTheRange) {
    HWND box = nullptr;
    HWND message = nullptr;
    Operator op(
        hwnd,
        {findDialog(IDD_READOUT, box, {IDC_READOUT_TARGET, IDC_READOUT_START, IDC_READOUT_LENGTH}),
         [&] {
             EXPECT_EQ(itemText(box, IDC_READOUT_START), "0x0F000");
             EXPECT_EQ(GetFocus(), GetDlgItem(box, IDC_READOUT_TARGET));
             SetDlgItemTextA(box, IDC_READOUT_START, "0x1FF");
             click(box, IDOK);
             return true;
         },
         [&] {
             message = ownedDialog(box);
             if (!message) {
                 return false;
             }
             EXPECT_EQ(itemText(message, 0xFFFF), "ERROR: Value wrong or out of range !");
             click(message, IDOK);
             return true;
         },
         [&] {
             if (ownedDialog(box)) {
                 return false;
             }
             HWND start = GetDlgItem(box, IDC_READOUT_START);
             EXPECT_EQ(GetFocus(), start);
             DWORD from = 1, to = 0;
             SendMessageA(start, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                          reinterpret_cast<LPARAM>(&to));
             EXPECT_EQ(from, 0u);
             EXPECT_EQ(to, 5u);
             SetDlgItemTextA(box, IDC_READOUT_START, "0x200");
             click(box, IDOK);
             return true;
         }});
    EXPECT_TRUE(dialog.subDialogs().runReadOutDialog());
    EXPECT_TRUE(op.finished());
    EXPECT_EQ(state.readOutStart, 0x200u);
}

TEST_F(SubDialogWindowTest, SignalsSetSendsTheDefaultsEnterStaysAndEscapeLeaves) {
    HWND box = nullptr;
    Operator op(hwnd, {findDialog(IDD_SIGNALS, box),
                       [&] {
                           EXPECT_EQ(IsDlgButtonChecked(box, IDC_SIGNAL_LINE_FIRST), BST_CHECKED);
                           EXPECT_EQ(IsDlgButtonChecked(box, IDC_SIGNAL_VCC_ON), BST_CHECKED);
                           click(box, IDC_SIGNAL_SET);
                           pressKey(VK_RETURN);
                           return true;
                       },
                       [&] {
                           EXPECT_TRUE(IsWindowVisible(box));
                           pressKey(VK_ESCAPE);
                           return true;
                       }});
    dialog.subDialogs().runSignalsDialog();
    EXPECT_TRUE(op.finished());
    EXPECT_EQ(library->callLog(),
              (std::vector<std::string>{"OctoSetSignals 256 30", "OctoSetSignals 32768 30",
                                        "OctoSetVccTarget 30"}));
}

} // namespace
} // namespace octo

// The View without a window: controls built from the dialog template, behaving like the
// real ones where the program relies on it (sorted lists, auto check boxes and radio
// groups, disabled controls ignoring clicks), plus the means for a test to act as the
// operator and the message loop: click, select, answer message boxes, run posted
// commands, tick timers, operate the modal sub-dialogs the program opens.
#pragma once

#include "app/DialogTemplate.h"
#include "app/View.h"
#include "support/EventLog.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace octo::testing {

struct ShownMessageBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
};

// What the program asked an open-file or save-file dialog for.
struct FileDialogRequest {
    std::string title;
    std::string filter;
    bool save = false;
};

struct MenuItem {
    int command = 0; // 0 for a separator
    std::string text;
    bool enabled = true;
};

class InMemoryView final : public View {
public:
    // Receives what the window would send to the dialog.
    struct Sink {
        std::function<void(int id, int code)> command;
        std::function<void(int timerId)> timer;
        std::function<void()> close;
    };

    // The main dialog.
    explicit InMemoryView(EventLog* log = nullptr);
    // A sub-dialog, from its template.
    explicit InMemoryView(const DialogTemplate& dialog, EventLog* log = nullptr);

    void connect(Sink sink) { sink_ = std::move(sink); }
    // Sends commands, timer ticks and the close to a dialog's handlers.
    template <typename Dialog>
    void connectTo(Dialog& dialog) {
        connect({[&dialog](int id, int code) { dialog.onCommand(id, code); },
                 [&dialog](int timer) { dialog.onTimer(timer); }, [&dialog] { dialog.onClose(); }});
    }

    // The operator. Clicks and selections on a disabled or hidden control do nothing.
    void click(int id);
    void selectRow(int id, int index);
    bool selectRowText(int id, const std::string& text);
    void setEditText(int id, const std::string& text); // typed: notifies a text change
    // Answers for the coming message boxes, in order; unanswered boxes get OK.
    void answerMessageBoxes(std::initializer_list<int> answers);
    const std::vector<ShownMessageBox>& messageBoxes() const { return messageBoxes_; }
    // Runs while a message box is open, as the operator's time to answer it passes.
    std::function<void(const ShownMessageBox& box)> whileBoxShown;
    // The answer of every coming open-file dialog (cancelled unless a test sets one).
    FileChoice fileChoice;
    // The answer of every coming save-file dialog (cancelled unless a test sets one).
    FileChoice saveChoice;
    const std::vector<FileDialogRequest>& fileDialogs() const { return fileDialogs_; }
    // The operator of the next modal sub-dialog, in order: acts on the dialog's own view
    // once the dialog has filled it. A dialog still open afterwards is closed with Escape,
    // as is one that has no operator.
    using DialogOperator = std::function<void(InMemoryView& dialog)>;
    void operateNextDialog(DialogOperator op) { operators_.push_back(std::move(op)); }
    // The template ids of the sub-dialogs opened so far.
    const std::vector<int>& openedDialogs() const { return openedDialogs_; }

    // The message loop.
    // Delivers posted commands and close messages until none is left (at most limit).
    int runPosted(int limit = 100);
    std::size_t postedCount() const { return posted_.size(); }
    void tick(int timerId);
    bool timerRunning(int timerId) const { return timers_.contains(timerId); }
    unsigned timerPeriod(int timerId) const;

    // What a test inspects.
    const std::vector<MenuItem>& systemMenu() const { return menu_; }
    const MenuItem* menuItem(int command) const;
    std::string toolTip(int id) const;
    bool toolTipsActive() const { return toolTipsActive_; }
    bool ended() const { return ended_; }
    int endResult() const { return endResult_; }
    Cursor cursor() const { return cursor_; }
    bool mouseCaptured() const { return captured_; }
    bool appIconSet() const { return appIconSet_; }
    std::vector<std::pair<int, int>> paintedIcons() const { return paintedIcons_; }
    std::vector<std::string> closedTopWindows() const { return closedTopWindows_; }
    std::vector<std::string> activatedTopWindows() const { return activatedTopWindows_; }
    std::set<std::string>& topWindows() { return topWindows_; }
    bool bitmapLoaded(int bitmapId) const { return loadedBitmaps_.contains(bitmapId); }
    ControlKind kind(int id) const;
    // The field whose whole text was selected last (0 when none).
    int selectedField() const { return selectedField_; }
    std::vector<std::pair<unsigned, unsigned>> beeps() const { return beeps_; }

    // Window state a test sets up.
    bool minimised = false;
    Size client{463, 674};
    Size icon{32, 32};
    bool toolTipsCanBeCreated = true;

    // View
    bool hasControl(int id) const override;
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    bool isEnabled(int id) const override;
    void setEnabled(int id, bool enabled) override;
    bool isVisible(int id) const override;
    void setVisible(int id, bool visible) override;
    std::string text(int id) const override;
    void setText(int id, std::string_view text) override;
    void setListRows(int id, const std::vector<std::string>& rows) override;
    int listCount(int id) const override;
    std::string listRow(int id, int index) const override;
    int listSelection(int id) const override;
    void setListSelection(int id, int index) override;
    ProgressRange progressRange(int id) const override;
    void setProgressRange(int id, ProgressRange range) override;
    int32_t progressPosition(int id) const override;
    void setProgressPosition(int id, int32_t position) override;
    void setProgressStep(int id, int32_t step) override;
    void stepProgress(int id) override;
    bool loadBitmap(int bitmapId) override;
    void setLamp(int id, int bitmapId) override;
    int lamp(int id) const override;
    void* controlHandle(int id) const override;
    void* bitmapHandle(int bitmapId) const override;
    void setPicture(void* control, void* bitmap) override;
    void setRedraw(bool) override {}
    std::string caption() const override { return caption_; }
    void setCaption(std::string_view caption) override { caption_ = caption; }
    void setAppIcon() override;
    bool isMinimised() const override { return minimised; }
    Size clientSize() const override { return client; }
    Size systemIconSize() const override { return icon; }
    void paintIcon(int x, int y) override;
    void* appIconHandle() const override;
    void appendMenuSeparator() override;
    void appendMenuItem(int command, std::string_view text) override;
    void removeMenuItem(int command) override;
    void setMenuItemText(int command, std::string_view text) override;
    void setMenuItemEnabled(int command, bool enabled) override;
    void setCursor(Cursor cursor) override { cursor_ = cursor; }
    void captureMouse() override { captured_ = true; }
    void releaseMouse() override { captured_ = false; }
    int focusedControl() const override { return focus_; }
    void setFocus(int id) override { focus_ = id; }
    void selectAll(int id) override { selectedField_ = id; }
    bool createToolTips() override;
    bool hasToolTips() const override { return toolTipsCreated_; }
    void addToolTip(int id, std::string_view text) override;
    void setToolTipText(int id, std::string_view text) override;
    void activateToolTips() override;
    void destroyToolTips() override;
    bool setTimer(int timerId, unsigned periodMs) override;
    void killTimer(int timerId) override;
    void postCommand(int command) override;
    void postClose() override;
    void endDialog(int result) override;
    bool findTopWindow(std::string_view title) const override;
    void postCloseToTopWindow(std::string_view title) override;
    void showAndActivateTopWindow(std::string_view title) override;
    std::unique_ptr<DialogWindow> createDialog(int templateId) override;
    int messageBox(std::string_view text, std::string_view caption, unsigned style) override;
    FileChoice chooseFileToOpen(std::string_view title, std::string_view filter) override;
    FileChoice chooseFileToSave(std::string_view title, std::string_view filter) override;
    void beep(unsigned frequency, unsigned durationMs) override;
    std::string loadString(int id) const override;

private:
    struct Control {
        ControlKind kind = ControlKind::Label;
        std::string text;
        bool checked = false;
        bool enabled = true;
        bool visible = true;
        std::vector<std::string> rows;
        int selection = -1;
        ProgressRange range;
        int32_t position = 0;
        int32_t step = 10;
        int lamp = 0;
        int group = 0; // radio group number
    };
    struct Posted {
        bool close = false;
        int command = 0;
    };

    void addControls(std::span<const ControlTemplate> controls);
    Control* find(int id);
    const Control* find(int id) const;
    void note(const std::string& event) const;

    EventLog* log_;
    Sink sink_;
    std::map<int, Control> controls_;
    std::string caption_;
    std::vector<MenuItem> menu_;
    std::set<int> loadedBitmaps_;
    std::map<int, unsigned> timers_;
    std::deque<Posted> posted_;
    std::map<int, std::string> toolTips_;
    bool toolTipsCreated_ = false;
    bool toolTipsActive_ = false;
    std::deque<int> answers_;
    std::vector<ShownMessageBox> messageBoxes_;
    std::vector<FileDialogRequest> fileDialogs_;
    bool ended_ = false;
    int endResult_ = 0;
    Cursor cursor_ = Cursor::Arrow;
    bool captured_ = false;
    int focus_ = 0;
    int selectedField_ = 0;
    std::deque<DialogOperator> operators_;
    std::vector<int> openedDialogs_;
    bool appIconSet_ = false;
    std::vector<std::pair<int, int>> paintedIcons_;
    std::set<std::string> topWindows_;
    std::vector<std::string> closedTopWindows_;
    std::vector<std::string> activatedTopWindows_;
    std::vector<std::pair<unsigned, unsigned>> beeps_;
};

} // namespace octo::testing

// The window as the program's logic sees it: the main dialog's controls by id, its system
// menu, caption, cursor, timers, message boxes, tool tips and the modal dialogs it opens
// over itself. One Win32 implementation (program/win32) and one in-memory implementation
// for tests, which behaves like the real controls where behaviour matters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace octo {

// Message box styles and answers, with the values the platform uses.
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kIconStop = 0x10;
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconExclamation = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
} // namespace mb

// Standard system-menu commands.
namespace sc {
inline constexpr int kSize = 0xF000;
inline constexpr int kMaximize = 0xF030;
inline constexpr int kClose = 0xF060;
} // namespace sc

enum class Cursor { Arrow, AppStarting };

struct ProgressRange {
    int32_t low = 0;
    int32_t high = 100;
    friend bool operator==(const ProgressRange&, const ProgressRange&) = default;
};

struct Size {
    int width = 0;
    int height = 0;
};

// The operator's answer to an open-file or save-file dialog: the 1-based index of the
// filter in use and the chosen file's full path; filterIndex 0 when the dialog was
// cancelled.
struct FileChoice {
    int filterIndex = 0;
    std::string path;
};

// What every dialog of the program reaches of its window: texts and check marks of its
// controls, the focus, message boxes, the end of its modal run and the string table. The
// main window's View is one; each modal sub-dialog's window has its own.
class DialogView {
public:
    virtual ~DialogView() = default;

    // Controls by id. A control that does not exist reads as empty and unchecked.
    virtual bool isChecked(int id) const = 0;
    virtual void setChecked(int id, bool checked) = 0;
    virtual std::string text(int id) const = 0;
    virtual void setText(int id, std::string_view text) = 0;
    virtual void setFocus(int id) = 0;
    // Selects the whole text of an edit field and scrolls its caret into view.
    virtual void selectAll(int id) = 0;

    // Modal message box; returns the button pressed (mb::kIdOk, ...).
    virtual int messageBox(std::string_view text, std::string_view caption, unsigned style) = 0;
    // Ends the modal run with the given result.
    virtual void endDialog(int result) = 0;

    // Texts of the string table; empty when the id has none.
    virtual std::string loadString(int id) const = 0;
};

// A modal sub-dialog's behaviour, called by the window that runs it.
class DialogHandler {
public:
    virtual ~DialogHandler() = default;
    // Fills the controls; true lets the window give the focus to the first control.
    virtual bool onInitDialog() = 0;
    // A button or the keyboard: OK for Enter, Cancel for Escape and the close box.
    virtual void onCommand(int id) = 0;
};

// A sub-dialog made from its template, owned by the window that opened it. Its view works
// once runModal has created the window, until runModal returns.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    virtual DialogView& view() = 0;
    // Shows the dialog and runs it until the handler ends it; returns the end result.
    virtual int runModal(DialogHandler& handler) = 0;
};

class View : public DialogView {
public:
    // Controls by id. A control that does not exist reads as disabled and hidden.
    virtual bool hasControl(int id) const = 0;
    virtual bool isEnabled(int id) const = 0;
    virtual void setEnabled(int id, bool enabled) = 0;
    virtual bool isVisible(int id) const = 0;
    virtual void setVisible(int id, bool visible) = 0;

    // Drop-down lists. Setting the rows replaces them all and leaves no row selected; a
    // sorted list places them by case-insensitive order. Selection -1 means none.
    virtual void setListRows(int id, const std::vector<std::string>& rows) = 0;
    virtual int listCount(int id) const = 0;
    virtual std::string listRow(int id, int index) const = 0;
    virtual int listSelection(int id) const = 0;
    virtual void setListSelection(int id, int index) = 0;

    // The progress bar.
    virtual ProgressRange progressRange(int id) const = 0;
    virtual void setProgressRange(int id, ProgressRange range) = 0;
    virtual int32_t progressPosition(int id) const = 0;
    virtual void setProgressPosition(int id, int32_t position) = 0;
    virtual void setProgressStep(int id, int32_t step) = 0;
    virtual void stepProgress(int id) = 0;

    // Lamps: flat bitmap buttons showing one of the loaded bitmaps (by resource id).
    virtual bool loadBitmap(int bitmapId) = 0;
    virtual void setLamp(int id, int bitmapId) = 0;
    virtual int lamp(int id) const = 0;
    // Native handles of a control and of a loaded bitmap, for the library's status lamp.
    virtual void* controlHandle(int id) const = 0;
    virtual void* bitmapHandle(int bitmapId) const = 0;
    // Sets the picture of a control given by native handle to a bitmap given by handle.
    virtual void setPicture(void* control, void* bitmap) = 0;

    // Holds back the painting of the window during a burst of control changes (each change
    // of a control would otherwise repaint it at once); resuming repaints what changed.
    virtual void setRedraw(bool on) = 0;

    // The window.
    virtual std::string caption() const = 0;
    virtual void setCaption(std::string_view caption) = 0;
    virtual void setAppIcon() = 0;
    virtual bool isMinimised() const = 0;
    virtual Size clientSize() const = 0;
    virtual Size systemIconSize() const = 0;
    // Erases the icon's background and draws the application icon at (x, y).
    virtual void paintIcon(int x, int y) = 0;
    virtual void* appIconHandle() const = 0;

    // The system menu, items addressed by command.
    virtual void appendMenuSeparator() = 0;
    virtual void appendMenuItem(int command, std::string_view text) = 0;
    virtual void removeMenuItem(int command) = 0;
    virtual void setMenuItemText(int command, std::string_view text) = 0;
    virtual void setMenuItemEnabled(int command, bool enabled) = 0;

    // Input state.
    virtual void setCursor(Cursor cursor) = 0;
    virtual void captureMouse() = 0;
    virtual void releaseMouse() = 0;
    // The control with the keyboard focus (0 when none of the dialog's has it).
    virtual int focusedControl() const = 0;

    // Tool tips: one control for the dialog, one tool per control id.
    virtual bool createToolTips() = 0;
    virtual bool hasToolTips() const = 0;
    virtual void addToolTip(int id, std::string_view text) = 0;
    virtual void setToolTipText(int id, std::string_view text) = 0;
    virtual void activateToolTips() = 0;
    virtual void destroyToolTips() = 0;

    // Messages to the dialog itself and to other top-level windows.
    virtual bool setTimer(int timerId, unsigned periodMs) = 0;
    virtual void killTimer(int timerId) = 0;
    virtual void postCommand(int command) = 0;
    virtual void postClose() = 0;
    virtual bool findTopWindow(std::string_view title) const = 0;
    virtual void postCloseToTopWindow(std::string_view title) = 0;
    virtual void showAndActivateTopWindow(std::string_view title) = 0;
    // A modal sub-dialog over this window, made from the template with that id.
    virtual std::unique_ptr<DialogWindow> createDialog(int templateId) = 0;

    // Modal open-file dialog that accepts only existing files, with no initial name and no
    // default extension. The filter is pairs of description and pattern, each ended by
    // '|', the list ended by one more '|'.
    virtual FileChoice chooseFileToOpen(std::string_view title, std::string_view filter) = 0;
    // Modal save-file dialog with no initial name, no default extension and the read-only
    // box hidden; the filter as for chooseFileToOpen.
    virtual FileChoice chooseFileToSave(std::string_view title, std::string_view filter) = 0;
    virtual void beep(unsigned frequency, unsigned durationMs) = 0;
};

} // namespace octo

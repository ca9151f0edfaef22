// The View of a dialog on Win32, the main one or a sub-dialog: one-line calls through to
// the controls' messages.
#pragma once

#include "app/View.h"

#include <windows.h>

#include <functional>
#include <map>

namespace octo {

class Win32View final : public View {
public:
    explicit Win32View(HINSTANCE instance);
    ~Win32View() override;
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    // Binds the view to the dialog window once it exists.
    void attach(HWND dialog) { dialog_ = dialog; }
    HWND window() const { return dialog_; }
    // Called by endDialog: the modal loop ends with this result.
    void onEndDialog(std::function<void(int)> end) { end_ = std::move(end); }
    // Lets the tool tips see the mouse messages meant for the dialog's controls.
    void relayToolTipMessage(MSG& message);

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

    void setRedraw(bool on) override;
    std::string caption() const override;
    void setCaption(std::string_view caption) override;
    void setAppIcon() override;
    bool isMinimised() const override;
    Size clientSize() const override;
    Size systemIconSize() const override;
    void paintIcon(int x, int y) override;
    void* appIconHandle() const override { return icon_; }

    void appendMenuSeparator() override;
    void appendMenuItem(int command, std::string_view text) override;
    void removeMenuItem(int command) override;
    void setMenuItemText(int command, std::string_view text) override;
    void setMenuItemEnabled(int command, bool enabled) override;

    void setCursor(Cursor cursor) override;
    void captureMouse() override;
    void releaseMouse() override;
    int focusedControl() const override;
    void setFocus(int id) override;
    void selectAll(int id) override;

    bool createToolTips() override;
    bool hasToolTips() const override { return toolTips_ != nullptr; }
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
    HWND item(int id) const { return dialog_ ? GetDlgItem(dialog_, id) : nullptr; }
    bool hasTool(HWND control) const;

    HINSTANCE instance_;
    HWND dialog_ = nullptr;
    HICON icon_ = nullptr;
    HWND toolTips_ = nullptr;
    // A paint was still due when the painting was held back (a window not yet painted).
    bool paintDue_ = false;
    std::map<int, HBITMAP> bitmaps_;
    std::function<void(int)> end_;
};

} // namespace octo

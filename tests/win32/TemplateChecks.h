// What a real dialog made by the resource compiler must show of its portable description:
// each control in creation order with its id, class, style and caption.
#pragma once

#include "app/DialogTemplate.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <windows.h>

#include <map>
#include <span>
#include <string>
#include <vector>

namespace octo::testing {

inline std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

inline std::string windowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// Window class and the style bits that make each kind of control.
inline void expectKind(HWND control, ControlKind kind, int id) {
    // The button type that makes each kind of button.
    static const std::map<ControlKind, LONG> buttonTypes = {
        {ControlKind::GroupBox, BS_GROUPBOX},
        {ControlKind::PushButton, BS_PUSHBUTTON},
        {ControlKind::DefaultPushButton, BS_DEFPUSHBUTTON},
        {ControlKind::CheckBox, BS_AUTOCHECKBOX},
        {ControlKind::RadioButton, BS_AUTORADIOBUTTON},
    };
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const std::string cls = className(control);
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
        EXPECT_EQ(cls, "Button") << id;
        EXPECT_EQ(style & BS_TYPEMASK, buttonTypes.at(kind)) << id;
        break;
    case ControlKind::DropDownList:
    case ControlKind::SortedDropDownList:
        EXPECT_EQ(cls, "ComboBox") << id;
        EXPECT_EQ(style & 3, CBS_DROPDOWNLIST) << id;
        EXPECT_EQ((style & CBS_SORT) != 0, kind == ControlKind::SortedDropDownList) << id;
        break;
    case ControlKind::ReadOnlyEdit:
    case ControlKind::Edit:
        EXPECT_EQ(cls, "Edit") << id;
        EXPECT_EQ((style & ES_READONLY) != 0, kind == ControlKind::ReadOnlyEdit) << id;
        break;
    case ControlKind::Label:
    case ControlKind::SunkenLabel:
    case ControlKind::Frame:
        EXPECT_EQ(cls, "Static") << id;
        EXPECT_EQ((style & SS_SUNKEN) != 0, kind != ControlKind::Label) << id;
        break;
    case ControlKind::ProgressBar:
        EXPECT_EQ(cls, PROGRESS_CLASSA) << id;
        break;
    case ControlKind::Lamp:
        EXPECT_EQ(cls, "Button") << id;
        EXPECT_TRUE(style & BS_BITMAP) << id;
        EXPECT_TRUE(style & BS_FLAT) << id;
        break;
    case ControlKind::Picture:
        EXPECT_EQ(cls, "Static") << id;
        EXPECT_EQ(style & SS_TYPEMASK, SS_BITMAP) << id;
        EXPECT_NE(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "logo";
        break;
    case ControlKind::Icon:
        EXPECT_EQ(cls, "Static") << id;
        EXPECT_EQ(style & SS_TYPEMASK, SS_ICON) << id;
        EXPECT_NE(SendMessageA(control, STM_GETICON, 0, 0), 0) << "icon";
        break;
    }
}

// The dialog's children come in creation order, which is the template's.
inline void expectControlsOfTemplate(HWND dialog, std::span<const ControlTemplate> controls) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        children.push_back(c);
    }
    ASSERT_EQ(children.size(), controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& t = controls[i];
        HWND c = children[i];
        SCOPED_TRACE(std::to_string(t.id) + " '" + std::string(t.text) + "'");
        EXPECT_EQ(GetDlgCtrlID(c), t.id);
        expectKind(c, t.kind, t.id);
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        EXPECT_EQ((style & WS_VISIBLE) != 0, t.visible);
        // A radio button takes the tab stop when it is checked.
        const bool checkedRadio =
            t.kind == ControlKind::RadioButton && SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
        EXPECT_EQ((style & WS_TABSTOP) != 0, hasTabStop(t.kind) || checkedRadio);
        EXPECT_TRUE(IsWindowEnabled(c));
        const bool hasText = t.kind != ControlKind::Picture && t.kind != ControlKind::Icon &&
                             t.kind != ControlKind::DropDownList &&
                             t.kind != ControlKind::SortedDropDownList;
        if (hasText) {
            EXPECT_EQ(windowText(c), t.text);
        }
    }
}

} // namespace octo::testing

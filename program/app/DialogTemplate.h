// The portable description of dialog 102: every control in creation order with its kind,
// caption, place and visibility, and the rows the template puts into its lists. Built from
// the same rows as the resource script, so the in-memory view and the tests see the
// window the resource compiler makes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo {

enum class ControlKind {
    GroupBox,
    PushButton,
    CheckBox,
    RadioButton,
    DropDownList,
    SortedDropDownList,
    ReadOnlyEdit,
    Label,
    SunkenLabel,
    Frame,
    ProgressBar,
    Lamp,
    Picture,
};

struct ControlTemplate {
    ControlKind kind;
    int id; // -1 for controls without id
    std::string_view text;
    int x, y, width, height; // dialog units
    bool visible;
    bool firstOfGroup; // first radio button of a group
};

struct InitialList {
    int id;
    std::vector<std::string> rows;
};

inline constexpr int kNoControlId = -1;
inline constexpr int kDialogWidth = 309;
inline constexpr int kDialogHeight = 415;

std::span<const ControlTemplate> mainDialogControls();
const std::vector<InitialList>& mainDialogInitialLists();
const ControlTemplate* findControl(int id);
bool hasTabStop(ControlKind kind);

} // namespace octo

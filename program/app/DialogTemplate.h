// The portable description of the program's dialogs: for the main dialog 102 and the
// sub-dialogs 100, 133 and 134 every control in creation order with its kind, caption,
// place and visibility, and the rows the main dialog's template puts into its lists. Built
// from the same rows as the resource script, so the in-memory view and the tests see the
// windows the resource compiler makes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo {

enum class ControlKind {
    GroupBox,
    PushButton,
    DefaultPushButton,
    CheckBox,
    RadioButton,
    DropDownList,
    SortedDropDownList,
    ReadOnlyEdit,
    Edit,
    Label,
    SunkenLabel,
    Frame,
    ProgressBar,
    Lamp,
    Picture,
    Icon,
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

// A sub-dialog: its caption, size and font, and its controls.
struct DialogTemplate {
    int id;
    std::string_view caption;
    int width, height; // dialog units
    int fontPoints;
    std::string_view font;
    std::span<const ControlTemplate> controls;
};

std::span<const ControlTemplate> mainDialogControls();
// The sub-dialog with this template id; null for any other id.
const DialogTemplate* subDialogTemplate(int id);
const std::vector<InitialList>& mainDialogInitialLists();
const ControlTemplate* findControl(int id);
bool hasTabStop(ControlKind kind);

} // namespace octo

#include "app/DialogTemplate.h"

#include "link/Connection.h"
#include "resources/resource.h"
#include "settings/Settings.h"

#include <array>
#include <string>

namespace octo {

namespace {

// The logo and icon rows name their picture instead of a text.
constexpr std::string_view controlText(std::string_view text) {
    return text;
}
constexpr std::string_view controlText(int) {
    return {};
}

constexpr ControlTemplate row(ControlKind kind, bool firstOfGroup, int id, std::string_view text,
                              int x, int y, int width, int height, bool visible) {
    return ControlTemplate{kind, id, text, x, y, width, height, visible, firstOfGroup};
}

#define OCTO_KIND_GROUP ControlKind::GroupBox, false
#define OCTO_KIND_PUSH ControlKind::PushButton, false
#define OCTO_KIND_DEFPUSH ControlKind::DefaultPushButton, false
#define OCTO_KIND_CHECK ControlKind::CheckBox, false
#define OCTO_KIND_CHECK_FIRST ControlKind::CheckBox, false
#define OCTO_KIND_RADIO_FIRST ControlKind::RadioButton, true
#define OCTO_KIND_RADIO ControlKind::RadioButton, false
#define OCTO_KIND_COMBO ControlKind::DropDownList, false
#define OCTO_KIND_COMBO_SORTED ControlKind::SortedDropDownList, false
#define OCTO_KIND_EDIT_RO ControlKind::ReadOnlyEdit, false
#define OCTO_KIND_EDIT ControlKind::Edit, false
#define OCTO_KIND_LABEL ControlKind::Label, false
#define OCTO_KIND_LABEL_CENTER ControlKind::Label, false
#define OCTO_KIND_SUNKEN ControlKind::SunkenLabel, false
#define OCTO_KIND_FRAME ControlKind::Frame, false
#define OCTO_KIND_PROGRESS ControlKind::ProgressBar, false
#define OCTO_KIND_LAMP ControlKind::Lamp, false
#define OCTO_KIND_LOGO ControlKind::Picture, false
#define OCTO_KIND_ICON ControlKind::Icon, false
#define OCTO_VISIBILITY_VISIBLE true
#define OCTO_VISIBILITY_HIDDEN false

// The rows of a .def file as controls; its dialog header line expands to nothing.
#define OCTO_DIALOG(id, caption, width, height, points, font)
#define OCTO_CONTROL(kind, id, text, x, y, w, h, vis)                                              \
    row(OCTO_KIND_##kind, id, controlText(text), x, y, w, h, OCTO_VISIBILITY_##vis),

constexpr ControlTemplate kControls[] = {
#include "resources/dialog102.def"
};
constexpr ControlTemplate kAboutControls[] = {
#include "resources/dialog100.def"
};
constexpr ControlTemplate kReadOutControls[] = {
#include "resources/dialog133.def"
};
constexpr ControlTemplate kSignalsControls[] = {
#include "resources/dialog134.def"
};

#undef OCTO_DIALOG
#undef OCTO_CONTROL

// Now the header line alone: the dialog's caption, size and font, then its controls.
constexpr DialogTemplate subDialog(int id, std::string_view caption, int width, int height,
                                   int points, std::string_view font) {
    return DialogTemplate{id, caption, width, height, points, font, {}};
}

constexpr DialogTemplate withControls(DialogTemplate dialog,
                                      std::span<const ControlTemplate> controls) {
    dialog.controls = controls;
    return dialog;
}

#define OCTO_DIALOG(id, caption, width, height, points, font)                                      \
    subDialog(id, caption, width, height, points, font)
#define OCTO_CONTROL(kind, id, text, x, y, w, h, vis)

const DialogTemplate kSubDialogs[] = {
    withControls(
#include "resources/dialog100.def"
        , kAboutControls),
    withControls(
#include "resources/dialog133.def"
        , kReadOutControls),
    withControls(
#include "resources/dialog134.def"
        , kSignalsControls),
};

#undef OCTO_DIALOG
#undef OCTO_CONTROL

} // namespace

std::span<const ControlTemplate> mainDialogControls() {
    return kControls;
}

const std::vector<InitialList>& mainDialogInitialLists() {
    static const std::vector<InitialList> lists = [] {
        InitialList supply{IDC_SUPPLY_VOLTAGE, {}};
        for (int tenths = kLowestSupplyTenths; tenths <= kHighestSupplyTenths; ++tenths) {
            supply.rows.push_back(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) +
                                  " V ");
        }
        InitialList ports{IDC_COM_PORT, {}};
        for (int port = 1; port <= kComPortRows; ++port) {
            ports.rows.push_back("COM" + std::to_string(port));
        }
        InitialList rates{IDC_BAUD_RATE, {}};
        for (uint32_t rate : kBaudRates) {
            rates.rows.push_back(std::to_string(rate));
        }
        return std::vector<InitialList>{
            supply,
            {IDC_SETTLE_TIME, {"0.0 s ", "0.1 s ", "0.2 s", "1.5 s", "2.0 s", "2.5 s"}},
            {IDC_DEVICE_TYPE, {"ZEL816 Axxx", "INI file contains no", "Device Type info"}},
            {IDC_CATEGORY,
             {"H/W Selftest", "Upgrade Firmware", "Read out Target", "Erase Image",
              "Target Connector"}},
            ports,
            rates,
            {IDC_IMAGE_NUMBER, {"1", "2", "3", "4", "5", "6", "7", "8"}},
        };
    }();
    return lists;
}

const DialogTemplate* subDialogTemplate(int id) {
    for (const DialogTemplate& dialog : kSubDialogs) {
        if (dialog.id == id) {
            return &dialog;
        }
    }
    return nullptr;
}

const ControlTemplate* findControl(int id) {
    for (const ControlTemplate& c : kControls) {
        if (c.id == id && id != kNoControlId) {
            return &c;
        }
    }
    return nullptr;
}

bool hasTabStop(ControlKind kind) {
    switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::CheckBox:
    case ControlKind::DropDownList:
    case ControlKind::SortedDropDownList:
    case ControlKind::ReadOnlyEdit:
    case ControlKind::Edit:
        return true;
    default:
        return false;
    }
}

} // namespace octo

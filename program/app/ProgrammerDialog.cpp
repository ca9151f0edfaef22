#include "app/ProgrammerDialog.h"

#include "resources/StringIds.h"
#include "resources/resource.h"

#include <array>

namespace octo {

namespace {

// Loaded at initialisation in this order; released with the window.
constexpr std::array kLampBitmaps = {IDB_LAMP_GREEN_TICK, IDB_LAMP_RED,   IDB_LAMP_GREY,
                                     IDB_LAMP_INFO,       IDB_LAMP_WHITE, IDB_LAMP_WHITE_TICK};

constexpr unsigned kSysCommandMask = 0xFFF0;

constexpr char kTipStart[] =
    "Load Target Power parameters and start the selected actions on Programmer Unit";
constexpr char kTipLoadImages[] =
    "Load Object Code File contents and Device Type parameters to Programmer Unit";
constexpr char kTipExecute[] = "Execute process selected in 'Category'";

} // namespace

ProgrammerDialog::ProgrammerDialog(View& view, Platform& platform, ProgramState& state)
    : view_(view), platform_(platform), state_(state) {
    state_.programDirectory.clear();
    state_.messageCaption = kProgramCaption;
    state_.helpWindowTitle = kHelpWindowTitle;
}

bool ProgrammerDialog::onInitDialog() {
    for (int bitmap : kLampBitmaps) {
        view_.loadBitmap(bitmap);
    }
    initSystemMenu();
    view_.setAppIcon();
    view_.postCommand(IDC_STARTUP_COMMAND);
    createToolTips();
    view_.setTimer(ID_TIMER_CONNECTION_POLL, kConnectionPollMs);
    deviceType_.hasBsl = false;
    return true;
}

void ProgrammerDialog::initSystemMenu() {
    const std::string lock = view_.loadString(IDS_LOCK_SETTINGS);
    if (!lock.empty()) {
        view_.appendMenuSeparator();
        view_.appendMenuItem(IDM_LOCK_SETTINGS, lock);
    }
    const std::string about = view_.loadString(IDS_ABOUTBOX);
    if (!about.empty()) {
        view_.appendMenuSeparator();
        view_.appendMenuItem(IDM_ABOUTBOX, about);
    }
    // Without these two the window can be neither resized nor maximised.
    view_.removeMenuItem(sc::kSize);
    view_.removeMenuItem(sc::kMaximize);
}

void ProgrammerDialog::createToolTips() {
    if (!view_.createToolTips()) {
        return;
    }
    view_.addToolTip(IDC_START, kTipStart);
    view_.addToolTip(IDC_LOAD_IMAGES, kTipLoadImages);
    view_.addToolTip(IDC_EXECUTE, kTipExecute);
    view_.activateToolTips();
}

void ProgrammerDialog::onCommand(int id, int notifyCode) {
    switch (id) {
    case IDC_STARTUP_COMMAND:
        onStartupCommand();
        return;
    case IDC_RUN_MAIN_PROCESS:
        main_.runMainProcess();
        return;
    case IDC_RUN_SELFTEST:
    case IDC_SELFTEST:
        maintenance_.runSelftest();
        return;
    case ID_HELP_COMMAND:
        // F1 asks for help, which is the About box.
        openAboutBox();
        return;
    case kIdOk:
    case kIdCancel:
        // Enter and Escape never end the dialog.
        return;
    default:
        break;
    }
    if (notifyCode == notify::kClicked) {
        routeButton(id);
    } else if (notifyCode == notify::kSelectionChange) {
        routeListChange(id);
    } else if (notifyCode == notify::kTextChange && id == IDC_IMAGE_FILE) {
        // Only the first file name: typing the second one does not ask for a reload.
        loader_.onImageFileChanged();
    }
}

void ProgrammerDialog::routeButton(int id) {
    switch (id) {
    case IDC_START:
        main_.onStart();
        return;
    case IDC_ERASE:
    case IDC_ERASE_CHECK:
    case IDC_PROGRAM:
    case IDC_VERIFY:
    case IDC_SECURE:
        power_.onMainProcessOption(id);
        return;
    case IDC_SUPPLY_BY_PROG:
    case IDC_SWITCH_VCC_OFF:
        power_.onSupplyChanged();
        return;
    case IDC_ERASE_MAIN:
    case IDC_ERASE_INFO:
    case IDC_ERASE_PINFO:
    case IDC_ERASE_BSL:
    case IDC_RESTORE_DCO:
        power_.onEraseOption(id);
        return;
    case IDC_USE_DUOLINK:
    case IDC_USE_JTAG4:
        catalogue_.onUseDuoLink();
        return;
    case IDC_LOAD_IMAGES:
        loader_.onLoadImages();
        return;
    case IDC_BROWSE_IMAGE:
        loader_.onBrowse(ObjectFileKind::Load);
        return;
    case IDC_BROWSE_IMAGE2:
        loader_.onBrowse(ObjectFileKind::Append);
        return;
    case IDC_IMAGE0:
    case IDC_IMAGE1:
        loader_.onImageButton(id);
        return;
    case IDC_EXECUTE:
        maintenance_.onExecute();
        return;
    case IDC_TEST1:
        maintenance_.onTest1();
        return;
    default:
        return;
    }
}

void ProgrammerDialog::routeListChange(int id) {
    switch (id) {
    case IDC_SUPPLY_VOLTAGE:
        power_.onSupplyChanged();
        return;
    case IDC_SETTLE_TIME:
        power_.onSettleTimeChanged();
        return;
    case IDC_DEVICE_GROUP:
        catalogue_.onDeviceGroupChanged();
        return;
    case IDC_DEVICE_TYPE:
        catalogue_.onDeviceTypeChanged();
        return;
    case IDC_COM_PORT:
        connection_.onComPortChanged();
        return;
    case IDC_BAUD_RATE:
        connection_.onBaudRateChanged();
        return;
    case IDC_IMAGE_NUMBER:
        loader_.onImageNumberChanged();
        return;
    case IDC_CATEGORY:
        maintenance_.onCategoryChanged();
        return;
    default:
        return;
    }
}

void ProgrammerDialog::onTimer(int timerId) {
    if (timerId == ID_TIMER_CONNECTION_POLL) {
        pollConnection();
    } else if (timerId == ID_TIMER_PROGRESS) {
        progress_.onProgressTimer();
    }
}

void ProgrammerDialog::pollConnection() {
    if (!flags_.versionsKnown && readUnitInfo()) {
        catalogue_.applyInterfaceRules();
        status_.showStatus(kShowString, IDS_CONNECTED);
    }
}

bool ProgrammerDialog::onSysCommand(unsigned command) {
    switch (command & kSysCommandMask) {
    case IDM_ABOUTBOX:
        openAboutBox();
        return true;
    case IDM_LOCK_SETTINGS:
        lock_.onToggleSettingsLock();
        return true;
    case IDM_HELP_WINDOW:
        onHelpWindow();
        return true;
    default:
        return false;
    }
}

bool ProgrammerDialog::onPaint() {
    if (!view_.isMinimised()) {
        return false;
    }
    const Size client = view_.clientSize();
    const Size icon = view_.systemIconSize();
    view_.paintIcon((client.width - icon.width + 1) / 2, (client.height - icon.height + 1) / 2);
    return true;
}

void ProgrammerDialog::onClose() {
    library_->releaseCom();
    if (settingsLoaded_ && platform_.fileExists(configPath())) {
        saveSettings();
    }
    if (view_.findTopWindow(state_.helpWindowTitle)) {
        view_.postCloseToTopWindow(state_.helpWindowTitle);
    }
    if (view_.hasToolTips()) {
        view_.destroyToolTips();
    }
    view_.endDialog(kIdOk);
}

void ProgrammerDialog::openAboutBox() {
    // The box asks the unit for its versions: never in the middle of another library call,
    // which dispatches the window's messages (F1 too) while it waits. The menu item is
    // greyed then for the same reason.
    if (!bracket_.operationActive()) {
        subDialogs_.runAboutBox();
    }
}

void ProgrammerDialog::onHelpWindow() {
    if (view_.findTopWindow(state_.helpWindowTitle)) {
        view_.showAndActivateTopWindow(state_.helpWindowTitle);
    }
}

void ProgrammerDialog::loadSettings() {
    octo::loadSettings(profile_, settings_);
    power_.enableEraseBoxes();
    showMembers();
}

void ProgrammerDialog::saveSettings() {
    octo::saveSettings(profile_, settings_, view_);
}

} // namespace octo

#include "app/ProgrammerDialog.h"

#include "resources/resource.h"

#include <array>

namespace octo {

namespace {

// Loaded at initialisation in this order; released with the window.
constexpr std::array kLampBitmaps = {IDB_LAMP_GREEN_TICK, IDB_LAMP_RED,   IDB_LAMP_GREY,
                                     IDB_LAMP_INFO,       IDB_LAMP_WHITE, IDB_LAMP_WHITE_TICK};

constexpr unsigned kSysCommandMask = 0xFFF0;
constexpr int32_t kShowString = 99;  // status code: show the named string
constexpr int32_t kFailedDetails = 8; // library: failed, the caller names its own text
constexpr int32_t kFirstProgramCode = 300;

// Firmware and hardware up to these versions cannot program a DuoLink-capable device
// over 4-wire JTAG.
constexpr uint16_t kLastHardwareWithoutJtag4Dlk = 0x0120;
constexpr uint16_t kLastFirmwareWithoutJtag4Dlk = 0x0129;

constexpr char kTipStart[] =
    "Load Target Power parameters and start the selected actions on Programmer Unit";
constexpr char kTipLoadImages[] =
    "Load Object Code File contents and Device Type parameters to Programmer Unit";
constexpr char kTipExecute[] = "Execute process selected in 'Category'";
constexpr char kTipDlkOldHardware[] = "To program DuoLink-capable device in 4Wire mode you have "
                                      "to upgrade the OCTO816-Hardware to ver.1.30 or newer";
constexpr char kTipDlkOldFirmware[] =
    "To program DuoLink-capable device in 4Wire mode you have to update the OCTO816-Firmware";
constexpr char kTipDlk[] = "Check this box in order to program DuoLink-capable device in 2Wire mode";

struct CheckBinding {
    int id;
    int ProgrammerDialog::*member;
};

struct ListBinding {
    int id;
    int ProgrammerDialog::*member;
};

constexpr CheckBinding kCheckBindings[] = {
    {IDC_SECURE, &ProgrammerDialog::blowFuse_},
    {IDC_ERASE, &ProgrammerDialog::erase_},
    {IDC_PROGRAM, &ProgrammerDialog::program_},
    {IDC_VERIFY, &ProgrammerDialog::verify_},
    {IDC_ERASE_CHECK, &ProgrammerDialog::eraseCheck_},
    {IDC_SUPPLY_BY_PROG, &ProgrammerDialog::supplyByProg_},
    {IDC_ERASE_PINFO, &ProgrammerDialog::erasePinfo_},
    {IDC_ERASE_BSL, &ProgrammerDialog::eraseBslSegm_},
    {IDC_SWITCH_VCC_OFF, &ProgrammerDialog::switchVccOff_},
    {IDC_ERASE_MAIN, &ProgrammerDialog::eraseMain_},
    {IDC_ERASE_INFO, &ProgrammerDialog::eraseInfo_},
    {IDC_USE_DUOLINK, &ProgrammerDialog::useDlk_},
    {IDC_RESTORE_DCO, &ProgrammerDialog::restoreDco_},
};

constexpr ListBinding kListBindings[] = {
    {IDC_COM_PORT, &ProgrammerDialog::comPort_},
    {IDC_BAUD_RATE, &ProgrammerDialog::baudRate_},
    {IDC_DEVICE_TYPE, &ProgrammerDialog::devType_},
    {IDC_CATEGORY, &ProgrammerDialog::category_},
    {IDC_SETTLE_TIME, &ProgrammerDialog::settleTime_},
};

} // namespace

ProgrammerDialog::ProgrammerDialog(View& view, Platform& platform, ProgramState& state)
    : view_(view), platform_(platform), state_(state), library_(std::make_unique<NoLibrary>()) {
    state_.supplyVoltageIndex = kConstructionSupplyIndex;
    state_.programDirectory.clear();
    state_.messageCaption = kProgramCaption;
    state_.helpWindowTitle = kHelpWindowTitle;
    deviceType_.dcoBytes = 0;
    deviceType_.protectedInfoBytes = 0;
}

void ProgrammerDialog::useLibrary(std::unique_ptr<ProgrammerLibrary> library) {
    library_ = library ? std::move(library) : std::make_unique<NoLibrary>();
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
    deviceType_.hasBsl = 0;
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
        onRunMainProcess();
        return;
    case IDC_RUN_SELFTEST:
    case IDC_SELFTEST:
        // Not controls of the window: the commands may come from anywhere.
        onSelftest();
        return;
    case ID_HELP_COMMAND:
        onHelpCommand();
        return;
    case kIdOk:
    case kIdCancel:
        // Enter and Escape never end the dialog.
        return;
    default:
        break;
    }
    if (notifyCode == notify::kClicked && routeButton(id)) {
        return;
    }
    if (notifyCode == notify::kSelectionChange && routeListChange(id)) {
        return;
    }
    if (notifyCode == notify::kTextChange && id == IDC_IMAGE_FILE) {
        onImageFileChanged();
    }
}

bool ProgrammerDialog::routeButton(int id) {
    switch (id) {
    case IDC_START:
        onStart();
        return true;
    case IDC_ERASE:
    case IDC_ERASE_CHECK:
    case IDC_PROGRAM:
    case IDC_VERIFY:
    case IDC_SECURE:
        onMainProcessOption(id);
        return true;
    case IDC_SUPPLY_BY_PROG:
    case IDC_SWITCH_VCC_OFF:
        onTargetPowerOption(id);
        return true;
    case IDC_ERASE_MAIN:
    case IDC_ERASE_INFO:
    case IDC_ERASE_PINFO:
    case IDC_ERASE_BSL:
    case IDC_RESTORE_DCO:
        onEraseOption(id);
        return true;
    case IDC_USE_DUOLINK:
        onUseDuoLink();
        return true;
    case IDC_LOAD_IMAGES:
        onLoadImages();
        return true;
    case IDC_BROWSE_IMAGE:
    case IDC_BROWSE_IMAGE2:
        onBrowseObjectFile(id);
        return true;
    case IDC_IMAGE0:
        onSelectImage(0);
        return true;
    case IDC_IMAGE1:
        onSelectImage(1);
        return true;
    case IDC_EXECUTE:
        onExecute();
        return true;
    case IDC_TEST1:
        onTest1();
        return true;
    default:
        return false;
    }
}

bool ProgrammerDialog::routeListChange(int id) {
    switch (id) {
    case IDC_SUPPLY_VOLTAGE:
        onSupplyVoltageChanged();
        return true;
    case IDC_SETTLE_TIME:
        onSettleTimeChanged();
        return true;
    case IDC_DEVICE_GROUP:
        onDeviceGroupChanged();
        return true;
    case IDC_DEVICE_TYPE:
        onDeviceTypeChanged();
        return true;
    case IDC_IMAGE_NUMBER:
        onImageNumberChanged();
        return true;
    case IDC_CATEGORY:
        onCategoryChanged();
        return true;
    case IDC_COM_PORT:
        onComPortChanged();
        return true;
    case IDC_BAUD_RATE:
        onBaudRateChanged();
        return true;
    default:
        return false;
    }
}

void ProgrammerDialog::onTimer(int timerId) {
    if (timerId == ID_TIMER_CONNECTION_POLL) {
        pollConnection();
    } else if (timerId == ID_TIMER_PROGRESS) {
        onProgressTimer();
    }
}

void ProgrammerDialog::pollConnection() {
    if (!versionsKnown_ && readUnitInfo()) {
        applyInterfaceRules();
        showStatus(kShowString, IDS_CONNECTED);
    }
}

bool ProgrammerDialog::onSysCommand(unsigned command) {
    switch (command & kSysCommandMask) {
    case IDM_ABOUTBOX:
        onAbout();
        return true;
    case IDM_LOCK_SETTINGS:
        onToggleSettingsLock();
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
    if (settingsLoaded_ && platform_.fileExists(configPath_)) {
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

void ProgrammerDialog::takeControls() {
    for (const CheckBinding& b : kCheckBindings) {
        this->*b.member = view_.isChecked(b.id) ? 1 : 0;
    }
    for (const ListBinding& b : kListBindings) {
        this->*b.member = view_.listSelection(b.id);
    }
    state_.supplyVoltageIndex = view_.listSelection(IDC_SUPPLY_VOLTAGE);
    imageFile_ = view_.text(IDC_IMAGE_FILE);
    image2File_ = view_.text(IDC_IMAGE2_FILE);
}

void ProgrammerDialog::showMembers() {
    for (const CheckBinding& b : kCheckBindings) {
        view_.setChecked(b.id, this->*b.member != 0);
    }
    for (const ListBinding& b : kListBindings) {
        view_.setListSelection(b.id, this->*b.member);
    }
    view_.setListSelection(IDC_SUPPLY_VOLTAGE, state_.supplyVoltageIndex);
    view_.setText(IDC_IMAGE_FILE, imageFile_);
    view_.setText(IDC_IMAGE2_FILE, image2File_);
}

bool ProgrammerDialog::readUnitInfo() {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    if (library_->getResult(block.data()) != 0) {
        return false;
    }
    decodeUnitInfo(block.data(), unitInfo_);
    return true;
}

void ProgrammerDialog::showStatus(int32_t code, int32_t textId) {
    std::string text;
    if (code == kFailedDetails || code == kShowString) {
        text = view_.loadString(textId);
    } else if (code < kFirstProgramCode) {
        text = library_->getErrorString(code);
    } else {
        text = view_.loadString(code);
    }
    view_.setText(IDC_STATUS_LINE, text);
}

void ProgrammerDialog::applyInterfaceRules() {
    if (deviceType_.jtag4Allowed == 1) {
        view_.setEnabled(IDC_USE_JTAG4, true);
    } else {
        view_.setEnabled(IDC_USE_JTAG4, false);
        useDlk_ = 1;
    }
    if (!versionsKnown_) {
        if (!readUnitInfo()) {
            view_.setEnabled(IDC_USE_DUOLINK, false);
            view_.setEnabled(IDC_USE_JTAG4, false);
            view_.setChecked(IDC_USE_DUOLINK, deviceType_.dlkAble != 0);
            view_.setChecked(IDC_USE_JTAG4, deviceType_.dlkAble == 0);
            return;
        }
        versionsKnown_ = 1;
    }
    if (showSettings_ == 0) {
        return;
    }
    if (deviceType_.dlkAble != 0) {
        const bool oldHardware = unitInfo_.hardwareVersion <= kLastHardwareWithoutJtag4Dlk;
        const bool oldFirmware = unitInfo_.firmwareVersion <= kLastFirmwareWithoutJtag4Dlk;
        if (oldHardware || oldFirmware) {
            view_.setChecked(IDC_USE_DUOLINK, true);
            view_.setChecked(IDC_USE_JTAG4, false);
            view_.setEnabled(IDC_USE_DUOLINK, false);
            view_.setToolTipText(IDC_USE_DUOLINK,
                                 oldHardware ? kTipDlkOldHardware : kTipDlkOldFirmware);
        } else {
            view_.setChecked(IDC_USE_DUOLINK, useDlk_ == 1);
            view_.setChecked(IDC_USE_JTAG4, useDlk_ == 0);
            view_.setEnabled(IDC_USE_DUOLINK, true);
            view_.setToolTipText(IDC_USE_DUOLINK, kTipDlk);
        }
    } else {
        view_.setChecked(IDC_USE_DUOLINK, false);
        view_.setChecked(IDC_USE_JTAG4, true);
        view_.setEnabled(IDC_USE_DUOLINK, false);
        view_.setToolTipText(IDC_USE_DUOLINK, "");
    }
}

} // namespace octo

// The main window: every setting and operation flag of the program, the routing of each
// window message and control notification to its handler, initialisation, the connection
// poll and the shutdown. All of it portable: the window is reached through View, the
// operating system through Platform and the unit through ProgrammerLibrary.
#pragma once

#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/UnitInfo.h"
#include "app/View.h"
#include "devices/DeviceCatalogue.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"
#include "settings/ProfileStore.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace octo {

// Control notification codes, with the values the platform uses.
namespace notify {
inline constexpr int kClicked = 0;         // BN_CLICKED
inline constexpr int kSelectionChange = 1; // CBN_SELCHANGE
inline constexpr int kTextChange = 0x300;  // EN_CHANGE
} // namespace notify

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr unsigned kConnectionPollMs = 2000;
inline constexpr char kProgramCaption[] = "ZEL816 FLASH Octo Programmer";
inline constexpr char kHelpWindowTitle[] = "Help for Octo Programmer";

// The number a text begins with, by the C library's rule (0 when it begins with none).
double leadingNumber(std::string_view text);
// A firmware word as its three hexadecimal-coded digits: 0x0156 gives "1.56".
std::string formatFirmwareVersion(uint16_t word);

class ProgrammerDialog {
public:
    ProgrammerDialog(View& view, Platform& platform, ProgramState& state);
    virtual ~ProgrammerDialog() = default;
    ProgrammerDialog(const ProgrammerDialog&) = delete;
    ProgrammerDialog& operator=(const ProgrammerDialog&) = delete;

    // The library every operation calls; NoLibrary until one is loaded.
    void useLibrary(std::unique_ptr<ProgrammerLibrary> library);
    ProgrammerLibrary& library() { return *library_; }

    // Messages from the window. Each returns whether it handled the message where the
    // window would otherwise do its default handling.
    bool onInitDialog();
    void onCommand(int id, int notifyCode);
    void onTimer(int timerId);
    bool onSysCommand(unsigned command);
    bool onPaint();
    void* onQueryDragIcon() const { return view_.appIconHandle(); }
    void onClose();
    void onHelpCommand() { onAbout(); }

    // Data exchange: controls into the settings members, and the members into the controls.
    void takeControls();
    void showMembers();

    // Reads the unit's identification into unitInfo(); false (record unchanged) when the
    // library does not answer.
    bool readUnitInfo();
    void showStatus(int32_t code, int32_t textId);
    void applyInterfaceRules();

    // Configuration file and device catalogue
    // The configuration file at configPath_, read and written key by key.
    ProfileStore& profile();
    // Reads every setting from the file, enables the erase boxes that depend on them and
    // shows them in the controls. Values without a row in their list take the nearest row.
    void loadSettings();
    // Counts the types of each group from the file and keeps the groups that have some.
    void fillDeviceGroups();
    // Fills the group list with the offered groups, selects the group of the stored
    // DevTypeName, fills the type list and makes the stored DevType a valid position
    // (the first row when it is none; -1 when the list is empty).
    void fillDeviceGroupList();
    // Lists every device type of the group, sorted, and selects selectName (or the first).
    void fillDeviceTypes(int32_t groupNumber, const std::string& selectName);
    // Makes the type selected in the type list the current one; nothing when no row is
    // selected.
    void applyDeviceType();
    // Reads the type's memory layout from the library into deviceType() and shows it.
    void refreshDevice(const std::string& typeName, bool updateControls);
    const DeviceGroupTable& deviceGroupTable() const { return deviceGroupTable_; }
    const OfferedGroups& offeredGroups() const { return offeredGroups_; }

    // Result grid, connection, settings lock and target power
    // Sets the 40 lamps of the result grid from the result block, mirrors bytes 0 to 5
    // into section Diagnostic and returns the MiscErrors byte. afterRun false greys the grid.
    int showResult(bool afterRun);
    // The status lamp control and its four pictures, for the library; filled once.
    void fillStatusLampTable();
    // Fills the table and hands it to the library; the library's answer is not used.
    void initStatusLamp();
    // Shows picture 1 (red), 2 (green tick), 3 (info) or 4 (grey) in the status lamp.
    void setStatusLamp(int entry);
    // Opens the port chosen in the lists; 1 when the library opened it, else 0.
    int openConnection();
    // The bracket around every operation: the window takes no input in between.
    void beginOperation();
    void endOperation();
    bool operationActive() const { return operationDepth_ > 0; }
    void startProgress(uint32_t expectedMs, uint16_t step, bool startTimer);
    void stopProgress(bool stopTimer);
    // Menu text of the lock item, the main process options and the status lamp for the
    // lock state (nonzero = unlocked).
    void applySettingsLock(int unlocked);
    bool settingsLocked() const { return showSettings_ == 0; }
    // Target power and erase options.
    void applyTargetPower();
    void computeSettleTime();
    void eraseOptionsChanged();
    void infoMemoryChanged();
    void confirmProtectedInfo();
    void confirmBslErase();
    // Fills the supply-voltage and settling-time lists and fits the stored positions into
    // them, so that no voltage outside the offered range can be selected.
    void fillTargetPowerLists();
    // The supply code for OctoSetVccTarget: 0 not supplied, 1 supplied but switched off,
    // else the voltage in tenths; -1 when the list shows no offered voltage.
    int32_t targetSupplyCode() const;

    // Start-up and firmware check
    // Compares the unit's firmware with the required version and offers the upgrade;
    // 1 when the firmware is accepted, the offer declined or the upgrade done, else 0.
    int checkFirmwareVersion();

    // State, for the handlers of the other subsystems and for tests.
    const UnitInfo& unitInfo() const { return unitInfo_; }
    DeviceType& deviceType() { return deviceType_; }
    ProgramState& state() { return state_; }
    const std::string& configPath() const { return configPath_; }

    // Settings bound to controls, named by their configuration key.
    int comPort_ = 0;
    int baudRate_ = 4;
    int blowFuse_ = 0;
    int devType_ = 0;
    int erase_ = 1;
    int program_ = 1;
    int verify_ = 1;
    int eraseCheck_ = 1;
    int supplyByProg_ = 1;
    int erasePinfo_ = 0;
    int eraseBslSegm_ = 0;
    int switchVccOff_ = 0;
    int category_ = 0;
    int settleTime_ = 1;
    int eraseMain_ = 1;
    int eraseInfo_ = 1;
    int useDlk_ = 0;
    int restoreDco_ = 0;
    std::string imageFile_;
    std::string image2File_;

    // Settings without a control; file defaults until the configuration file is read.
    int verifyMarginal_ = 1;
    uint8_t jtagSpeed_ = 0;
    int showSettings_ = 1;
    int captionIndexed_ = 0;
    int maxSupplyIndex_ = 36 - 18;
    int repeatSelftest_ = 0;
    int repeatOctoprog_ = 0;
    int createLogFile_ = 0;
    uint32_t timeOctoProg_ = 60000;
    uint32_t timeSelfTest_ = 5000;
    uint32_t timeLoadImage_ = 4000;
    uint32_t timeEraseImage_ = 1000;
    uint32_t timeLoadFirmware_ = 2000;

    // Paths composed by the start-up command, and the connection in use.
    std::string configPath_;
    std::string logPath_;
    std::string libraryPath_;
    std::string comPortName_ = "COM1";
    uint32_t baudRateBps_ = 115200;

    // Operation flags.
    // Set once the start-up command has loaded the settings: only then does the shutdown
    // write them back, so a failed start-up never overwrites the file with defaults.
    bool settingsLoaded_ = false;
    int reloadRequired_ = 0;
    int estimateStale_ = 1;
    int continualMain_ = 0;
    int continualSelftest_ = 0;
    int runsLeft_ = 0;
    int versionsKnown_ = 0;
    uint16_t progressPeriodMs_ = 0;
    bool progressTimerRunning_ = false;
    uint16_t settleTimeMs_ = 0;
    std::string readOutFile_;
    std::string firmwareFile_;
    int fileFilterIndex_ = 0;

protected:
    // Handlers of the messages and notifications; each subsystem fills in its own.
    virtual void onStartupCommand();
    // The maintenance command that loads new firmware into the unit.
    virtual void onUpgradeFirmware() {}
    virtual void onRunMainProcess() {}
    virtual void onStart() {}
    virtual void onMainProcessOption(int id);
    virtual void onTargetPowerOption(int id);
    virtual void onSupplyVoltageChanged();
    virtual void onSettleTimeChanged();
    virtual void onEraseOption(int id);
    virtual void onDeviceGroupChanged();
    virtual void onDeviceTypeChanged();
    virtual void onUseDuoLink();
    virtual void onLoadImages() {}
    virtual void onImageFileChanged() {}
    virtual void onBrowseObjectFile(int /*id*/) {}
    virtual void onImageNumberChanged() {}
    virtual void onSelectImage(int /*image*/) {}
    virtual void onCategoryChanged() {}
    virtual void onExecute() {}
    virtual void onSelftest() {}
    virtual void onTest1() {}
    virtual void onComPortChanged();
    virtual void onBaudRateChanged();
    virtual void onProgressTimer();
    virtual void onAbout() {}
    virtual void onToggleSettingsLock();
    virtual void onHelpWindow();
    // Takes the controls into the settings and writes them; a failed first write shows
    // the write-protection message and writes nothing else.
    virtual void saveSettings();

    View& view_;
    Platform& platform_;
    ProgramState& state_;

private:
    void initSystemMenu();
    void createToolTips();
    void pollConnection();
    bool routeButton(int id);
    bool routeListChange(int id);

    // Result grid, connection, settings lock and target power
    static constexpr int kFirstBracketedId = 1003;
    static constexpr int kBracketedCount = 66; // 1003 to 1068
    void writeDiagnostic();
    void revertToSettings() { showMembers(); }
    void keepSeriesButtonsUsable();
    std::array<bool, kBracketedCount> savedEnabled_{};
    bool savedDuoLinkEnabled_ = false;
    bool savedJtag4Enabled_ = false;
    int savedFocus_ = 0;
    int operationDepth_ = 0;

    std::unique_ptr<ProgrammerLibrary> library_;
    UnitInfo unitInfo_;
    DeviceType deviceType_;

    // Configuration file and device catalogue
    ProfileStore profile_;
    DeviceGroupTable deviceGroupTable_ = makeDeviceGroupTable();
    OfferedGroups offeredGroups_;
};

} // namespace octo

// The main window: every setting and operation flag of the program, the routing of each
// window message and control notification to its handler, initialisation, the connection
// poll and the shutdown. All of it portable: the window is reached through View, the
// operating system through Platform and the unit through ProgrammerLibrary.
#pragma once

#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/UnitInfo.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"

#include <cstdint>
#include <memory>
#include <string>

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
    virtual void onStartupCommand() {}
    virtual void onRunMainProcess() {}
    virtual void onStart() {}
    virtual void onMainProcessOption(int /*id*/) {}
    virtual void onTargetPowerOption(int /*id*/) {}
    virtual void onSupplyVoltageChanged() {}
    virtual void onSettleTimeChanged() {}
    virtual void onEraseOption(int /*id*/) {}
    virtual void onDeviceGroupChanged() {}
    virtual void onDeviceTypeChanged() {}
    virtual void onUseDuoLink() {}
    virtual void onLoadImages() {}
    virtual void onImageFileChanged() {}
    virtual void onBrowseObjectFile(int /*id*/) {}
    virtual void onImageNumberChanged() {}
    virtual void onSelectImage(int /*image*/) {}
    virtual void onCategoryChanged() {}
    virtual void onExecute() {}
    virtual void onSelftest() {}
    virtual void onTest1() {}
    virtual void onComPortChanged() {}
    virtual void onBaudRateChanged() {}
    virtual void onProgressTimer() {}
    virtual void onAbout() {}
    virtual void onToggleSettingsLock() {}
    virtual void onHelpWindow() {}
    virtual void saveSettings() {}

    View& view_;
    Platform& platform_;
    ProgramState& state_;

private:
    void initSystemMenu();
    void createToolTips();
    void pollConnection();
    bool routeButton(int id);
    bool routeListChange(int id);

    std::unique_ptr<ProgrammerLibrary> library_;
    UnitInfo unitInfo_;
    DeviceType deviceType_;
};

} // namespace octo

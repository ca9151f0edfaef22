// The main window: owns the settings, the operation flags and one object per subsystem,
// routes each window message and control notification to the subsystem that handles it,
// and runs initialisation, the connection poll and the shutdown. All of it portable: the
// window is reached through View, the operating system through Platform and the unit
// through ProgrammerLibrary.
#pragma once

#include "app/OperationFlags.h"
#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/SettingsLock.h"
#include "app/UnitInfo.h"
#include "app/View.h"
#include "devices/DeviceCatalogue.h"
#include "devices/DeviceType.h"
#include "dialogs/ModalDialogs.h"
#include "link/Connection.h"
#include "link/OperationBracket.h"
#include "link/ProgrammerLibrary.h"
#include "link/ProgressBar.h"
#include "link/ResultGrid.h"
#include "link/StatusLine.h"
#include "ops/ImageLoader.h"
#include "ops/MainProcess.h"
#include "ops/Maintenance.h"
#include "ops/TargetPower.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

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
    void useLibrary(std::unique_ptr<ProgrammerLibrary> library) {
        library_.use(std::move(library));
    }
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

    // Data exchange: the controls into the settings, and the settings into the controls.
    void takeControls() { octo::takeControls(view_, settings_); }
    void showMembers() { showSettings(view_, settings_); }

    // The configuration file, read and written key by key.
    ProfileStore& profile() { return profile_; }
    const std::string& configPath() const { return profile_.path(); }
    void setConfigPath(std::string path) { profile_.setPath(std::move(path)); }
    // Reads every setting from the file, enables the erase boxes that depend on them and
    // shows them in the controls.
    void loadSettings();
    // Takes the controls into the settings and writes them; a failed first write shows
    // the write-protection message and writes nothing else.
    virtual void saveSettings();
    bool settingsLoaded() const { return settingsLoaded_; }

    // Reads the unit's identification into unitInfo(); false (record unchanged) when the
    // library does not answer.
    bool readUnitInfo() { return octo::readUnitInfo(*library_, unitInfo_); }
    // Compares the unit's firmware with the required version and offers the upgrade; a
    // failed upgrade leaves its error text in the status line.
    void checkFirmwareVersion();

    // The operation bracket and the status line, which every operation uses.
    void beginOperation() { bracket_.beginOperation(); }
    void endOperation() { bracket_.endOperation(); }
    void showStatus(int32_t code, int32_t textId) { status_.showStatus(code, textId); }

    // What the dialog owns, for the Win32 binding and the tests.
    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    OperationFlags& flags() { return flags_; }
    const OperationFlags& flags() const { return flags_; }
    DeviceType& deviceType() { return deviceType_; }
    const UnitInfo& unitInfo() const { return unitInfo_; }
    ProgramState& state() { return state_; }
    DeviceCatalogue& catalogue() { return catalogue_; }
    Connection& connection() { return connection_; }
    OperationBracket& bracket() { return bracket_; }
    ProgressBar& progress() { return progress_; }
    ResultGrid& results() { return results_; }
    TargetPower& targetPower() { return power_; }
    SettingsLock& settingsLock() { return lock_; }
    ImageLoader& imageLoader() { return loader_; }
    MainProcess& mainProcess() { return main_; }
    Maintenance& maintenance() { return maintenance_; }
    UnitInfo& unitInfo() { return unitInfo_; }
    StatusLine& statusLine() { return status_; }
    LibrarySlot& librarySlot() { return library_; }
    SubDialogs& subDialogs() { return subDialogs_; }

protected:
    // The start-up command: finds the program's files, checks versions, loads the library
    // and the settings, fills the lists, connects and saves the settings back.
    virtual void onStartupCommand();

    View& view_;
    Platform& platform_;
    ProgramState& state_;
    // Set once the start-up command has loaded the settings: only then does the shutdown
    // write them back, so a failed start-up never overwrites the file with defaults.
    bool settingsLoaded_ = false;

private:
    void initSystemMenu();
    void createToolTips();
    void pollConnection();
    void onHelpWindow();
    void openAboutBox();
    void routeButton(int id);
    void routeListChange(int id);

    LibrarySlot library_;
    ProfileStore profile_;
    Settings settings_;
    OperationFlags flags_;
    UnitInfo unitInfo_;
    DeviceType deviceType_;

    StatusLine status_{view_, library_};
    ResultGrid results_{view_, library_, state_, settings_, profile_};
    OperationBracket bracket_{view_, settings_, deviceType_, flags_, results_};
    ProgressBar progress_{view_};
    Connection connection_{view_, library_, settings_, state_, status_, bracket_};
    DeviceCatalogue catalogue_{view_,       library_,  profile_, settings_,
                               deviceType_, unitInfo_, flags_,   state_};
    TargetPower power_{view_, library_, settings_, deviceType_, flags_, state_, status_};
    SettingsLock lock_{view_, settings_, bracket_};
    ModalDialogs subDialogs_{view_, platform_, library_, profile_, settings_, state_};
    ImageLoader loader_{view_,  platform_, library_, profile_,  settings_,
                        flags_, state_,    bracket_, catalogue_};
    OperationParts operationParts_{view_,  platform_, library_, profile_, settings_, deviceType_,
                                   flags_, state_,    status_,  bracket_, progress_, power_};
    MainProcess main_{{operationParts_, results_, catalogue_}};
    Maintenance maintenance_{{operationParts_, unitInfo_, loader_, subDialogs_}};
};

} // namespace octo

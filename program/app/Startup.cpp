// The start-up command: runs once the window is on the screen. It finds the program's
// files, checks the library and configuration file versions (closing with one message
// that names every problem), loads the library and the settings, fills the lists, hands
// the status windows to the library, connects to the unit and saves the settings back.
#include "app/ProgrammerDialog.h"

#include "app/ProgramFiles.h"
#include "resources/StringIds.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include <files/atomic_file.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace octo {

namespace {

constexpr double kRequiredVersion = 1.56;
constexpr char kRequiredVersionText[] = "1.56";
constexpr int kRequiredVersionNumber = 156;
constexpr char kVersionDefault[] = "1.00";
constexpr char kDevTypeNameDefault[] = "ZEL816 A110";
// The executable's path is taken with room for this many characters.
constexpr std::size_t kModulePathChars = 260;
// Texts read from files land in buffers of this size (49 characters and the zero).
constexpr std::size_t kFileTextBuffer = 50;

// Holds back the window's painting while the start-up sets its controls one by one: the
// window paints once when the hold ends, not once for every control it changes.
class PaintingHeld {
public:
    explicit PaintingHeld(View& view) : view_(view) { view_.setRedraw(false); }
    PaintingHeld(const PaintingHeld&) = delete;
    PaintingHeld& operator=(const PaintingHeld&) = delete;
    ~PaintingHeld() { view_.setRedraw(true); }

private:
    View& view_;
};

} // namespace

double leadingNumber(std::string_view text) {
    // The C library's conversion: blanks, a sign, digits with one decimal point, an
    // exponent; it stops where the number ends and gives 0 when there is none. The
    // program never changes its locale, so the point is ".".
    const std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

std::string formatFirmwareVersion(uint16_t word) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d%d", word >> 8, (word >> 4) & 0xF, word & 0xF);
    return text;
}

void ProgrammerDialog::onStartupCommand() {
    view_.setVisible(IDC_IMAGE_NUMBER, false);

    std::string exe = platform_.modulePath().substr(0, kModulePathChars);
    const std::size_t slash = exe.find_last_of('\\');
    exe.erase(slash == std::string::npos ? 0 : slash);
    state_.programDirectory = exe + "\\";
    const std::string configPath = state_.programDirectory + program_folder::kConfigName;
    setConfigPath(configPath);
    // A save cut short by a crash leaves its temporary file beside the configuration file.
    files::removeLeftoverTemporaries(configPath);
    state_.logPath = state_.programDirectory + program_folder::kLogName;
    const std::string libraryPath = state_.programDirectory + program_folder::kLibraryName;

    std::string problems;
    if (platform_.fileExists(libraryPath)) {
        const std::string version =
            platform_.fileVersionString(libraryPath, program_folder::kFileVersion)
                .substr(0, kFileTextBuffer - 1);
        if (leadingNumber(version) != kRequiredVersion) {
            problems += std::string("Dynamic link library ") + program_folder::kLibraryName +
                        " version must be " + kRequiredVersionText + ".\n\n";
        }
    } else {
        problems += std::string("Dynamic link library ") + program_folder::kLibraryName +
                    " could not be found!\n\n";
    }
    if (platform_.fileExists(configPath)) {
        const std::string version =
            profile_.readString(ini::kVersion, ini::kVersion, kVersionDefault, kFileTextBuffer);
        if (leadingNumber(version) < kRequiredVersion) {
            problems += std::string("Configuration file ") + program_folder::kConfigName +
                        " version must not be lower than " + kRequiredVersionText + ".\n\n";
        }
    } else {
        problems += std::string("Configuration file ") + program_folder::kConfigName +
                    " could not be found!\n\n";
    }
    if (problems.empty()) {
        // A library of the right version that cannot be loaded, or lacks a function, would
        // leave every call failing without a word: it ends the start-up the same way.
        std::unique_ptr<ProgrammerLibrary> loaded = platform_.loadProgrammerLibrary(libraryPath);
        if (loaded) {
            useLibrary(std::move(loaded));
        } else {
            problems += std::string("Dynamic link library ") + program_folder::kLibraryName +
                        " could not be loaded!\n\n";
        }
    }
    if (!problems.empty()) {
        view_.messageBox("Error:\n\n" + problems +
                             "Please update your OCTO816 system.\nThis application will close.\n",
                         state_.messageCaption, mb::kOk | mb::kIconStop);
        view_.postClose();
        return;
    }

    {
        // Up to the connection, which shows its progress in the status line.
        const PaintingHeld held(view_);
        loadSettings();
        settingsLoaded_ = true;
        settings_.baudRate = kHighestBaudIndex;
        settings_.switchVccOff = 1;

        catalogue_.fillDeviceGroups();
        catalogue_.fillDeviceGroupList();
        power_.fillTargetPowerLists();
        showMembers();
        power_.computeSettleTime();
        catalogue_.applyDeviceType();

        library().initProgress(view_.controlHandle(IDC_STATUS_LINE),
                               view_.controlHandle(IDC_PROGRESS));
        progress_.setPeriod(kProgressPeriodMs);
        results_.initStatusLamp();
        lock_.applySettingsLock(settings_.showSettings);
        results_.showResult(false);
        results_.setStatusLamp(kStatusLampGrey);
    }

    const bool connected = connection_.openConnection() == 1;
    power_.applyTargetPower();
    if (connected) {
        checkFirmwareVersion();
    }

    if (settings_.captionIndexed != 0) {
        view_.setCaption(view_.caption() + " [" + std::to_string(settings_.comPort + 1) + "]");
    }

    if (connected) {
        {
            // The type applied anew changes controls the window has painted already: they
            // paint once after "connected" instead of one by one before it.
            const PaintingHeld held(view_);
            loadSetting(profile_, settings_, &Settings::useDlk);
            showMembers();
            catalogue_.applyDeviceType();
        }
        status_.showStatus(kShowString, IDS_CONNECTED);
    }

    saveSettings();
    flags_.reloadRequired = false;
}

void ProgrammerDialog::checkFirmwareVersion() {
    if (!readUnitInfo()) {
        return;
    }
    status_.showStatus(kShowString, IDS_CONNECTED);
    results_.setStatusLamp(kStatusLampGreen);
    const std::string version = formatFirmwareVersion(unitInfo_.firmwareVersion);
    if (leadingNumber(version) == kRequiredVersion) {
        return;
    }
    const std::string text = "User Information:\n\nYour current firmware version is " + version +
                             "\n\nIt is strongly recommended to upgrade your ZEL-OCTO816\n"
                             "programmer unit with firmware OCTO816-" +
                             std::to_string(kRequiredVersionNumber) +
                             ".TXT.\n\nDo you want to upgrade now?\n";
    if (view_.messageBox(text, state_.messageCaption, mb::kYesNo | mb::kIconInformation) !=
        mb::kIdYes) {
        return;
    }
    // Still the result of the target power applied before: only the upgrade's may count.
    state_.lastResult = 0;
    maintenance_.upgradeFirmware();
    if (state_.lastResult != 0) {
        view_.setText(IDC_STATUS_LINE, library().getErrorString(state_.lastResult));
    }
}

} // namespace octo

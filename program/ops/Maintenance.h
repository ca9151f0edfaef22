// The maintenance commands of the category list, started by Execute: the unit's self-test
// (once, or as a series chained through window command 1088), the firmware upgrade, the
// read-out of one target into a file, the erasure of the image memory and the target
// connector signals; and the register sequence of the hidden Test&1 button.
#pragma once

#include "app/UnitInfo.h"
#include "dialogs/SubDialogs.h"
#include "objfile/firmware.h"
#include "ops/ImageLoader.h"
#include "ops/Operation.h"
#include "ops/Series.h"

#include <cstdint>
#include <string>

namespace octo {

// Rows of the category list.
enum MaintenanceCategory : int {
    kCategorySelftest = 0,
    kCategoryUpgradeFirmware = 1,
    kCategoryReadOutTarget = 2,
    kCategoryEraseImage = 3,
    kCategoryTargetConnector = 4,
};

inline constexpr char kExecuteCaption[] = "E&xecute";
inline constexpr char kExitCaption[] = "E&xit";
inline constexpr char kExecutingSelftest[] = "Executing Selftest...";
inline constexpr char kSelftestTerminated[] = "Continual Selftest terminated.";
inline constexpr char kCommunicationError[] = "Communication Error!";
inline constexpr char kHardwareError[] = "Error at ZEL-OCTO816 hardware!";
inline constexpr char kInitializingFirmware[] = "Initializing Firmware...";
inline constexpr char kFirmwareCompleted[] = "Firmware update completed.";
using objfile::kLoaderlessThirdVersion;
using objfile::kTempLoaderName;

// Read-out file formats: the 1-based filter index chosen in the save dialog.
inline constexpr int kQxTextFormat = 1;
inline constexpr int kIntelHexFormat = 2;

// The read-out file for the chosen path: format 1 ends in ".txt" and format 2 in ".hex",
// compared case-sensitively (".TXT" gets ".txt" appended); other formats keep the path.
std::string readOutPath(std::string path, int format);

// True when the read-out may write its file at path (files::checkOutputFile): a regular
// file that its mode lets the caller write, or a new one in a folder that takes it; nothing
// there is opened or changed.
bool canWriteFile(const std::string& path);

// What the maintenance commands work with besides what every operation does, owned by the
// window.
struct MaintenanceParts {
    OperationParts common;
    UnitInfo& unitInfo;
    ImageLoader& loader;
    SubDialogs& dialogs;
};

class Maintenance : private Operation {
public:
    explicit Maintenance(const MaintenanceParts& parts);

    // Execute: the command of the selected category; nothing while the settings are locked,
    // not even the end of a running self-test series.
    void onExecute();
    // Keeps the chosen category in the settings, so a later showing of the settings keeps it.
    void onCategoryChanged();
    // One self-test, or the start or the end of a series. During a series it is also
    // reached from inside a run, while the library waits for the unit.
    void startSelftest();
    // One self-test; in a series it posts the next one to the window.
    void runSelftest();
    // Lets the operator choose a firmware file and loads it into the unit. Afterwards the
    // last result is 0 when the firmware was loaded and 1 when it was not (it is left as it
    // was when the choice was cancelled).
    void upgradeFirmware();
    // Reads one target's memory into a file the operator chooses.
    void readOutTarget();
    void eraseImage();
    // Test&1: a fixed sequence of target register accesses.
    void onTest1();

    // The file of the last read-out, with the extension its format gave it.
    const std::string& readOutFile() const { return readOutFile_; }

private:
    enum class SelftestOutcome { Passed, CommunicationError, HardwareError };

    SelftestOutcome showSelftestOutcome(uint32_t startMs);
    // True when the chosen firmware file is one the library would load; else shows why.
    bool firmwareFileAccepted();
    // The counted calls of the upgrade; the last result says whether the new firmware runs.
    void installFirmware(uint32_t startMs);
    // Keeps only success (0) or failure (1) of a counted call as the last result.
    bool counted(int32_t result);
    // The parameters, the supply and the read itself.
    void readTarget(uint32_t format);

    UnitInfo& unitInfo_;
    ImageLoader& loader_;
    SubDialogs& dialogs_;
    Series series_;
    std::string readOutFile_;
};

} // namespace octo

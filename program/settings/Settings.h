// The operator's settings as one value, and the table that describes each of them once:
// where it lives in the configuration file, its file default, how the file encodes it and
// the control of the main window it is exchanged with. Loading, saving and both directions
// of the data exchange walk that table.
#pragma once

#include "app/View.h"
#include "settings/ProfileStore.h"

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace octo {

// Supply voltages are tenths of a volt: the voltage list starts at the lowest and never
// offers more than the unit can generate.
inline constexpr int kLowestSupplyTenths = 18;
inline constexpr int kHighestSupplyTenths = 36;
inline constexpr int kHighestSupplyIndex = kHighestSupplyTenths - kLowestSupplyTenths;
// Rows of the settling-time list: 100 ms steps up to 1.5 s, then 500 ms steps up to 5 s.
inline constexpr int kSettleTimeRows = 22;
// Rows of the COM port list, "COM1" to "COM50".
inline constexpr int kComPortRows = 50;

// The highest row of the voltage list for the configured highest index
// (MaxSupplyVoltage - 18), kept within what the unit can generate.
int offeredSupplyIndex(int maxSupplyIndex);

// The values the window starts with; loading replaces them with the file's (whose defaults
// differ in places: the table below holds those).
struct Settings {
    // Bound to controls.
    int comPort = 0; // list position: COM1 is 0
    int baudRate = 4;
    int blowFuse = 0;
    int devType = 0;
    int erase = 1;
    int program = 1;
    int verify = 1;
    int eraseCheck = 1;
    int supplyByProg = 1;
    int erasePinfo = 0;
    int eraseBslSegm = 0;
    int switchVccOff = 0;
    int category = 0;
    int settleTime = 1;
    int eraseMain = 1;
    int eraseInfo = 1;
    int useDlk = 0;
    int restoreDco = 0;
    int supplyVoltage = 12; // list position: 3.0 V
    std::string imageFile{};
    std::string image2File{};

    // Without a control.
    int verifyMarginal = 1;
    int jtagSpeed = 0;
    int showSettings = 1;
    int captionIndexed = 0;
    int maxSupplyIndex = kHighestSupplyIndex;
    int repeatSelftest = 0;
    int repeatOctoprog = 0;
    int createLogFile = 0;
    std::string traceLog{}; // the traceability log's file; empty: none is written
    std::string sockets{};  // the sockets in use as the operator wrote them ("1-6,8"); see
                            // socketsInUse()
    uint32_t timeOctoProg = 60000;
    uint32_t timeSelfTest = 5000;
    uint32_t timeLoadImage = 4000;
    uint32_t timeEraseImage = 1000;
    uint32_t timeLoadFirmware = 2000;

    // Section Serial: each target's own record at address, from a number range or a list
    // file. Without a ledger the window uses none of it.
    std::string serialLedger{};
    uint32_t serialAddress = 0;
    uint32_t serialStart = 0;
    uint32_t serialEnd = 0;
    uint32_t serialStep = 1;
    std::string serialFormat{}; // empty: le32
    int serialWidth = 0;
    std::string serialList{}; // a list file instead of the numbers

    bool locked() const { return showSettings == 0; }
};

// How a value is written in the file.
enum class Encoding {
    Number,        // as it stands
    Flag,          // 0 or 1; any nonzero value in the file counts as set
    Position,      // a list position; a list without a selection keeps the file's value
    PositionFrom1, // list position + 1 (ComPort); written even without a selection
    SupplyTenths,  // list position + 18 (tenths of a volt); kept without a selection
    LowByteUpTo3,  // only the low 8 bits count, and no more than 3 of them (JtagSpeed)
    Text,          // a text cut to its buffer
};

using SettingField = std::variant<int Settings::*, uint32_t Settings::*, std::string Settings::*>;

inline constexpr int kNoControl = 0;

struct SettingRow {
    const char* section = nullptr; // null: not kept in the file
    const char* key = nullptr;
    int32_t fileDefault = 0;
    Encoding encoding = Encoding::Number;
    uint32_t textBuffer = 0;
    int control = kNoControl;
    SettingField field;
    bool loaded = true;
    bool saved = false;
};

// Every setting, the saved ones in the order the configuration file receives them.
std::span<const SettingRow> settingRows();

// Reads every loaded setting from the file. Values that have no row in their list take the
// nearest row, so the lists always show what is in effect and no voltage outside the
// offered range is ever selected.
void loadSettings(ProfileStore& file, Settings& settings);
// Reads one setting anew, as loading reads it (for keys that are re-read when used).
void loadSetting(ProfileStore& file, Settings& settings, SettingField field);
// Writes every saved setting in order, then Busy=1. A failed first write shows the
// write-protection message and writes nothing else; false then.
bool saveSettings(ProfileStore& file, Settings& settings, View& view);

// Writes a duration in ms to section Timing, as the unsigned number it is. A failed write
// is ignored by every caller: the operation it measured has succeeded.
void writeTiming(ProfileStore& file, const char* key, uint32_t ms);

// The sockets in use at the station (bit n: socket n + 1) from key Sockets: all eight when
// the key is missing or its text is no list of sockets ("1-6,8"), the text itself being
// left as the operator wrote it.
uint8_t socketsInUse(const Settings& settings);

// The data exchange: the controls into the settings, and the settings into the controls.
void takeControls(const View& view, Settings& settings);
void showSettings(View& view, const Settings& settings);

// While the settings are locked a handler refuses its change: the controls get the
// settings back. True when it refused.
bool refuseWhileLocked(View& view, const Settings& settings);

} // namespace octo

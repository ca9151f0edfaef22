// What the main window shows straight from its dialog template, before the start-up
// command has filled anything in: the template's lists, the selections and check states
// the construction values give, and the template's texts of the status and device lines.
// The start-up command (a later issue) changes several of these; when it does, this is
// the one place to change, and the tests that use it say which state they expect.
#ifndef OCTO_E2E_TEMPLATE_STATE_H
#define OCTO_E2E_TEMPLATE_STATE_H

#include <string>
#include <utility>
#include <vector>

namespace octo::e2e::template_state {

struct ListState {
    int id;
    std::vector<std::string> rows; // in the order the list shows them
    int selected;                  // -1: no selection
};

inline std::vector<std::string> comPorts() {
    std::vector<std::string> rows;
    for (int n = 1; n <= 50; ++n)
        rows.push_back("COM" + std::to_string(n));
    return rows;
}

// "1.8 V " to "3.6 V " in steps of 0.1 V, each with one trailing blank.
inline std::vector<std::string> supplyVoltages() {
    std::vector<std::string> rows;
    for (int tenths = 18; tenths <= 36; ++tenths)
        rows.push_back(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " V ");
    return rows;
}

inline const std::vector<ListState>& lists() {
    static const std::vector<ListState> kLists = {
        {1065,
         {"H/W Selftest", "Upgrade Firmware", "Read out Target", "Erase Image", "Target Connector"},
         0},
        {1014, comPorts(), 0},                                    // "COM1"
        {1015, {"9600", "19200", "38400", "57600", "115200"}, 4}, // "115200"
        {1071, {"1", "2", "3", "4", "5", "6", "7", "8"}, -1},
        {1063, supplyVoltages(), 12},                                        // "3.0 V "
        {1067, {"0.0 s ", "0.1 s ", "0.2 s", "1.5 s", "2.0 s", "2.5 s"}, 1}, // "0.1 s "
        // A sorted list: the template adds "ZEL816 Axxx", "INI file contains no",
        // "Device Type info" in that order and the list sorts them.
        {1016, {"Device Type info", "INI file contains no", "ZEL816 Axxx"}, 0},
        {1017, {}, -1},
    };
    return kLists;
}

// Check boxes and radio buttons with the state their construction value gives.
inline const std::vector<std::pair<int, int>>& checkStates() {
    static const std::vector<std::pair<int, int>> kStates = {
        {1004, 1}, // Erase
        {1005, 1}, // Erase Check
        {1006, 1}, // Program
        {1007, 1}, // Verify
        {1008, 0}, // Secure Device
        {1062, 1}, // Supplied by Programmer
        {1064, 0}, // Switch Vcc off
        {1066, 0}, // Protected Info
        {1069, 0}, // BSL Memory
        {1070, 0}, // Restore (hidden)
        {1115, 1}, // Main Memory
        {1116, 1}, // Info Memory
        {1117, 0}, // Use DuoLink
    };
    return kStates;
}

// Texts of the template that the start-up command replaces.
inline const std::vector<std::pair<int, std::string>>& texts() {
    static const std::vector<std::pair<int, std::string>> kTexts = {
        {1001, "Status Information"},
        {1002, "RAM....      FLASH.....      (+INFO)"},
        {1012, ""},
        {1018, ""},
    };
    return kTexts;
}

struct ProgressState {
    int position, low, high;
};
inline constexpr ProgressState kProgress{0, 0, 100};

} // namespace octo::e2e::template_state

#endif

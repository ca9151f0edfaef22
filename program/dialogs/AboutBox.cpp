#include "dialogs/AboutBox.h"

#include "app/ProgramFiles.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include <cstdio>

namespace octo {

namespace {

// A configuration file older than the Version key.
constexpr char kVersionBefore121[] = "<1.21";
constexpr uint32_t kVersionBuffer = 256;
constexpr int kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;

} // namespace

std::string formatVersionWord(uint16_t word) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x.%02x", static_cast<unsigned>(word >> kByteBits),
                  word & kByteMask);
    return text;
}

bool AboutBox::onInitDialog() {
    // The names are fixed: the name the program was started under does not matter.
    const std::string programPath = state_.programDirectory + program_folder::kProgramName;
    const std::string libraryPath = state_.programDirectory + program_folder::kLibraryName;

    view_.setText(IDC_ABOUT_COPYRIGHT,
                  platform_.fileVersionString(programPath, program_folder::kCopyright));
    view_.setText(IDC_ABOUT_EXE_NAME, program_folder::kProgramName);
    view_.setText(IDC_ABOUT_EXE_VERSION,
                  platform_.fileVersionString(programPath, program_folder::kFileVersion));
    view_.setText(IDC_ABOUT_DLL_NAME, program_folder::kLibraryName);
    view_.setText(IDC_ABOUT_DLL_VERSION,
                  platform_.fileVersionString(libraryPath, program_folder::kFileVersion));
    // The store's file is the configuration file beside the program.
    view_.setText(IDC_ABOUT_INI_NAME, program_folder::kConfigName);
    view_.setText(IDC_ABOUT_INI_VERSION, profile_.readString(ini::kVersion, ini::kVersion,
                                                             kVersionBefore121, kVersionBuffer));

    // Without an answer the unit's fields keep "n. c." and the template's firmware name.
    if (readUnitInfo(library_, unit_)) {
        view_.setText(IDC_ABOUT_HARDWARE_VERSION, formatVersionWord(unit_.hardwareVersion));
        view_.setText(IDC_ABOUT_FIRMWARE_VERSION, formatVersionWord(unit_.firmwareVersion));
        view_.setText(IDC_ABOUT_FIRMWARE_NAME, unit_.description);
    }
    return true;
}

void AboutBox::onCommand(int id) {
    if (id == mb::kIdOk || id == mb::kIdCancel) {
        view_.endDialog(id);
    }
}

} // namespace octo

// Values that live as long as the process, shared by the main window and its dialogs:
// the result block, the last library result, the status lamp table the library keeps
// using, the program's directory, report path and message texts, the chosen firmware file
// and the read-out values.
#pragma once

#include "octo816.h"

#include <array>
#include <cstdint>
#include <string>

namespace octo {

struct ProgramState {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> runResult{};
    int32_t lastResult = 0;
    OctoStatusLampTable statusLampTable{};
    std::string programDirectory;
    // The continual-run report, beside the program.
    std::string logPath;
    std::string messageCaption;
    std::string helpWindowTitle;
    // The firmware file chosen for the next upgrade; never stored in the configuration file.
    std::string firmwareFile;
    int readOutTarget = 1;
    uint32_t readOutStart = 0xF000;
    uint32_t readOutLength = 0x1000;
};

} // namespace octo

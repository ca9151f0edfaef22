// Values that live as long as the process, shared by the main window and its dialogs:
// the result block, the last library result, the status lamp table the library keeps
// using, the program's directory, report path and message texts, the chosen firmware file
// the read-out values and the image CRCs the unit confirmed.
#pragma once

#include "octo816.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace octo {

// The slots of the unit's image memory.
inline constexpr std::size_t kImageSlotCount = 8;

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
    // The slot the last OctoSelectImage the unit accepted made current (0 before any).
    uint32_t imageSlot = 0;
    // The CRC-32 the unit confirmed for each slot's image loaded in this session; none for
    // a slot erased, loaded in vain or not loaded since the program started.
    std::array<std::optional<uint32_t>, kImageSlotCount> imageCrc32{};
};

} // namespace octo

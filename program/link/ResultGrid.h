// How the result block becomes the eight-by-five lamp grid: which rows a run addressed,
// which targets are locked, and the picture of each lamp.
#pragma once

#include "resources/resource.h"

#include <array>
#include <cstdint>
#include <span>

namespace octo {

inline constexpr int kResultRows = 5;
inline constexpr int kResultTargets = 8;

// Bytes of the result block: one mask per grid row (bit t = target t + 1), then the error
// number whose text is string 300 + n.
enum ResultByte : int {
    kConnectedByte = 0,
    kEraseCheckedByte = 1,
    kVerifiedByte = 2,
    kFuseBlownByte = 3,
    kOverAllByte = 4,
    kMiscErrorsByte = 5,
};

// The keys of section Diagnostic that mirror bytes 0 to 5, in that order.
inline constexpr std::array<const char*, kMiscErrorsByte + 1> kDiagnosticKeys = {
    "Connected", "EraseChecked", "Verified", "FuseBlown", "OverAll", "MiscErrors"};

enum class LampState { On, Off, Grey };

// The rows a run looked at: Connected and Over All always, the middle three by option.
std::array<bool, kResultRows> addressedRows(bool eraseCheck, bool verify, bool blowFuse);

// The state of the lamp of row and target (0 to 7). A secured target that did not pass
// is locked: after a run it shows nothing in the erase-check and verify rows, and its
// connected and secured lamps show the bits even when it did not answer.
LampState resultLampState(std::span<const uint8_t> block,
                          const std::array<bool, kResultRows>& addressed, bool afterRun, int row,
                          int target);

// The bitmap that shows a state: a white tick or plain white in rows 0 to 3, a green tick
// or solid red in the Over All row, solid grey for a lamp with nothing to say.
int resultLampBitmap(int row, LampState state);

// Control id of the lamp of row and target.
constexpr int resultLampId(int row, int target) {
    return IDC_RESULT_FIRST + kResultTargets * row + target;
}

} // namespace octo

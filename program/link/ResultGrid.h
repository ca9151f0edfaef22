// How the result block becomes the eight-by-five lamp grid: which rows a run addressed,
// which targets are locked, and the picture of each lamp.
#pragma once

#include "app/ProgramState.h"
#include "app/View.h"
#include "link/ProgrammerLibrary.h"
#include "resources/resource.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

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

// The status lamp's pictures, entries 1 to 4 of the table the library is given.
enum StatusLampEntry : int {
    kStatusLampRed = 1,
    kStatusLampGreen = 2,
    kStatusLampInfo = 3,
    kStatusLampGrey = 4,
};

// The 40 lamps of the result grid and the status lamp.
class ResultGrid {
public:
    ResultGrid(View& view, LibrarySlot& library, ProgramState& state, const Settings& settings,
               ProfileStore& profile)
        : view_(view), library_(library), state_(state), settings_(settings), profile_(profile) {}

    // Sets the 40 lamps from the result block, mirrors bytes 0 to 5 into section Diagnostic
    // and returns the MiscErrors byte. afterRun false greys the grid.
    int showResult(bool afterRun);
    // The status lamp control and its four pictures, for the library; filled once.
    void fillStatusLampTable();
    // Fills the table and hands it to the library; the library's answer is not used.
    void initStatusLamp();
    // Shows one of the four pictures in the status lamp; other entries change nothing.
    void setStatusLamp(int entry);

private:
    void writeDiagnostic();

    View& view_;
    LibrarySlot& library_;
    ProgramState& state_;
    const Settings& settings_;
    ProfileStore& profile_;
};

} // namespace octo

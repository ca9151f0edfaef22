// The status line: the one way the program writes it, by status code and text id.
#pragma once

#include "app/View.h"
#include "link/ProgrammerLibrary.h"

#include <cstdint>

namespace octo {

// Status codes: 0 is success, codes below 300 are the library's (their text comes from
// the library), codes from 300 up name strings of the program's string table.
inline constexpr int32_t kFailedDetails = 8; // failed; the caller names its own text
inline constexpr int32_t kShowString = 99;   // show the string with the given id
inline constexpr int32_t kFirstProgramCode = 300;

class StatusLine {
public:
    StatusLine(View& view, LibrarySlot& library) : view_(view), library_(library) {}

    void showStatus(int32_t code, int32_t textId);

private:
    View& view_;
    LibrarySlot& library_;
};

} // namespace octo

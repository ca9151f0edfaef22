// The About box: the versions of the program, the library, the configuration file, the
// unit's firmware and hardware. Everything is read anew at each opening, the unit through
// the box's own identification record; the box changes nothing and closes with OK.
#pragma once

#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/UnitInfo.h"
#include "app/View.h"
#include "link/ProgrammerLibrary.h"
#include "settings/ProfileStore.h"

#include <cstdint>
#include <string>

namespace octo {

// A unit's version word: the high byte in hexadecimal, a point and the low byte as two
// hexadecimal digits; 0x0156 gives "1.56", 0x0A05 gives "a.05".
std::string formatVersionWord(uint16_t word);

class AboutBox final : public DialogHandler {
public:
    AboutBox(DialogView& view, const Platform& platform, ProgrammerLibrary& library,
             ProfileStore& profile, const ProgramState& state)
        : view_(view), platform_(platform), library_(library), profile_(profile), state_(state) {}

    bool onInitDialog() override;
    void onCommand(int id) override;

private:
    DialogView& view_;
    const Platform& platform_;
    ProgrammerLibrary& library_;
    ProfileStore& profile_;
    const ProgramState& state_;
    UnitInfo unit_;
};

} // namespace octo

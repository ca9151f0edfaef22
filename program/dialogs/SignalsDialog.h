// The target connector signals dialog: the operator sets single lines of the target
// connector by hand to check an adapter's wiring. Set sends the signal word the controls
// make, Default only resets the controls, and leaving (Exit, Escape, the close box) sends
// the exit word and sets the target supply to the configured voltage. Library results are
// not shown: the dialog stays as it is.
#pragma once

#include "app/View.h"
#include "link/ProgrammerLibrary.h"
#include "settings/Settings.h"

#include <cstdint>

namespace octo {

// Bit 15 alone: the unit leaves the hand-set signal state.
inline constexpr uint16_t kSignalExitWord = 0x8000;

class SignalsDialog final : public DialogHandler {
public:
    SignalsDialog(DialogView& view, ProgrammerLibrary& library, const Settings& settings);

    bool onInitDialog() override;
    void onCommand(int id) override;

    // The word the controls make: the line's position in bits 0 to 2, one bit per box.
    uint16_t signalWord() const;

private:
    void showDefaults();
    void leave();

    DialogView& view_;
    ProgrammerLibrary& library_;
    // The configured supply voltage in tenths of a volt, taken at the opening.
    int32_t signalVoltage_;
};

} // namespace octo

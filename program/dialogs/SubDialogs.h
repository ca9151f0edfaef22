// The modal dialogs the main window opens over itself: the About box, the read-out range
// and the target connector signals. The operations are given this interface, so they open
// a dialog without knowing how the window shows it.
#pragma once

namespace octo {

class SubDialogs {
public:
    virtual ~SubDialogs() = default;
    // The versions of the program, the library, the configuration file and the unit.
    virtual void runAboutBox() = 0;
    // Target, start and length of a read-out, kept in ProgramState; true when closed with
    // OK.
    virtual bool runReadOutDialog() = 0;
    // Drives single signals of the target connector by hand.
    virtual void runSignalsDialog() = 0;
};

} // namespace octo

// The operation flags of the main window, shared by the subsystems that set and read them.
#pragma once

namespace octo {

struct OperationFlags {
    // Start refuses until Load Image(s) has run since the type or the file changed.
    bool reloadRequired = false;
    // The expected run duration must be estimated anew.
    bool estimateStale = true;
    // The unit has answered once: its versions are known.
    bool versionsKnown = false;
    // A continual series of main processes or self-tests is running.
    bool continualMain = false;
    bool continualSelftest = false;
    int runsLeft = 0;
};

} // namespace octo

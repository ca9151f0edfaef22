// The operation flags of the main window, shared by the subsystems that set and read them.
#pragma once

namespace octo {

struct OperationFlags {
    // Start refuses until Load Image(s) has run since the type or the file changed.
    int reloadRequired = 0;
    // The expected run duration must be estimated anew.
    int estimateStale = 1;
    // The unit has answered once: its versions are known.
    int versionsKnown = 0;
    // A continual series of main processes or self-tests is running.
    int continualMain = 0;
    int continualSelftest = 0;
    int runsLeft = 0;
};

} // namespace octo

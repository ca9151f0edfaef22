// The application object: constructs the main dialog, runs it modally and ends the
// process when the modal run ends.
#pragma once

#include <windows.h>

namespace octo {

class ProgrammerApp {
public:
    explicit ProgrammerApp(HINSTANCE instance) : instance_(instance) {}
    // Runs the program; returns the process exit code.
    int run();

private:
    HINSTANCE instance_;
};

} // namespace octo

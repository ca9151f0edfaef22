#include "win32/ProgrammerApp.h"

#include "app/ProgramState.h"
#include "app/ProgrammerDialog.h"
#include "win32/MainWindow.h"
#include "win32/Win32FileAccess.h"
#include "win32/Win32Platform.h"
#include "win32/Win32View.h"

namespace octo {

int ProgrammerApp::run() {
    initCommonControls();
    // Lives as long as the process: the library keeps the status lamp table.
    static ProgramState state;
    Win32Platform platform;
    Win32View view(instance_);
    ProgrammerDialog dialog(view, platform, state);
    dialog.profile().useFileAccess(makeWin32FileAccess());
    MainWindow window(instance_, view, dialog);
    window.runModal();
    // The modal run is over: the process ends without a message loop of its own.
    return 0;
}

} // namespace octo

#include "win32/ProgrammerApp.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        return octo::ProgrammerApp(instance).run();
    } catch (...) {
        return 1;
    }
}

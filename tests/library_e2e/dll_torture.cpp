// A Wine client of the real OCTO816.DLL that puts its calls under torture, against the
// unit on the given port. Reports on standard output, one fact per line, flushed at once.
//
//   octo_dll_torture pump <port> <object file> <type> <scratch file>
//     While the library waits for the unit, the client's window handlers call all 22
//     exports, post themselves a message each time they run, or block for 2 s:
//       nested <name> <code>           (each export called from inside the pump)
//       <case> <code> <ms> <handled>   (the outer call: nested_erase, selfpost_erase,
//                                       block_erase, block_load; handled = how often the
//                                       window's handler ran during it)
//       after_result <code>            after_load <code>
//   octo_dll_torture readout <port> <path> <length> [<count>]
//     Reads target 1 from 0 into <path> (QX-Text) <count> times, or until it is killed:
//       initcom <code>   supply <code>   readout <code>    (one line per read-out)
#include "support/EveryExport.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using octo::testing::ExportTable;

constexpr UINT kCallEveryExport = WM_APP + 1;
constexpr UINT kSelfPost = WM_APP + 2;
constexpr UINT kBlock = WM_APP + 3;
constexpr DWORD kBlockMs = 2000;
constexpr uint32_t kRate = 115200;
constexpr uint32_t kReadSupply = 30; // 3.0 V on the targets while they are read
constexpr const char* kClassName = "OctoDllTorture";

ExportTable exports;
std::string scratchFile;
std::string portName;
octo::testing::ExportCodes nestedCodes;
int handled = 0;
bool reposting = false;

LRESULT CALLBACK tortureWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kCallEveryExport:
        ++handled;
        nestedCodes = octo::testing::callEveryExport(exports, scratchFile, portName);
        return 0;
    case kSelfPost:
        ++handled;
        if (reposting) {
            PostMessageA(window, kSelfPost, 0, 0);
        }
        return 0;
    case kBlock:
        ++handled;
        Sleep(kBlockMs);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool resolveAll(HMODULE module) {
    bool complete = true;
#define OCTO_RESOLVE(name)                                                                         \
    exports.name = reinterpret_cast<decltype(&::name)>(                                            \
        reinterpret_cast<void*>(GetProcAddress(module, #name)));                                   \
    complete = complete && exports.name != nullptr;
    OCTO816_EXPORTS(OCTO_RESOLVE)
#undef OCTO_RESOLVE
    return complete;
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Posts `message` to the window, runs the call and reports its code, duration and how often
// the window's handler ran meanwhile.
template <typename Call>
void underTorture(HWND window, UINT message, const char* name, Call call) {
    handled = 0;
    PostMessageA(window, message, 0, 0);
    const DWORD start = GetTickCount();
    const int32_t code = call();
    const DWORD took = GetTickCount() - start;
    say(std::string(name) + " " + std::to_string(code) + " " + std::to_string(took) + " " +
        std::to_string(handled));
}

int pumpTorture(char** argv) {
    portName = argv[2];
    const std::string object = argv[3];
    const std::string type = argv[4];
    scratchFile = argv[5];

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = tortureWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        windowClass.hInstance, nullptr);
    if (!window) {
        say("window none");
        return 1;
    }
    say("initcom " + std::to_string(exports.InitCom(portName.c_str(), kRate)));

    underTorture(window, kCallEveryExport, "nested_erase", [] { return exports.OctoEraseImage(); });
    for (const auto& [name, code] : nestedCodes) {
        say("nested " + name + " " + std::to_string(code));
    }

    reposting = true;
    underTorture(window, kSelfPost, "selfpost_erase", [] { return exports.OctoEraseImage(); });
    reposting = false;
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }

    underTorture(window, kBlock, "block_erase", [] { return exports.OctoEraseImage(); });
    underTorture(window, kBlock, "block_load",
                 [&] { return exports.OctoLoadImage(object.c_str(), type.c_str()); });

    uint8_t block[OCTO_RESULT_BLOCK_BYTES] = {};
    say("after_result " + std::to_string(exports.OctoGetResult(block)));
    say("after_load " + std::to_string(exports.OctoLoadImage(object.c_str(), type.c_str())));
    exports.ReleaseCom();
    DestroyWindow(window);
    return 0;
}

int readoutUntilKilled(char** argv) {
    const char* port = argv[2];
    const char* path = argv[3];
    const uint32_t length = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0));
    const unsigned long count = argv[5] ? std::strtoul(argv[5], nullptr, 0) : 0;
    say("initcom " + std::to_string(exports.InitCom(port, kRate)));
    say("supply " + std::to_string(exports.OctoSetVccTarget(kReadSupply)));
    for (unsigned long done = 0; count == 0 || done < count; ++done) {
        say("readout " +
            std::to_string(exports.OctoReadTargetFile(0, 0, length, path, OCTO_FORMAT_QX_TEXT)));
    }
    exports.ReleaseCom();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    constexpr int kPumpArgs = 6;
    constexpr int kReadoutArgs = 5;
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dll(path);
    dll = dll.substr(0, dll.find_last_of('\\') + 1) + "OCTO816.DLL";
    const HMODULE module = LoadLibraryA(dll.c_str());
    if (!module || !resolveAll(module)) {
        say("loaded no");
        return 1;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pump" && argc == kPumpArgs) {
        return pumpTorture(argv);
    }
    if (mode == "readout" && (argc == kReadoutArgs || argc == kReadoutArgs + 1)) {
        return readoutUntilKilled(argv);
    }
    say("usage: pump <port> <object> <type> <scratch> | readout <port> <path> <length> [<count>]");
    return 2;
}

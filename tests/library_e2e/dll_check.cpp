// Loads OCTO816.DLL from its own folder the way the program does, and reports on
// standard output, one fact per line:
//   loaded yes|no
//   export <name> yes|no            (for each of the 22 names)
//   fileversion <text>
// With a port, an object file and a device type as arguments it then talks to the unit:
//   initcom <code>
//   result <code> <hardware> <firmware> <name>
//   erase <code>
//   load <code>
// With a fifth argument, a read-out file, it also programs the unit's eight targets and
// reads target 1 back into that file twice (the second time over the first file):
//   run <code> <over-all byte in hex>
//   readout <code>
//   readout_again <code>
#include "octo816.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string fileVersion(const char* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) {
        return "???";
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) {
        return "???";
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length) ||
        length == 0) {
        return "???";
    }
    return static_cast<const char*>(value);
}

template <typename Function>
Function resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

int main(int argc, char** argv) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder = folder.substr(0, folder.find_last_of('\\') + 1);
    const std::string dll = folder + "OCTO816.DLL";

    HMODULE module = LoadLibraryA(dll.c_str());
    std::printf("loaded %s\n", module ? "yes" : "no");
    if (!module) {
        return 1;
    }
    bool complete = true;
#define OCTO_CHECK(name)                                                                           \
    {                                                                                              \
        const bool found = GetProcAddress(module, #name) != nullptr;                               \
        complete = complete && found;                                                              \
        std::printf("export %s %s\n", #name, found ? "yes" : "no");                                \
    }
    OCTO816_EXPORTS(OCTO_CHECK)
#undef OCTO_CHECK
#define OCTO_CHECK(name)                                                                           \
    {                                                                                              \
        const bool found = GetProcAddress(module, #name) != nullptr;                               \
        complete = complete && found;                                                              \
        std::printf("export_target_data %s %s\n", #name, found ? "yes" : "no");                    \
    }
    OCTO816_TARGET_DATA_EXPORTS(OCTO_CHECK)
    OCTO816_UNIT_INFO_EXPORTS(OCTO_CHECK)
#undef OCTO_CHECK
    std::printf("fileversion %s\n", fileVersion(dll.c_str()).c_str());
    if (!complete || argc < 4) {
        return complete ? 0 : 1;
    }

    const auto initCom = resolve<decltype(&InitCom)>(module, "InitCom");
    const auto getResult = resolve<decltype(&OctoGetResult)>(module, "OctoGetResult");
    const auto eraseImage = resolve<decltype(&OctoEraseImage)>(module, "OctoEraseImage");
    const auto loadImage = resolve<decltype(&OctoLoadImage)>(module, "OctoLoadImage");
    const auto releaseCom = resolve<decltype(&ReleaseCom)>(module, "ReleaseCom");
    std::printf("initcom %d\n", static_cast<int>(initCom(argv[1], 115200)));
    uint8_t block[OCTO_RESULT_BLOCK_BYTES] = {};
    const int32_t result = getResult(block);
    std::printf("result %d %02X%02X %02X%02X %s\n", static_cast<int>(result), block[8], block[9],
                block[10], block[11],
                block[12] == 0xFF ? "-" : reinterpret_cast<const char*>(&block[12]));
    std::printf("erase %d\n", static_cast<int>(eraseImage()));
    std::printf("load %d\n", static_cast<int>(loadImage(argv[2], argv[3])));
    if (argc >= 5) {
        const auto loadParameters =
            resolve<decltype(&OctoLoadParameters)>(module, "OctoLoadParameters");
        const auto mainProcess = resolve<decltype(&OctoMainProcess)>(module, "OctoMainProcess");
        const auto readTarget =
            resolve<decltype(&OctoReadTargetFile)>(module, "OctoReadTargetFile");
        // Erase and check information and main memory, program, verify; 3.0 V left on.
        int32_t code = loadParameters(0x3BB, 30, 100);
        if (code == 0) {
            code = mainProcess(600);
        }
        if (code == 0) {
            code = getResult(block);
        }
        std::printf("run %d %02X\n", static_cast<int>(code), block[4]);
        std::printf("readout %d\n", static_cast<int>(readTarget(0, 0xFC00, 0x400, argv[4], 1)));
        std::printf("readout_again %d\n",
                    static_cast<int>(readTarget(0, 0xFC00, 0x400, argv[4], 1)));
    }
    releaseCom();
    std::fflush(stdout);
    FreeLibrary(module);
    return 0;
}

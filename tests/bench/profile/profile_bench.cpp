// The device catalogue's reads on a configuration file with 1000 device types over all
// groups: FillDeviceGroups plus one FillDeviceTypes through our profile store, against the
// same reads made with Wine's private-profile functions on the same file, and one
// SaveSettings on that file. Prints "BENCH <name> <value> <unit>" lines.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "support/InMemoryView.h"
#include "win32/Win32FileAccess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTypes = 1000;
constexpr int kRuns = 7;
constexpr DWORD kAllNamesBuffer = 1 << 20; // every name, like our store
constexpr int32_t kGroupNumbers[] = {1, 2, 22, 21, 4, 41, 42, 43, 5, 57, 6, 15, 16, 23};
constexpr int32_t kListedGroup = 41;
// Wine re-reads a file younger than about 2 s at every call; an older one it caches.
constexpr LONGLONG kAnHourIn100ns = 36000000000LL;

std::string makeIni() {
    std::string ini = "[Version]\r\nVersion=1.56\r\n[System]\r\nComPort=1\r\nDevType=0\r\n"
                      "DevTypeName=ZEL816 T0000\r\nSupplyVoltage=30\r\n[User]\r\n"
                      "CaptionIndexed=0\r\n[Timing]\r\nTimeOctoProg=60000\r\n[Diagnostic]\r\n"
                      "Busy=0\r\n";
    for (int i = 0; i < kTypes; ++i) {
        char section[160];
        std::snprintf(section, sizeof section,
                      "[ZEL816 T%04d]\r\nGroup=%d\r\nVpp=27\r\nDlkAble=%d\r\nJTAG4disable=0\r\n", i,
                      kGroupNumbers[i % std::size(kGroupNumbers)], i % 2);
        ini += section;
    }
    return ini;
}

void writeOld(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= kAnHourIn100ns;
    FILETIME old{t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &old);
    CloseHandle(h);
}

bool isType(const char* name) {
    for (const char* word : {"ZEL816", "QD816", "TRV816", "VRG"}) {
        if (std::strstr(name, word)) {
            return true;
        }
    }
    return false;
}

// The catalogue's reads with Wine's functions: count the groups, then list one group.
size_t wineCatalogue(const std::string& path, std::vector<char>& names) {
    std::vector<int> counts(std::size(kGroupNumbers));
    GetPrivateProfileSectionNamesA(names.data(), kAllNamesBuffer, path.c_str());
    for (const char* n = names.data(); *n; n += std::strlen(n) + 1) {
        if (isType(n)) {
            const int group = static_cast<int>(GetPrivateProfileIntA(n, "Group", -1, path.c_str()));
            for (size_t g = 0; g < std::size(kGroupNumbers); ++g) {
                counts[g] += kGroupNumbers[g] == group;
            }
        }
    }
    std::vector<std::string> listed;
    GetPrivateProfileSectionNamesA(names.data(), kAllNamesBuffer, path.c_str());
    for (const char* n = names.data(); *n; n += std::strlen(n) + 1) {
        if (isType(n) &&
            static_cast<int>(GetPrivateProfileIntA(n, "Group", -1, path.c_str())) == kListedGroup) {
            listed.emplace_back(n);
        }
    }
    std::sort(listed.begin(), listed.end());
    return listed.size();
}

template <typename F>
double bestMs(F&& run) {
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        run();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

} // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "octo_profile_bench.ini";
    writeOld(path, makeIni());

    octo::testing::InMemoryView view;
    octo::testing::FakePlatform platform;
    octo::ProgramState state;
    octo::ProgrammerDialog dialog(view, platform, state);
    dialog.useLibrary(std::make_unique<octo::testing::FakeLibrary>());
    dialog.profile().useFileAccess(octo::makeWin32FileAccess());
    dialog.setConfigPath(path);
    dialog.showMembers();

    const double oursMs = bestMs([&] {
        dialog.catalogue().fillDeviceGroups();
        dialog.catalogue().fillDeviceTypes(kListedGroup, "ZEL816 T0005");
    });
    std::vector<char> names(kAllNamesBuffer);
    size_t wineListed = 0;
    const double wineMs = bestMs([&] { wineListed = wineCatalogue(path, names); });
    const auto oursListed = static_cast<size_t>(view.listCount(IDC_DEVICE_TYPE));
    if (oursListed != wineListed || dialog.catalogue().offeredGroups().count != std::ssize(kGroupNumbers)) {
        std::fprintf(stderr, "profile_bench: lists differ (ours %zu, Wine %zu, groups %d)\n",
                     oursListed, wineListed, dialog.catalogue().offeredGroups().count);
        return 1;
    }

    // Each save starts from the fresh file, which lacks most of the keys a save writes: one
    // replace of the file per key.
    double saveMs = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        writeOld(path, makeIni());
        dialog.loadSettings();
        const auto start = Clock::now();
        dialog.saveSettings();
        saveMs = std::min(saveMs,
                          std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    DeleteFileA(path.c_str());

    std::printf("BENCH profile_vs_wine_1000_types %.1f x\n", wineMs / oursMs);
    std::printf("BENCH profile_catalogue_ours_ms %.2f ms\n", oursMs);
    std::printf("BENCH profile_catalogue_wine_ms %.2f ms\n", wineMs);
    std::printf("BENCH save_settings_ms %.2f ms\n", saveMs);
    return 0;
}

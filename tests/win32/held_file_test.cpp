// The configuration file and the read-out output on Win32 while another holder has the
// file open the way the C runtime's fopen and most editors do: shared for reading and
// writing, not for deleting. The write lands, and no temporary file is left.
#include "files/atomic_file.h"
#include "settings/ProfileStore.h"
#include "win32/Win32FileAccess.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace octo {
namespace {

constexpr char kIni[] = "OCTO816.INI";
constexpr char kHex[] = "READ.HEX";

class HeldFileTest : public ::testing::Test {
protected:
    HeldFileTest() {
        static int counter = 0;
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder_ = std::string(temp) + "octo_held_" + std::to_string(GetCurrentProcessId()) + "_" +
                  std::to_string(counter++) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    ~HeldFileTest() override {
        for (const std::string& name : entries()) {
            SetFileAttributesA(path(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path(name).c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }

    std::string path(const std::string& name) const { return folder_ + name; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found{};
        const HANDLE search = FindFirstFileA((folder_ + "*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.emplace_back(found.cFileName);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }

    static void write(const std::string& file, const std::string& bytes) {
        const HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD put = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
        CloseHandle(h);
    }

    static std::string read(const std::string& file) {
        const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes(1 << 16, '\0');
        DWORD got = 0;
        ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(h);
        bytes.resize(got);
        return bytes;
    }

    // Opens the file as fopen(path, "r") does: every sharing but delete.
    static HANDLE hold(const std::string& file) {
        return CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::string folder_;
};

TEST_F(HeldFileTest, ASettingWrittenWhileTheFileIsHeldLands) {
    write(path(kIni), "[System]\r\nComPort=1\r\n");
    const HANDLE holder = hold(path(kIni));
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ProfileStore store(makeWin32FileAccess(), path(kIni));
    EXPECT_TRUE(store.write("System", "ComPort", "12"));
    EXPECT_EQ(store.readInt("System", "ComPort", 0), 12);
    CloseHandle(holder);
    EXPECT_EQ(read(path(kIni)), "[System]\r\nComPort=12\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{kIni});
}

TEST_F(HeldFileTest, ReadOutOutputWrittenWhileTheFileIsHeldLands) {
    write(path(kHex), ":0400000001020304F2\r\n:00000001FF\r\n");
    const HANDLE holder = hold(path(kHex));
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files::replaceFile(path(kHex), ":00000001FF\r\n"), files::ReplaceResult::Ok);
    CloseHandle(holder);
    EXPECT_EQ(read(path(kHex)), ":00000001FF\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{kHex});
}

TEST_F(HeldFileTest, AFileHeldWithoutWriteSharingFailsTheWriteAndStaysAsItWas) {
    write(path(kHex), "old");
    const HANDLE holder = CreateFileA(path(kHex).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files::replaceFile(path(kHex), "new"), files::ReplaceResult::WriteFailed);
    CloseHandle(holder);
    EXPECT_EQ(read(path(kHex)), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{kHex});
}

// (Wine keeps no creation time of its own, so that is left to ReplaceFile on Windows.)
TEST_F(HeldFileTest, AReplacedFileKeepsItsAttributesAndLeavesNothingBeside) {
    write(path(kIni), "[S]\r\nk=1\r\n");
    SetFileAttributesA(path(kIni).c_str(), FILE_ATTRIBUTE_HIDDEN);
    ProfileStore store(makeWin32FileAccess(), path(kIni));
    EXPECT_TRUE(store.write("S", "k", "2"));
    EXPECT_TRUE(GetFileAttributesA(path(kIni).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(read(path(kIni)), "[S]\r\nk=2\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{kIni});
}

// A writer killed at any moment leaves the old file or the new one: no moment of a replace
// leaves the name without a file, which a watcher beside the writer would see.
TEST_F(HeldFileTest, TheFileIsThereAtEveryMomentOfAReplace) {
    constexpr int kReplaces = 300;
    write(path(kIni), "[S]\r\nk=0\r\n");
    std::atomic<bool> writing{true};
    std::atomic<int> missing{0};
    std::thread watcher([&] {
        while (writing) {
            if (GetFileAttributesA(path(kIni).c_str()) == INVALID_FILE_ATTRIBUTES) {
                ++missing;
            }
        }
    });
    for (int i = 0; i < kReplaces; ++i) {
        ASSERT_EQ(files::replaceFile(path(kIni), "[S]\r\nk=" + std::to_string(i) + "\r\n",
                                     files::Durability::WriterCrash),
                  files::ReplaceResult::Ok);
    }
    writing = false;
    watcher.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(entries(), std::vector<std::string>{kIni});
}

TEST_F(HeldFileTest, LeftoversOfAGoneWriterAreRemovedThoseOfARunningOneKept) {
    // Process ids are multiples of four; none reaches this one.
    const std::string gone = path(kIni) + ".4294967292-0.octo-tmp";
    const std::string running =
        path(kIni) + "." + std::to_string(GetCurrentProcessId()) + "-0.octo-tmp";
    for (const std::string& file : {path(kIni), gone, running}) {
        write(file, "[S]");
    }
    EXPECT_EQ(files::removeLeftoverTemporaries(path(kIni)), 1);
    const std::vector<std::string> kept = {kIni, running.substr(folder_.size())};
    EXPECT_EQ(entries(), kept);
}

} // namespace
} // namespace octo

// The shipped Windows binaries, read as Windows reads them: each has a complete version
// resource, the library's FileVersion is the 1.56 the program insists on, and the program's
// manifest asks for no elevation.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string besideThisTest(const char* name) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

// One string of the file's version resource (language 0x0409, code page 0x04B0); empty
// when the file or the value is missing.
std::string versionString(const std::string& file, const char* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data()))
        return {};
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
        length == 0)
        return {};
    return std::string(value);
}

struct Binary {
    const char* file;
    const char* description;
};

TEST(VersionResources, EveryShippedBinaryIsCompleteAndAt156) {
    const Binary binaries[] = {
        {"OCTO816.EXE", "ZEL816 FLASH Octo Programmer"},
        {"OCTO816.DLL", "ZEL-OCTO816 Programmer library"},
        {"octoimg.exe", "ZEL-OCTO816 object-file information and conversion"},
    };
    for (const Binary& b : binaries) {
        const std::string path = besideThisTest(b.file);
        SCOPED_TRACE(path);
        EXPECT_EQ(versionString(path, "FileVersion"), "1.56");
        EXPECT_EQ(versionString(path, "ProductVersion"), "1.56");
        EXPECT_EQ(versionString(path, "FileDescription"), b.description);
        EXPECT_EQ(versionString(path, "OriginalFilename"), b.file);
        EXPECT_EQ(versionString(path, "CompanyName"), "ZEL Programming Systems");
        EXPECT_EQ(versionString(path, "ProductName"), "ZEL-OCTO816 control software");
        EXPECT_NE(versionString(path, "LegalCopyright").find("Copyright"), std::string::npos);
    }
}

TEST(VersionResources, TheProgramRunsAsTheInvokingUser) {
    const std::string path = besideThisTest("OCTO816.EXE");
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << path;
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << "no application manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(program, found)));
    const std::string manifest(text, SizeofResource(program, found));
    FreeLibrary(program);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("supportedOS"), std::string::npos) << manifest;
}

} // namespace

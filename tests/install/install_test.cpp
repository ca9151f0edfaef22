// Installs the package quietly into a fresh Wine prefix, starts the installed program from
// its Start-menu shortcut against the simulated unit, changes a setting, upgrades to a newer
// package and checks the setting survived, then uninstalls and checks what is left.
#include "E2eTest.h"
#include "SimulatedUnit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr Millis kInstallTimeout{300000};
constexpr Millis kPackageTimeout{300000};
constexpr char kShortcutName[] = "ZEL-OCTO816 Octo Programmer.lnk";
constexpr char kProductName[] = "ZEL-OCTO816 control software";
constexpr char kUninstallKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// What a shell link holds for the program: its target and its working folder.
struct Shortcut {
    std::string target;
    std::string workingDirectory;
};

// Reads a shell link (.lnk): the local base path of its link information, and the working
// folder of its string data.
Shortcut readShortcut(const fs::path& path) {
    const std::string d = readWholeFile(path);
    auto u16 = [&](std::size_t at) {
        if (at + 2 > d.size())
            throw E2eError("shortcut " + path.string() + " is cut short");
        return std::size_t(std::uint8_t(d[at])) | std::size_t(std::uint8_t(d[at + 1])) << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    constexpr std::size_t kFlags = 0x14, kHeaderSize = 0x4C;
    constexpr std::size_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4,
                          kHasRelativePath = 0x8, kHasWorkingDir = 0x10, kUnicode = 0x80;
    constexpr std::size_t kLocalBasePathOffset = 16;
    const std::size_t flags = u32(kFlags);
    std::size_t at = kHeaderSize;
    if (flags & kHasIdList)
        at += 2 + u16(at);
    Shortcut link;
    if (flags & kHasLinkInfo) {
        const std::size_t base = at + u32(at + kLocalBasePathOffset);
        link.target = std::string(d.c_str() + std::min(base, d.size()));
        at += u32(at);
    }
    // The string data, each a count of characters and the characters.
    auto skipString = [&] { at += 2 + u16(at) * ((flags & kUnicode) ? 2 : 1); };
    if (flags & kHasName)
        skipString();
    if (flags & kHasRelativePath)
        skipString();
    if (flags & kHasWorkingDir) {
        const std::size_t count = u16(at);
        for (std::size_t i = 0; i < count; ++i)
            link.workingDirectory += char((flags & kUnicode) ? u16(at + 2 + 2 * i) : d[at + 2 + i]);
        // Some writers count the terminating zero and end a folder with a backslash.
        while (!link.workingDirectory.empty() &&
               (link.workingDirectory.back() == '\0' || link.workingDirectory.back() == '\\'))
            link.workingDirectory.pop_back();
    }
    return link;
}

// A path of drive C: as the Unix path inside the prefix.
fs::path onDriveC(const fs::path& prefix, std::string windowsPath) {
    if (windowsPath.rfind("C:\\", 0) != 0)
        throw E2eError("not on drive C: " + windowsPath);
    fs::path unix = prefix / "drive_c";
    std::string part;
    std::istringstream parts(windowsPath.substr(3));
    while (std::getline(parts, part, '\\'))
        unix /= part;
    return unix;
}

std::vector<fs::path> findFiles(const fs::path& root, const std::string& name) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().filename() == name)
            found.push_back(entry.path());
    return found;
}

std::set<std::string> filesUnder(const fs::path& root) {
    std::set<std::string> names;
    if (fs::exists(root))
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                names.insert(fs::relative(entry.path(), root).generic_string());
    return names;
}

class InstallPackage : public ::testing::Test {
protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/octo-install-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr) << std::strerror(errno);
        work_ = dirTemplate;
        prefix_ = work_ / "prefix";
        // A prefix of its own, made fresh by the session; the simulated unit goes on its COM1.
        setenv("OCTO_WINEPREFIX", prefix_.c_str(), 1);
        session_ = std::make_unique<Session>();
        // No desktop menu entries outside the prefix.
        session_->setEnv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d");
    }
    void TearDown() override {
        session_.reset();
        unsetenv("OCTO_WINEPREFIX");
        if (!HasFailure())
            fs::remove_all(work_);
        else
            std::cerr << "install test files kept in " << work_ << "\n";
    }

    // scripts/package with the given version, from the programs already built.
    fs::path makePackage(const std::string& version) {
        const fs::path out = work_ / ("package-" + version);
        Environment env = currentEnvironment();
        env["OCTO_WINDOWS_BIN_DIR"] = Paths::windowsBin().string();
        const int status = runToEnd({{(Paths::repository() / "scripts" / "package").string(),
                                      "--no-build", "--version", version, "--out", out.string()},
                                     Paths::repository(), env, work_ / "package.log"},
                                    kPackageTimeout);
        if (status != 0)
            throw E2eError("scripts/package failed:\n" + readWholeFile(work_ / "package.log"));
        return out / ("OCTO816-" + version + ".msi");
    }

    int wine(const std::vector<std::string>& args, const std::string& log) {
        std::vector<std::string> argv{"wine"};
        argv.insert(argv.end(), args.begin(), args.end());
        fs::remove(work_ / log); // the harness appends to a log
        return runToEnd({argv, work_, session_->wineEnvironment(), work_ / log}, kInstallTimeout);
    }
    void msiexec(const std::string& action, const fs::path& msi) {
        const std::string log = "msiexec-" + action.substr(1) + ".log";
        const fs::path details = work_ / ("msiexec-" + action.substr(1) + "-" +
                                          msi.stem().string() + ".txt");
        ASSERT_EQ(wine({"msiexec", action, windowsPath(msi), "/qn", "/l*v", windowsPath(details)},
                       log),
                  0)
            << readWholeFile(work_ / log) << "\nsee " << details;
    }
    // The product's entries under the uninstall key: their display versions.
    std::vector<std::string> uninstallEntries() {
        wine({"reg", "query", kUninstallKey, "/s"}, "reg.log");
        std::istringstream lines(readWholeFile(work_ / "reg.log"));
        std::vector<std::string> versions;
        std::string line;
        bool ours = false;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.rfind("HKEY_", 0) == 0)
                ours = false;
            if (line.find("DisplayName") != std::string::npos)
                ours = line.find(kProductName) != std::string::npos;
            const auto at = line.find("DisplayVersion");
            if (at != std::string::npos && ours)
                versions.push_back(line.substr(line.find_last_of(' ') + 1));
        }
        return versions;
    }
    fs::path shortcutPath() {
        const auto found = findFiles(prefix_ / "drive_c", kShortcutName);
        if (found.size() != 1)
            throw E2eError("expected one shortcut '" + std::string(kShortcutName) + "', found " +
                           std::to_string(found.size()));
        return found.front();
    }

    fs::path work_;
    fs::path prefix_;
    std::unique_ptr<Session> session_;
};

TEST_F(InstallPackage, InstallsUpgradesKeepingTheSettingsAndUninstalls) {
    const fs::path older = makePackage("1.56.900");
    const fs::path newer = makePackage("1.56.901");

    msiexec("/i", older);
    EXPECT_EQ(uninstallEntries(), std::vector<std::string>{"1.56.900"});
    const Shortcut link = readShortcut(shortcutPath());
    EXPECT_EQ(link.target, "C:\\ZEL\\OCTO816\\OCTO816.EXE");
    EXPECT_EQ(link.workingDirectory, "C:\\ZEL\\OCTO816");
    const fs::path folder = onDriveC(prefix_, link.workingDirectory);
    const std::set<std::string> installed = filesUnder(folder);
    for (const char* name : {"OCTO816.EXE", "OCTO816.DLL", "OCTO816.INI", "OCTO816-156.TXT",
                             "OCTO816-Guide.html", "samples/A110_blink.txt"})
        EXPECT_TRUE(installed.count(name)) << name << " is not installed";

    // The installed program, started from the shortcut's target, finds the unit on COM1.
    const fs::path ini = folder / kConfigIni;
    {
        SimulatedUnit unit(work_);
        session_->useProgramFolder(onDriveC(prefix_, link.target).parent_path());
        Window w = launchAndWaitForStartup(*session_, kStartTimeout);
        ASSERT_EQ(w.checkState(IDC_ERASE_INFO), 1);
        w.click(IDC_ERASE_INFO);
        ASSERT_EQ(eventually([&] { return w.checkState(IDC_ERASE_INFO); }, 0), 0);
        w.close();
        ASSERT_TRUE(session_->waitProgramExit(kExitTimeout).has_value());
    }
    const std::string changed = readWholeFile(ini);
    ASSERT_NE(changed.find("EraseInfo=0"), std::string::npos) << changed;

    // The upgrade replaces the product and keeps the operator's configuration as it was.
    msiexec("/i", newer);
    // Wine's msiexec returns before the removal of the older product it started has ended.
    EXPECT_EQ(uninstallEntries(), std::vector<std::string>{"1.56.901"});
    EXPECT_EQ(readWholeFile(ini), changed);
    EXPECT_EQ(filesUnder(folder), installed);
    {
        SimulatedUnit unit(work_);
        Window w = launchAndWaitForStartup(*session_, kStartTimeout);
        EXPECT_EQ(w.checkState(IDC_ERASE_INFO), 0);
        w.close();
        ASSERT_TRUE(session_->waitProgramExit(kExitTimeout).has_value());
    }

    // Uninstalling removes the product and its shortcut and leaves the changed configuration
    // (and the program's own report, had it written one) behind.
    msiexec("/x", newer);
    EXPECT_TRUE(uninstallEntries().empty());
    EXPECT_TRUE(findFiles(prefix_ / "drive_c", kShortcutName).empty());
    EXPECT_EQ(filesUnder(folder), std::set<std::string>{kConfigIni});
    EXPECT_EQ(readWholeFile(ini).find("EraseInfo=0") != std::string::npos, true);
}

} // namespace
} // namespace octo::e2e

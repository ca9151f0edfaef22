// One end-to-end session: its own Xvfb display, the test Wine prefix with a persistent
// server, a fresh program folder, the driver, and the program under test. Everything it
// starts it ends by PID when it is destroyed, and finally the prefix's server.
#ifndef OCTO_E2E_SESSION_H
#define OCTO_E2E_SESSION_H

#include "Driver.h"
#include "Process.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace octo::e2e {

// Where things are; from CMake, with environment overrides for local runs.
struct Paths {
    static std::filesystem::path repository();
    static std::filesystem::path windowsBin(); // OCTO_WINDOWS_BIN_DIR
    static std::filesystem::path winePrefix(); // OCTO_WINEPREFIX, else build/wine
    static std::filesystem::path artifacts();  // screenshots and logs of the e2e tests
};

// The program's file name and its window's title.
inline constexpr char kProgramExe[] = "OCTO816.EXE";
inline constexpr char kLibraryDll[] = "OCTO816.DLL";
inline constexpr char kConfigIni[] = "OCTO816.INI";
inline constexpr char kDriverExe[] = "octo_e2e_driver.exe";
inline constexpr char kMainTitle[] = "ZEL816 FLASH Octo Programmer";

// Deadlines for starting things under Wine on a busy machine.
inline constexpr Millis kStartTimeout{60000};
inline constexpr Millis kExitTimeout{20000};

// A Unix path as Wine's programs see it (drive Z:).
std::string windowsPath(const std::filesystem::path& path);

class Session {
public:
    // Starts the display, the prefix's server and the driver, and makes an empty program
    // folder. Throws E2eError with the reason when something is missing or fails.
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // Copies OCTO816.EXE, and OCTO816.DLL and dist/OCTO816.INI when they exist, into the
    // program folder. Throws when the Windows build has no OCTO816.EXE.
    void installProgram();
    // Copies another file of the Windows build output into the program folder.
    void installFromBuild(const std::string& fileName);

    // The folder the program runs in; a test may put files there before launch().
    const std::filesystem::path& programFolder() const { return programFolder_; }
    // Runs the program from another folder from now on (an installed copy, for example).
    void useProgramFolder(const std::filesystem::path& folder) { programFolder_ = folder; }
    // Variables added to the environment of the programs started from now on.
    void setEnv(const std::string& name, const std::string& value) { extraEnv_[name] = value; }
    // The environment Wine programs of this session get (display, prefix, debug channels).
    Environment wineEnvironment() const;

    // Starts `wine <exe>` in the program folder and waits for its window to be visible.
    Window launch(const std::string& exe = kProgramExe, const std::string& title = kMainTitle,
                  Millis timeout = kStartTimeout);
    // Waits for the save that ends the program's start-up command (the only write of
    // Busy=1); until then start-up holds the window's painting, which hides its controls
    // from anything that asks whether they are visible. False when it did not come.
    bool waitStartupEnd(Millis timeout = kStartTimeout);
    // The Unix process of the last launch: its exit status once it has ended.
    std::optional<int> waitProgramExit(Millis timeout);
    bool programRunning();
    void stopProgram();
    // Ends the program's Wine process at once (SIGKILL, as a crash or a power cut would)
    // and reaps it; true when it was still running.
    bool killProgram();

    Driver& driver() { return *driver_; }
    std::string display() const { return display_; }

    // Saves the whole screen as <artifacts>/<name>.png and returns the path.
    std::filesystem::path screenshot(const std::string& name);
    // The program's Wine output so far (for failure messages).
    std::string programLog() const;

    // Keep the temporary folder (program folder and logs) after the session.
    void keepFiles() { keep_ = true; }

private:
    void startDisplay();
    void startServer();
    void shutdown();

    std::filesystem::path tempDir_;
    std::filesystem::path programFolder_;
    std::filesystem::path prefix_;
    std::string display_;
    Environment extraEnv_;
    ChildProcess xvfb_;
    ChildProcess server_;
    ChildProcess program_;
    std::unique_ptr<Driver> driver_;
    bool keep_ = false;
};

} // namespace octo::e2e

#endif

#include "Session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace octo::e2e {

namespace fs = std::filesystem;

namespace {

constexpr Millis kDisplayTimeout{20000};
constexpr Millis kServerTimeout{20000};
constexpr Millis kPrefixTimeout{180000};
constexpr Millis kScreenshotTimeout{30000};
constexpr Millis kShutdownTimeout{15000};
constexpr Millis kStopGrace{3000};
constexpr Millis kPollStep{20};
// wait_window is asked in slices so that a program that ends early is noticed at once.
constexpr Millis kWindowSlice{1000};
constexpr char kScreenGeometry[] = "1024x768x24";
constexpr std::size_t kLogTail = 4000;

std::string fromEnv(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string tail(const std::string& text) {
    return text.size() <= kLogTail ? text : "..." + text.substr(text.size() - kLogTail);
}

// Where the prefix's server listens: <root>/server-<dev>-<inode>/socket. Upstream Wine's
// root is /tmp/.wine-<uid>; Debian's makes a private /tmp/wine-XXXXXX and records its name
// in the prefix's file "wineserver". Read afresh each time: the server writes it at start.
std::vector<fs::path> serverSockets(const fs::path& prefix) {
    struct stat st {};
    if (stat(prefix.c_str(), &st) != 0)
        throw E2eError("no Wine prefix at " + prefix.string());
    char leaf[96];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<fs::path> roots{"/tmp/.wine-" + std::to_string(getuid())};
    std::string recorded = readFile(prefix / "wineserver");
    while (!recorded.empty() && (recorded.back() == '\n' || recorded.back() == '\r'))
        recorded.pop_back();
    if (!recorded.empty()) {
        roots.push_back(fs::path("/tmp") / recorded);
        if (const char* tmp = std::getenv("TMPDIR"))
            roots.push_back(fs::path(tmp) / recorded);
    }
    std::vector<fs::path> sockets;
    for (const auto& root : roots)
        sockets.push_back(root / leaf / "socket");
    return sockets;
}

bool accepts(const fs::path& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

fs::path Paths::repository() {
    return fromEnv("OCTO_REPOSITORY_DIR", OCTO_REPOSITORY_DIR);
}

fs::path Paths::windowsBin() {
    return fromEnv("OCTO_WINDOWS_BIN_DIR", OCTO_WINDOWS_BIN_DIR);
}

fs::path Paths::winePrefix() {
    return fromEnv("OCTO_WINEPREFIX", (repository() / "build" / "wine").string());
}

fs::path Paths::artifacts() {
    return fromEnv("OCTO_E2E_ARTIFACT_DIR", OCTO_E2E_ARTIFACT_DIR);
}

std::string windowsPath(const fs::path& path) {
    std::string out = "Z:";
    for (char c : fs::absolute(path).string())
        out += c == '/' ? '\\' : c;
    return out;
}

Session::Session() {
    try {
        becomeSubreaper();
        const fs::path driverExe = Paths::windowsBin() / kDriverExe;
        if (!fs::exists(driverExe))
            throw E2eError("The Windows build output is missing: " + driverExe.string() +
                           " does not exist. Build it first: cmake --preset windows && "
                           "cmake --build --preset windows");
        prefix_ = Paths::winePrefix();
        if (!fs::exists(prefix_ / ".octo816-ready")) {
            Environment env = currentEnvironment();
            env["OCTO_WINEPREFIX"] = prefix_.string();
            env.erase("DISPLAY");
            if (runToEnd({{(Paths::repository() / "scripts" / "wineprefix").string()}, {}, env, {}},
                         kPrefixTimeout) != 0)
                throw E2eError("scripts/wineprefix failed to make " + prefix_.string());
        }
        char dirTemplate[] = "/tmp/octo-e2e-XXXXXX";
        if (!mkdtemp(dirTemplate))
            throw E2eError(std::string("mkdtemp: ") + std::strerror(errno));
        tempDir_ = dirTemplate;
        programFolder_ = tempDir_ / "program";
        fs::create_directories(programFolder_);

        startDisplay();
        startServer();
        ProcessOptions driver{{"wine", driverExe.string()},
                              tempDir_,
                              wineEnvironment(),
                              tempDir_ / "driver.log",
                              true};
        driver_ = std::make_unique<Driver>(ChildProcess(driver), kStartTimeout);
        // Xvfb starts with the pointer in the middle of the screen, where the program's
        // window is: a tool tip would cover controls whose pixels the tests read.
        driver_->call("cursor 0 0");
    } catch (...) {
        shutdown();
        throw;
    }
}

Session::~Session() {
    shutdown();
}

void Session::startDisplay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw E2eError(std::string("pipe: ") + std::strerror(errno));
    // Xvfb picks a free display number itself and writes it to the given descriptor.
    ProcessOptions options{{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                            kScreenGeometry, "-nolisten", "tcp"},
                           {},
                           currentEnvironment(),
                           tempDir_ / "xvfb.log"};
    options.extraFd = fds[1];
    try {
        xvfb_ = ChildProcess(options);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + kDisplayTimeout;
    while (number.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char chunk[32];
        const ssize_t got = read(fds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        number.append(chunk, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos)
        throw E2eError("Xvfb did not start: " + tail(readFile(tempDir_ / "xvfb.log")));
    number.pop_back();
    display_ = ":" + number;
}

void Session::startServer() {
    // A server left by an earlier run may still serve the prefix on a display that is gone.
    // The prefix is this test's alone (ctest resource lock "wineprefix").
    runToEnd({{"wineserver", "-k"}, {}, wineEnvironment(), tempDir_ / "wineserver.log"},
             kShutdownTimeout);
    server_ = ChildProcess(ProcessOptions{
        {"wineserver", "-f", "-p"}, {}, wineEnvironment(), tempDir_ / "wineserver.log"});
    const auto deadline = std::chrono::steady_clock::now() + kServerTimeout;
    const auto listening = [&] {
        for (const auto& socketPath : serverSockets(prefix_))
            if (accepts(socketPath))
                return true;
        return false;
    };
    while (!listening()) {
        if (auto status = server_.poll())
            throw E2eError("wineserver ended with status " + std::to_string(*status) + ": " +
                           tail(readFile(tempDir_ / "wineserver.log")));
        if (std::chrono::steady_clock::now() >= deadline)
            throw E2eError("wineserver did not start listening for prefix " + prefix_.string());
        std::this_thread::sleep_for(kPollStep);
    }
}

Environment Session::wineEnvironment() const {
    Environment env = currentEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env["DISPLAY"] = display_;
    env["WINEPREFIX"] = prefix_.string();
    env["WINEARCH"] = "win32";
    // Not -all: that would hide the loader's "missing DLL" errors too.
    env["WINEDEBUG"] = "fixme-all";
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
    for (const auto& [name, value] : extraEnv_)
        env[name] = value;
    return env;
}

void Session::installFromBuild(const std::string& fileName) {
    const fs::path source = Paths::windowsBin() / fileName;
    if (!fs::exists(source))
        throw E2eError("The Windows build output is missing: " + source.string() +
                       " does not exist. Build it first: cmake --preset windows && "
                       "cmake --build --preset windows");
    fs::copy_file(source, programFolder_ / fileName, fs::copy_options::overwrite_existing);
}

void Session::installProgram() {
    installFromBuild(kProgramExe);
    if (fs::exists(Paths::windowsBin() / kLibraryDll))
        installFromBuild(kLibraryDll);
    const fs::path ini = Paths::repository() / "dist" / kConfigIni;
    if (fs::exists(ini))
        fs::copy_file(ini, programFolder_ / kConfigIni, fs::copy_options::overwrite_existing);
}

Window Session::launch(const std::string& exe, const std::string& title, Millis timeout) {
    if (!fs::exists(programFolder_ / exe))
        throw E2eError(exe + " is not in the program folder " + programFolder_.string());
    program_.stop(kStopGrace);
    program_ = ChildProcess(
        ProcessOptions{{"wine", exe}, programFolder_, wineEnvironment(), tempDir_ / "program.log"});
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        try {
            return waitWindow(*driver_, title, kWindowSlice);
        } catch (const E2eError&) {
            if (auto status = program_.poll())
                throw E2eError(exe + " ended with status " + std::to_string(*status) +
                               " before its window '" + title + "' showed. Wine said:\n" +
                               programLog());
            if (std::chrono::steady_clock::now() >= deadline)
                throw E2eError("no window '" + title + "' within " +
                               std::to_string(timeout.count()) + " ms. Wine said:\n" +
                               programLog());
        }
    }
}

bool Session::waitStartupEnd(Millis timeout) {
    const fs::path ini = programFolder_ / kConfigIni;
    return waitUntil(timeout, [&] {
        std::ifstream in(ini, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        return text.find("\nBusy=1\r\n") != std::string::npos;
    });
}

std::optional<int> Session::waitProgramExit(Millis timeout) {
    return program_.waitExit(timeout);
}

bool Session::programRunning() {
    return program_.running();
}

void Session::stopProgram() {
    program_.stop(kStopGrace);
}

bool Session::killProgram() {
    // `wine` execs the loader, which runs the program in the same process: its PID is
    // the one started.
    const bool running = program_.running();
    if (running)
        kill(program_.pid(), SIGKILL);
    if (!program_.waitExit(kShutdownTimeout))
        throw E2eError("the program's process did not end after SIGKILL");
    return running;
}

fs::path Session::screenshot(const std::string& name) {
    fs::create_directories(Paths::artifacts());
    const fs::path file = Paths::artifacts() / (name + ".png");
    const int status = runToEnd({{"import", "-display", display_, "-window", "root", file.string()},
                                 {},
                                 currentEnvironment(),
                                 tempDir_ / "import.log"},
                                kScreenshotTimeout);
    if (status != 0 || !fs::exists(file))
        throw E2eError("import failed: " + tail(readFile(tempDir_ / "import.log")));
    return file;
}

std::string Session::programLog() const {
    return tail(readFile(tempDir_ / "program.log"));
}

void Session::shutdown() {
    try {
        driver_.reset();
        program_.stop(kStopGrace);
        if (server_.started()) {
            try {
                runToEnd({{"wineserver", "-k"}, {}, wineEnvironment(), tempDir_ / "wineserver.log"},
                         kShutdownTimeout);
            } catch (const E2eError&) {
            }
            if (!server_.waitExit(kShutdownTimeout))
                server_.stop(kStopGrace);
        }
        // Wine's own service processes were adopted by this process: reap them, and end by
        // PID any that outlived their server.
        const std::vector<pid_t> tracked{xvfb_.pid()};
        const auto deadline = std::chrono::steady_clock::now() + kShutdownTimeout;
        while (true) {
            reapOrphans(tracked);
            std::vector<pid_t> living;
            for (pid_t pid : livingChildren())
                if (pid != xvfb_.pid())
                    living.push_back(pid);
            if (living.empty())
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                for (pid_t pid : living)
                    kill(pid, SIGKILL);
                std::this_thread::sleep_for(Millis{100});
                reapOrphans(tracked);
                break;
            }
            std::this_thread::sleep_for(kPollStep);
        }
        xvfb_.stop(kStopGrace);
        if (!tempDir_.empty() && !keep_ && std::getenv("OCTO_E2E_KEEP") == nullptr) {
            std::error_code ignored;
            fs::remove_all(tempDir_, ignored);
        }
    } catch (...) {
        // A destructor must not throw; what could not be ended shows in pgrep.
    }
}

} // namespace octo::e2e

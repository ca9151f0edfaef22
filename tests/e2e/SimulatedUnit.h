// What the e2e programs that run the window against the simulated unit share: the unit on
// COM1 with its state file, event log and target dumps; the configuration file of the
// program folder; the end of start-up; and the lamps read by the pictures on the screen.
#ifndef OCTO_E2E_SIMULATED_UNIT_H
#define OCTO_E2E_SIMULATED_UNIT_H

#include "harness/Session.h"

#include "resource.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace octo::e2e {

// Deadlines for a loaded 2-core machine: one answer or box, one load, run or command, a
// whole series.
inline constexpr Millis kAnswerTimeout{30000};
inline constexpr Millis kOperationTimeout{90000};
inline constexpr Millis kSeriesTimeout{180000};
inline constexpr Millis kUnitStartTimeout{10000};
inline constexpr Millis kUnitStopGrace{2000};
inline constexpr char kConnectedText[] = "ZEL-OCTO816 Octo Programmer connected.";

// ---- the simulated unit -------------------------------------------------------------------
// Started on the link the prefix maps COM1 to, before the program; ended by PID after it.
// OCTO_UNITSIM names another build of the simulator than this build's.

inline std::filesystem::path simulatorExecutable() {
    if (const char* path = std::getenv("OCTO_UNITSIM"))
        return path;
    return OCTO_UNITSIM_PATH;
}

inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One line of the unit's event log: when (ms since the unit started) and what.
struct UnitEvent {
    double ms = 0;
    std::string kind;    // "request" or "answer"
    std::string command; // the protocol's name, e.g. "MainProcess"
    std::string run;     // a main process's answer: its result bytes 0..7 in hex
};

class SimulatedUnit {
public:
    // `settings` are scenario keys ("target.4.present=no"), given with --set after the
    // scenario file when there is one.
    explicit SimulatedUnit(const std::filesystem::path& folder,
                           const std::vector<std::string>& settings = {},
                           const std::filesystem::path& scenario = {})
        : link_(Paths::winePrefix() / "com1"), state_(folder / "unit.state"),
          events_(folder / "unit.events"), chipLog_(folder / "unit.chips") {
        std::filesystem::remove(state_);
        std::vector<std::string> argv{simulatorExecutable().string(),
                                      "--link",
                                      link_.string(),
                                      "--state",
                                      state_.string(),
                                      "--events",
                                      events_.string(),
                                      "--chip-log",
                                      chipLog_.string()};
        if (!scenario.empty()) {
            argv.insert(argv.end(), {"--scenario", scenario.string()});
        }
        for (const std::string& s : settings) {
            argv.insert(argv.end(), {"--set", s});
        }
        process_ =
            ChildProcess(ProcessOptions{argv, folder, currentEnvironment(), folder / "unit.log"});
        if (!waitUntil(kUnitStartTimeout, [&] { return state("link.state") == "plugged"; }))
            throw E2eError("the simulated unit did not open its line; see " +
                           (folder / "unit.log").string());
    }
    ~SimulatedUnit() { process_.stop(kUnitStopGrace); }
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // SIGUSR1 unplugs the line (or plugs it back), SIGUSR2 cycles the unit's power.
    void signal(int number) const { ::kill(process_.pid(), number); }

    // One value of the state file ("key = value" lines); empty when the key is missing.
    std::string state(const std::string& key) const {
        std::istringstream file(readWholeFile(state_));
        std::string line;
        const std::string prefix = key + " = ";
        while (std::getline(file, line))
            if (line.rfind(prefix, 0) == 0)
                return line.substr(prefix.size());
        return {};
    }
    long long number(const std::string& key) const {
        const std::string value = state(key);
        return value.empty() ? -1 : std::stoll(value, nullptr, 0);
    }

    // Socket n's whole memory (from 1) and slot n's image (from 0), as QX-Text.
    std::filesystem::path targetDump(int n) const {
        return state_.string() + ".target" + std::to_string(n) + ".txt";
    }
    std::filesystem::path slotDump(int n) const {
        return state_.string() + ".slot" + std::to_string(n) + ".txt";
    }

    // One line per target record the unit wrote: "run=1 socket=3 address=0x1000 data=...
    // verified=1".
    std::filesystem::path chipLog() const { return chipLog_; }

    // The event log so far.
    std::vector<UnitEvent> events() const {
        std::vector<UnitEvent> list;
        std::istringstream file(readWholeFile(events_));
        std::string line;
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            UnitEvent e;
            std::string word;
            fields >> e.ms >> e.kind >> e.command >> word;
            if (word == "run") {
                std::getline(fields >> std::ws, e.run);
            }
            list.push_back(e);
        }
        return list;
    }

private:
    std::filesystem::path link_;
    std::filesystem::path state_;
    std::filesystem::path events_;
    std::filesystem::path chipLog_;
    ChildProcess process_;
};

// The text of one string of the program's table, as the window shows it.
inline std::string programString(int id) {
    switch (id) {
#define OCTO_STRING(name, number, text)                                                            \
    case number:                                                                                   \
        return text;
#include "strings.def"
#undef OCTO_STRING
    default:
        throw E2eError("no string " + std::to_string(id));
    }
}

// ---- the configuration file of the program folder ------------------------------------------

// Replaces the value of a key of one section of the configuration file; the key must be
// there already (the shipped file has every key the tests change).
inline void setIniKey(const std::filesystem::path& ini, const std::string& section,
                      const std::string& key, const std::string& value) {
    std::istringstream in(readWholeFile(ini));
    std::stringstream out;
    std::string line;
    bool inSection = false;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            inSection = line == "[" + section + "]";
        if (inSection && line.rfind(key + "=", 0) == 0) {
            line = key + "=" + value;
            replaced = true;
        }
        out << line << "\r\n";
    }
    if (!replaced)
        throw E2eError("no key " + key + " in [" + section + "] of " + ini.string());
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << out.str();
}

// Adds a key the shipped file does not have, first in its section.
inline void addIniKey(const std::filesystem::path& ini, const std::string& section,
                      const std::string& key, const std::string& value) {
    std::string text = readWholeFile(ini);
    const std::string head = "[" + section + "]\r\n";
    const std::size_t at = text.find(head);
    if (at == std::string::npos)
        throw E2eError("no section [" + section + "] in " + ini.string());
    text.insert(at + head.size(), key + "=" + value + "\r\n");
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
}

inline void setSystemKey(const std::filesystem::path& ini, const std::string& key,
                         const std::string& value) {
    setIniKey(ini, "System", key, value);
}

// Starts the program and waits for the end of its start-up command. The status line says
// "connected" before start-up is over (the firmware check says it first); only the save
// that ends start-up writes Busy=1. A click before that would be handled inside one of
// start-up's library calls, which pump the window's messages.
inline Window launchAndWaitForStartup(Session& session, Millis timeout) {
    Window w = session.launch();
    const std::string connected = kConnectedText;
    if (eventually([&] { return w.text(IDC_STATUS_LINE); }, connected, timeout) != connected)
        throw E2eError("the program did not connect: " + session.programLog());
    if (!session.waitStartupEnd(timeout))
        throw E2eError("the program did not end its start-up: " + session.programLog());
    return w;
}

// ---- the lamps ----------------------------------------------------------------------------

// The pictures a lamp of the result grid can show, by the bitmap that shows them.
enum class Lamp { Grey, Off, On, Failed, Passed, Unknown };

inline const char* lampName(Lamp lamp) {
    switch (lamp) {
    case Lamp::Grey:
        return "grey";
    case Lamp::Off:
        return "white";
    case Lamp::On:
        return "white with a tick";
    case Lamp::Failed:
        return "red";
    case Lamp::Passed:
        return "green with a tick";
    case Lamp::Unknown:
        break;
    }
    return "none of the lamp pictures";
}

inline void PrintTo(Lamp lamp, std::ostream* os) {
    *os << lampName(lamp);
}

// One of the program's 24-bit lamp bitmaps as the screen shows it.
inline Picture lampBitmap(const std::string& fileName) {
    constexpr std::size_t kPixelOffsetField = 10;
    constexpr std::size_t kWidthField = 18;
    constexpr int kBytesPerPixel = 3;
    constexpr int kRowAlignment = 4;
    const std::string bytes =
        readWholeFile(Paths::repository() / "program" / "resources" / fileName);
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
        return v;
    };
    const std::uint32_t offset = u32(kPixelOffsetField);
    Picture p;
    p.width = static_cast<int>(u32(kWidthField));
    p.height = static_cast<int>(u32(kWidthField + 4));
    const int stride =
        (p.width * kBytesPerPixel + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    // The file's rows run from the bottom up.
    for (int y = p.height - 1; y >= 0; --y)
        for (int x = 0; x < p.width; ++x) {
            const std::size_t at = offset + static_cast<std::size_t>(y) * stride +
                                   static_cast<std::size_t>(x) * kBytesPerPixel;
            p.pixels.push_back(
                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + 2)) << 16 |
                                           static_cast<unsigned char>(bytes.at(at + 1)) << 8 |
                                           static_cast<unsigned char>(bytes.at(at))));
        }
    return p;
}

// Which picture lamp `id` shows on the screen: the bitmap found whole, pixel for pixel,
// under the control (a tick sits off the centre, so one pixel cannot tell it).
inline Lamp readLamp(const Window& w, int id) {
    static const std::vector<std::pair<Lamp, Picture>> kPictures = {
        {Lamp::Grey, lampBitmap("lamp_grey.bmp")},
        {Lamp::Off, lampBitmap("lamp_white.bmp")},
        {Lamp::On, lampBitmap("lamp_white_tick.bmp")},
        {Lamp::Failed, lampBitmap("lamp_red.bmp")},
        {Lamp::Passed, lampBitmap("lamp_green_tick.bmp")},
    };
    const Picture screen = w.grab(id);
    for (const auto& [lamp, picture] : kPictures)
        if (screen.contains(picture))
            return lamp;
    return Lamp::Unknown;
}

// The rows of the result grid.
inline constexpr int kGridRows = 5;
inline constexpr int kEraseCheckedRow = 1;
inline constexpr int kVerifiedRow = 2;
inline constexpr int kSecuredRow = 3;
inline constexpr int kOverAllRow = 4;

// The lamp of grid row r (0 "Connected" .. 4 " Over All") and target t (0..7).
inline int lampId(int row, int target) {
    constexpr int kTargets = 8;
    return IDC_RESULT_FIRST + kTargets * row + target;
}

} // namespace octo::e2e

#endif

// Takes the pictures of the operator's guide from the real OCTO816.EXE under Wine, driven
// against the simulated unit as an operator would drive it: the window without a unit, the
// firmware offer of an old unit, and then one working session (load, a run on the eight
// sockets of every kind, the small dialogs, a series, the warnings). Each picture is the
// screen cropped to the window, dialog or group it shows, written as a palette PNG.
//
//   octo_screenshots <folder>     writes <folder>/<name>.png; ends with status 1 and the
//                                 name of the picture it could not make.
#include "EightSockets.h"
#include "SimulatedUnit.h"

#include "resources/StringIds.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr Millis kConvertTimeout{30000};
constexpr Millis kActionWait{1000};
// A picture counts once two screens in a row agree; a box still painting differs.
constexpr int kSettleAttempts = 20;
constexpr Millis kSettlePause{300};

// Runs slow enough (about 4 s each) to be photographed while the unit works.
constexpr char kVisibleRuns[] = "time_scale=2";
constexpr int kSeriesRuns = 2;
// A unit with the firmware before the required one.
constexpr char kOldFirmware[] = "firmware_version=0x0155";
constexpr char kOldFirmwareName[] = "firmware_name=OCTO816-155";

// The samples are shown from the folder the package installs to, as the operator has them.
constexpr char kInstallFolder[] = "C:\\ZEL\\OCTO816\\samples\\";
constexpr char kSample[] = "A110_blink.txt";
constexpr char kBrokenSample[] = "broken_checksum.hex";
constexpr char kOtherType[] = "ZEL816 A112";
constexpr char kType[] = "ZEL816 A110";
constexpr int kLowVoltageRow = 7; // " 2.5 V", below the A110's Vpp of 2.7 V

constexpr int kReadOutRow = 2;
constexpr int kSignalsRow = 4;
// The frame around the column a lamp picture is about, and the pictures' palette.
constexpr int kMarkPadding = 3;
constexpr char kMarkColour[] = "#0050FF";
constexpr char kMarkWidth[] = "2";
constexpr char kPaletteColours[] = "256";
constexpr int kLookInList = 0x471; // of the common file dialog
constexpr char kSamplesFolder[] = "samples";

constexpr char kSeeResults[] = "Result of the Operation: See Result Section.";
constexpr char kSeriesEnded[] = "Continual Main Process terminated.";
constexpr char kStopCaption[] = "&Stop";
constexpr char kNotConnected[] = "n. c.";

// The lamp picture of each socket of the scenario, by the name the guide uses.
constexpr std::array<const char*, 7> kSocketPictures = {
    "lamps-passed",  "lamps-verify-failed", "lamps-erase-failed",      "lamps-no-answer",
    "lamps-secured", "lamps-empty-socket",  "lamps-erase-check-failed"};

// What a picture shows: the part of the screen, and a part of it to frame. A scene that
// moves (a run at work) never shows two equal screens: it is taken once, and `still` must
// hold afterwards, so the picture shows what it is named for.
struct Shot {
    explicit Shot(Rect a) : area(a) {}
    Shot(Rect a, Rect m) : area(a), mark(m) {}
    Shot(Rect a, std::function<bool()> s) : area(a), still(std::move(s)) {}
    Rect area;
    std::optional<Rect> mark;
    std::function<bool()> still;
};

Rect padded(Rect r, int by) {
    return {r.left - by, r.top - by, r.right + by, r.bottom + by};
}

Rect joined(const Rect& a, const Rect& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// A control without an id, found by its class and text (group boxes, labels).
Rect childRect(const Window& w, const std::string& className, const std::string& text) {
    for (const Child& c : w.children())
        if (c.className == className && c.text == text)
            return c.rect;
    throw E2eError("no " + className + " '" + text + "' in the window");
}

Rect group(const Window& w, const std::string& caption) {
    return childRect(w, "Button", caption);
}

bool startupEnded(Session& s) {
    return readWholeFile(s.programFolder() / kConfigIni).find("\nBusy=1\r\n") != std::string::npos;
}

void waitFor(const std::string& what, Millis timeout, const std::function<bool()>& done) {
    if (!waitUntil(timeout, done))
        throw E2eError("waited in vain for " + what);
}

void waitStatus(const Window& w, const std::string& text, Millis timeout) {
    const std::string shown = eventually([&] { return w.text(IDC_STATUS_LINE); }, text, timeout);
    if (shown != text)
        throw E2eError("the status line shows '" + shown + "', not '" + text + "'");
}

class Camera {
public:
    Camera(Session& session, fs::path folder) : session_(session), folder_(std::move(folder)) {
        fs::create_directories(folder_);
    }

    // Does what leads to the picture, then crops the screen to what `prepare` returns;
    // any failure on the way is reported with the picture's name.
    void take(const std::string& name, const std::function<Shot()>& prepare) {
        named(name, [&] { crop(name, prepare()); });
    }
    // Another part of the screen of the last picture, which nothing has changed since.
    void takeAgain(const std::string& name, const std::function<Shot()>& prepare) {
        named(name, [&] { cropScreen(lastScreen_, prepare(), folder_ / (name + ".png")); });
    }

private:
    template <typename Make>
    void named(const std::string& name, Make make) {
        try {
            make();
        } catch (const std::exception& e) {
            throw E2eError("cannot make " + name + ".png: " + e.what());
        }
    }

    // A window or box that has just opened may still be painting: the picture is taken
    // again until one comes out the same as an earlier one. Not only the one before: a
    // blinking caret makes the screen alternate, and on a loaded machine two pictures in a
    // row can fall into different phases of the blink every time.
    void crop(const std::string& name, const Shot& shot) {
        const fs::path out = folder_ / (name + ".png");
        fs::remove(out);
        if (shot.still) {
            lastScreen_ = session_.screenshot("guide-" + name);
            if (!shot.still())
                throw E2eError("the scene ended before the screen was taken");
            cropScreen(lastScreen_, shot, out);
            return;
        }
        std::vector<std::string> earlier;
        for (int attempt = 0; attempt < kSettleAttempts; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(kSettlePause);
            lastScreen_ = session_.screenshot("guide-" + name);
            cropScreen(lastScreen_, shot, out);
            std::string picture = readWholeFile(out);
            if (std::find(earlier.begin(), earlier.end(), picture) != earlier.end())
                return;
            earlier.push_back(std::move(picture));
        }
        fs::remove(out);
        throw E2eError("the screen did not settle");
    }

    void cropScreen(const fs::path& screen, const Shot& shot, const fs::path& out) {
        const Rect& a = shot.area;
        std::vector<std::string> argv{"convert", screen.string(), "-crop",
                                      std::to_string(a.width()) + "x" + std::to_string(a.height()) +
                                          "+" + std::to_string(a.left) + "+" +
                                          std::to_string(a.top),
                                      "+repage"};
        if (shot.mark) {
            const Rect m = *shot.mark;
            argv.insert(
                argv.end(),
                {"-fill", "none", "-stroke", kMarkColour, "-strokewidth", kMarkWidth, "-draw",
                 "rectangle " + std::to_string(m.left - a.left) + "," +
                     std::to_string(m.top - a.top) + " " + std::to_string(m.right - a.left) + "," +
                     std::to_string(m.bottom - a.top)});
        }
        // No dither and no time stamps: the same screen gives the same file.
        argv.insert(argv.end(),
                    {"+dither", "-colors", kPaletteColours, "-strip", "PNG8:" + out.string()});
        const fs::path log = folder_ / "convert.log";
        const int status = runToEnd({argv, {}, currentEnvironment(), log}, kConvertTimeout);
        if (status != 0 || !fs::exists(out))
            throw E2eError("convert failed: " + readWholeFile(log));
        fs::remove(log);
    }

    Session& session_;
    fs::path folder_;
    fs::path lastScreen_;
};

// ---- without a unit, and with an old one ---------------------------------------------------

void withoutUnit(Session& s, Camera& camera) {
    s.installProgram();
    camera.take("main-not-connected", [&] {
        Window w = s.launch();
        waitFor("the end of start-up", kOperationTimeout, [&] { return startupEnded(s); });
        return Shot{w.rect()};
    });
    s.stopProgram();
}

void oldFirmware(Session& s, Camera& camera) {
    s.installProgram();
    SimulatedUnit unit(s.programFolder(), {kOldFirmware, kOldFirmwareName});
    std::optional<Window> box;
    camera.take("firmware-offer", [&] {
        box = s.launch().waitPopup(kAnswerTimeout);
        return Shot{box->rect()};
    });
    box->press(kIdNo);
    box->waitGone(kAnswerTimeout);
    s.stopProgram();
}

// ---- one working session ---------------------------------------------------------------

class Bench {
public:
    Bench(Session& s, Camera& camera) : s_(s), camera_(camera) {}

    void run() {
        s_.installProgram();
        installSamples();
        const fs::path scenario = s_.programFolder() / "eight_sockets.txt";
        std::ofstream(scenario) << kEightSockets;
        setIniKey(ini(), "User", "CreateLogFile", "1");
        SimulatedUnit unit(s_.programFolder(), {kVisibleRuns}, scenario);
        unit_ = &unit;
        camera_.take("main-connected", [&] {
            w_ = launchAndWaitForStartup(s_, kOperationTimeout);
            return Shot{w().rect()};
        });
        camera_.take("status-connected", [&] { return Shot{group(w(), "Status")}; });
        loadAndRun();
        dialogs();
        series();
        warnings();
        s_.stopProgram();
        unit_ = nullptr;
    }

private:
    Window& w() { return *w_; }
    fs::path ini() { return s_.programFolder() / kConfigIni; }
    std::string samplePath(const std::string& name) { return kInstallFolder + name; }

    // The shipped samples in the install folder of the test prefix's drive C:.
    void installSamples() {
        const fs::path folder = Paths::winePrefix() / "drive_c" / "ZEL" / "OCTO816" / "samples";
        fs::create_directories(folder);
        for (const auto& file : fs::directory_iterator(Paths::repository() / "dist" / "samples"))
            fs::copy_file(file.path(), folder / file.path().filename(),
                          fs::copy_options::overwrite_existing);
    }

    void loadAndRun() {
        std::optional<Window> dialog;
        camera_.take("load-dialog", [&] {
            w().setText(IDC_IMAGE2_FILE, "");
            w().click(IDC_BROWSE_IMAGE);
            dialog = w().waitPopup(kAnswerTimeout);
            // The folder first, as an operator goes there, then the file in it.
            dialog->fileName(kInstallFolder);
            dialog->press(kIdOk);
            waitFor("the samples folder", kAnswerTimeout,
                    [&] { return dialog->comboSelection(kLookInList).text == kSamplesFolder; });
            dialog->fileName(kSample);
            return Shot{dialog->rect()};
        });
        camera_.take("status-loaded", [&] {
            dialog->press(kIdOk);
            dialog->waitGone(kAnswerTimeout);
            if (w().click(IDC_LOAD_IMAGES, kOperationTimeout) != Outcome::Done)
                throw E2eError("Load Image(s) did not end");
            if (w().text(IDC_STATUS_LINE).rfind("Image loaded:", 0) != 0)
                throw E2eError("the load failed: " + w().text(IDC_STATUS_LINE));
            return Shot{group(w(), "Status")};
        });
        camera_.take("run-in-progress", [&] {
            w().click(IDC_START, kActionWait);
            waitFor("a run at work", kOperationTimeout, [&] {
                return unit_->state("unit.working") == "yes" &&
                       w().progress(IDC_PROGRESS).position > 0;
            });
            return Shot{w().rect(), [&] { return unit_->state("unit.working") == "yes"; }};
        });
        camera_.take("results", [&] {
            waitStatus(w(), kSeeResults, kOperationTimeout);
            waitFor("Start enabled", kOperationTimeout, [&] { return w().enabled(IDC_START); });
            return Shot{group(w(), "Result")};
        });
        for (int t = 0; t < static_cast<int>(kSocketPictures.size()); ++t)
            camera_.takeAgain(kSocketPictures[t], [&] {
                // The picture is only what its name says when the socket did what it was made for.
                const std::string last = unit_->state("target." + std::to_string(t + 1) + ".last");
                if (last.find(kOutcomes[t]) == std::string::npos)
                    throw E2eError("socket " + std::to_string(t + 1) + " reports '" + last + "'");
                const Rect head = childRect(w(), "Static", std::to_string(t + 1));
                const Rect column = joined(head, w().rect(lampId(kOverAllRow, t)));
                return Shot{group(w(), "Result"), padded(column, kMarkPadding)};
            });
    }

    void dialogs() {
        std::optional<Window> box;
        camera_.take("about", [&] {
            w().sysCommand(IDM_ABOUTBOX);
            box = w().waitPopup(kAnswerTimeout);
            waitFor("the unit's versions", kAnswerTimeout,
                    [&] { return box->text(IDC_ABOUT_FIRMWARE_VERSION) != kNotConnected; });
            return Shot{box->rect()};
        });
        box->click(IDC_DIALOG_OK);
        box->waitGone(kAnswerTimeout);

        camera_.take("read-out", [&] {
            box = execute(kReadOutRow);
            return Shot{box->rect()};
        });
        box->click(IDC_DIALOG_CANCEL);
        box->waitGone(kAnswerTimeout);

        camera_.take("signals", [&] {
            box = execute(kSignalsRow);
            return Shot{box->rect()};
        });
        box->click(IDC_SIGNAL_EXIT);
        box->waitGone(kAnswerTimeout);
    }

    Window execute(int row) {
        w().select(IDC_CATEGORY, row);
        w().click(IDC_EXECUTE);
        return w().waitPopup(kAnswerTimeout);
    }

    // A key's value in the program's configuration file, "" when it has none.
    std::string iniValue(const std::string& section, const std::string& key) {
        std::istringstream file(readWholeFile(ini()));
        bool inSection = false;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line.front() == '[')
                inSection = line == "[" + section + "]";
            else if (inSection && line.rfind(key + "=", 0) == 0)
                return line.substr(key.size() + 1);
        }
        return "";
    }

    // How many main processes the unit was asked for since the event `since`.
    std::size_t mainProcessesSince(std::size_t since) const {
        const auto events = unit_->events();
        return std::count_if(
            events.begin() + static_cast<std::ptrdiff_t>(std::min(since, events.size())),
            events.end(),
            [](const UnitEvent& e) { return e.kind == "request" && e.command == "MainProcess"; });
    }

    void series() {
        const std::size_t before = unit_->events().size();
        camera_.take("series-running", [&] {
            setIniKey(ini(), "User", "RepeatOctoprog", std::to_string(kSeriesRuns));
            w().click(IDC_START, kActionWait);
            waitFor("a series at work", kOperationTimeout, [&] {
                return w().text(IDC_START) == kStopCaption && unit_->state("unit.working") == "yes";
            });
            return Shot{w().rect(), [&] { return unit_->state("unit.working") == "yes"; }};
        });
        camera_.take("status-series-ended", [&] {
            try {
                waitStatus(w(), kSeriesEnded, kSeriesTimeout);
            } catch (const E2eError& e) {
                // What tells a series that never ended from one that ran on or ran once more.
                throw E2eError(std::string(e.what()) + "; the unit ran " +
                               std::to_string(mainProcessesSince(before)) + " of " +
                               std::to_string(kSeriesRuns) + " main processes, the file says " +
                               "RepeatOctoprog=" + iniValue("User", "RepeatOctoprog") +
                               ", Start reads '" + w().text(IDC_START) + "'");
            }
            waitFor("Start enabled", kOperationTimeout, [&] { return w().enabled(IDC_START); });
            setIniKey(ini(), "User", "RepeatOctoprog", "0");
            return Shot{group(w(), "Status")};
        });
    }

    void warnings() {
        camera_.take("status-voltage-low", [&] {
            w().select(IDC_SUPPLY_VOLTAGE, kLowVoltageRow);
            w().click(IDC_START);
            waitStatus(w(), programString(IDS_VOLTAGE_TOO_LOW), kAnswerTimeout);
            return Shot{group(w(), "Status")};
        });
        std::optional<Window> box;
        camera_.take("reload-warning", [&] {
            w().select(IDC_DEVICE_TYPE, std::string(kOtherType));
            w().click(IDC_START);
            box = w().waitPopup(kAnswerTimeout);
            return Shot{box->rect()};
        });
        box->press(kIdOk);
        box->waitGone(kAnswerTimeout);
        camera_.take("status-load-failed", [&] {
            w().select(IDC_DEVICE_TYPE, std::string(kType));
            w().setText(IDC_IMAGE_FILE, samplePath(kBrokenSample));
            if (w().click(IDC_LOAD_IMAGES, kOperationTimeout) != Outcome::Done)
                throw E2eError("Load Image(s) did not end");
            if (w().text(IDC_STATUS_LINE).rfind("ERROR:", 0) != 0)
                throw E2eError("the broken file loaded: " + w().text(IDC_STATUS_LINE));
            return Shot{group(w(), "Status")};
        });
    }

    Session& s_;
    Camera& camera_;
    SimulatedUnit* unit_ = nullptr;
    std::optional<Window> w_;
};

int run(const fs::path& folder) {
    Session session;
    Camera camera(session, folder);
    withoutUnit(session, camera);
    oldFirmware(session, camera);
    Bench(session, camera).run();
    return 0;
}

} // namespace
} // namespace octo::e2e

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: octo_screenshots <folder>\n";
        return 2;
    }
    try {
        return octo::e2e::run(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "octo_screenshots: " << e.what() << "\n";
        return 1;
    }
}

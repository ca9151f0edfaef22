// The window of one program against one simulated unit, shared by the tests of a suite,
// and the object files those tests compare the unit's memory with.
#ifndef OCTO_E2E_UNIT_WINDOW_TEST_H
#define OCTO_E2E_UNIT_WINDOW_TEST_H

#include "E2eTest.h"
#include "SimulatedUnit.h"

#include "objfile/load.h"

#include <memory>
#include <utility>

namespace octo::e2e {

inline constexpr Millis kUnitWindowStartTimeout{30000};
inline constexpr Millis kStrayBoxWait{2000};

// An object file read as the library reads it; throws with the reader's reason.
inline objfile::Image readObject(const std::filesystem::path& file) {
    objfile::Image image;
    const auto result =
        objfile::loadObjectFile(file.filename().string(), readWholeFile(file), image);
    if (!result.ok())
        throw E2eError("cannot read " + file.string() + ": " + result.error->describe());
    return image;
}

template <typename Suite>
class UnitWindowTest : public SharedWindowTest<Suite> {
protected:
    using Base = SharedWindowTest<Suite>;
    using Keys = std::vector<std::pair<std::string, std::string>>;

    // Installs the program with `userKeys` set in section User of its configuration file
    // (`addedKeys` added there, where the shipped file has no such key), starts a unit with
    // the scenario text (written to `scenarioName` in the program folder) and the settings
    // on top, and opens the window once start-up has ended. `sections` (whole sections, CR
    // LF lines) is appended to the configuration file.
    static void openWithUnit(const std::string& scenarioName, const std::string& scenarioText,
                             const std::vector<std::string>& unitSettings, const Keys& userKeys,
                             const Keys& addedKeys = {}, const std::string& sections = {}) {
        Base::openWindow([&](Session& s) {
            s.installProgram();
            const std::filesystem::path scenario = s.programFolder() / scenarioName;
            std::ofstream(scenario) << scenarioText;
            for (const auto& [key, value] : userKeys)
                setIniKey(s.programFolder() / kConfigIni, "User", key, value);
            for (const auto& [key, value] : addedKeys)
                addIniKey(s.programFolder() / kConfigIni, "User", key, value);
            std::ofstream(s.programFolder() / kConfigIni, std::ios::binary | std::ios::app)
                << sections;
            unit_ = std::make_unique<SimulatedUnit>(s.programFolder(), unitSettings, scenario);
            Base::window_ =
                std::make_unique<Window>(launchAndWaitForStartup(s, kUnitWindowStartTimeout));
        });
    }
    // A failed test may leave a message box open, which would disable the window for the
    // tests after it.
    void TearDown() override {
        if (!this->HasFailure() || !Base::window_)
            return;
        try {
            this->w().waitPopup(kStrayBoxWait).close();
        } catch (const E2eError&) {
            // none was open
        }
    }
    static void TearDownTestSuite() {
        Base::window_.reset();
        if (Session* s = SharedSession::get())
            s->stopProgram();
        unit_.reset();
    }

    SimulatedUnit& unit() { return *unit_; }
    std::filesystem::path folder() { return this->session().programFolder(); }

    static inline std::unique_ptr<SimulatedUnit> unit_;
};

} // namespace octo::e2e

#endif

#include "SimulatedUnit.h"

#include "Session.h"

#include <cstdlib>
#include <fstream>

namespace octo::e2e {

namespace fs = std::filesystem;

namespace {

constexpr Millis kUnitStartTimeout{10000};
constexpr Millis kUnitStopGrace{2000};

fs::path simulatorExecutable() {
    if (const char* path = std::getenv("OCTO_UNITSIM"))
        return path;
    return OCTO_UNITSIM_PATH;
}

} // namespace

SimulatedUnit::SimulatedUnit(const fs::path& folder)
    : link_(Paths::winePrefix() / "com1"), state_(folder / "unit.state") {
    fs::remove(state_);
    process_ = ChildProcess(ProcessOptions{
        {simulatorExecutable().string(), "--link", link_.string(), "--state", state_.string()},
        folder,
        currentEnvironment(),
        folder / "unit.log"});
    if (!waitUntil(kUnitStartTimeout, [&] { return state("link.state") == "plugged"; }))
        throw E2eError("the simulated unit did not open its line; see " +
                       (folder / "unit.log").string());
}

SimulatedUnit::~SimulatedUnit() {
    process_.stop(kUnitStopGrace);
}

std::string SimulatedUnit::state(const std::string& key) const {
    std::ifstream file(state_);
    std::string line;
    const std::string prefix = key + " = ";
    while (std::getline(file, line))
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    return {};
}

} // namespace octo::e2e

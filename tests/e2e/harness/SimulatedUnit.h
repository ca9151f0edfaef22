// The unit simulator on the link the test prefix maps COM1 to: started before the program,
// ended by PID after it. OCTO_UNITSIM names another build of the simulator than this one's.
#ifndef OCTO_E2E_SIMULATED_UNIT_H
#define OCTO_E2E_SIMULATED_UNIT_H

#include "Process.h"

#include <filesystem>
#include <string>

namespace octo::e2e {

class SimulatedUnit {
public:
    // Starts the simulator with its state and log files in folder and waits until it has
    // opened its line; throws E2eError when it does not.
    explicit SimulatedUnit(const std::filesystem::path& folder);
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // One value of the state file ("key = value" lines); empty when the key is missing.
    std::string state(const std::string& key) const;

private:
    std::filesystem::path link_;
    std::filesystem::path state_;
    ChildProcess process_;
};

} // namespace octo::e2e

#endif

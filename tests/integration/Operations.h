// The operations an operator's program runs, each a timed call of the real library against
// the simulated unit, checked against the unit's own truth (its state file and dumps): a
// success holds exactly what was meant, a failure leaves nothing under the operator's name.
// Used by the integration tests and by the soak.
#pragma once

#include "SimulatedUnit.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace octo::testing {

struct Outcome {
    int32_t code = 0;
    double ms = 0;      // how long the call took
    double boundMs = 0; // how long it may take
    // Success: the unit (or the file) holds exactly what was meant. Failure: nothing
    // half-done passes for done (no output file, no slot marked complete with other bytes).
    bool truthful = true;
    std::string detail;        // what was wrong, when not truthful
    double otherOverrunMs = 0; // of the calls the operation made before or after this one

    double overrunMs() const { return std::max(ms > boundMs ? ms - boundMs : 0, otherOverrunMs); }
};

class Operations {
public:
    // rate: the library's line rate, for the bounds.
    Operations(const SimulatedUnit& unit, uint32_t rate) : unit_(unit), rate_(rate) {}

    Outcome eraseImage();
    // A fresh load into the selected slot 0.
    Outcome loadImage(const std::filesystem::path& file, const std::string& type);
    // The parameters (erase, program, verify at 3.0 V), a run and its result, with the sockets
    // dumped (scenario dump_targets): a run the library reports happened once, with the
    // result the unit has, and when every socket passed, each holds the slot's image.
    Outcome mainProcess(uint32_t tenths, uint32_t presentSockets);
    Outcome eraseFirmware();
    Outcome loadFirmware(const std::filesystem::path& file);
    // Socket target (0..7) into path as QX-Text; path must not exist before.
    Outcome readOut(uint8_t target, uint32_t start, uint32_t length,
                    const std::filesystem::path& path);
    Outcome getResult();
    Outcome setSupply(uint32_t code);
    Outcome setSignals(uint16_t word);

    uint32_t rate() const { return rate_; }
    void setRate(uint32_t rate) { rate_ = rate; }

private:
    Outcome timed(double boundMs, const std::function<int32_t()>& call) const;

    const SimulatedUnit& unit_;
    uint32_t rate_;
};

// Whether a read-out file holds exactly the target's bytes of the range (0xFF where the chip
// has no memory); the first difference in detail.
bool readOutMatches(const std::filesystem::path& file, const objfile::Image& target, uint32_t start,
                    uint32_t length, std::string& detail);
// A temporary file of an atomic write left in the folder.
bool temporaryLeftovers(const std::filesystem::path& folder);

} // namespace octo::testing

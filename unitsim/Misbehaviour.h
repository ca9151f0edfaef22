// A unit whose firmware misbehaves (the scenario's misbehave.* keys): what it does to the
// answers it sends, until its power is cycled. The endless Busy and the silence are the
// server's, which owns the line; this decides when they apply.
#pragma once

#include "Scenario.h"

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace octo::unitsim {

class Misbehaviour {
public:
    Misbehaviour(const MisbehaveSetup& setup, uint64_t seed);

    struct Outgoing {
        std::vector<uint8_t> bytes;
        uint32_t delayMs = 0; // held back this long before it goes on the line
    };
    // An answer frame on its way out, as the misbehaving unit sends it.
    Outgoing answer(std::vector<uint8_t> frame);
    // A request of this command gets Busy for ever instead of being carried out.
    bool stuckOn(uint8_t command) const;
    // The unit goes silent once it has carried out this many commands.
    bool silentAfter(uint64_t commands) const;
    uint32_t silentForMs() const { return setup_.silentForMs; }

    // Its firmware starts afresh: the misbehaviour is over.
    void powerCycle() { active_ = false; }
    bool active() const { return active_; }
    // Answers that misbehaved, endless Busy and silence included.
    uint64_t hits() const { return hits_; }
    void countHit() { ++hits_; }

private:
    bool hitsCommand(uint8_t command) const;
    bool draw(double probability);

    MisbehaveSetup setup_;
    std::mt19937_64 random_;
    bool active_;
    uint64_t hits_ = 0;
    std::vector<uint8_t> previous_; // the last answer as the unit meant it
};

} // namespace octo::unitsim

// The seed of a kill-trial program's random moments: OCTO_KILL_SEED when set, so that a
// failed series can be repeated, else a fresh one; said on standard error either way.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace octo::soak {

inline uint32_t killTrialSeed() {
    const char* text = std::getenv("OCTO_KILL_SEED");
    const uint32_t seed = text ? static_cast<uint32_t>(std::stoul(text)) : std::random_device{}();
    std::cerr << "seed " << seed << " (OCTO_KILL_SEED repeats it)\n";
    return seed;
}

} // namespace octo::soak

// Eight sockets of one kind each that a production run meets (good, bad cell, failing
// erase, no answer, secured, empty, stuck cell, old data), as a scenario of the simulated
// unit: the runs of the e2e tests and the operator guide's pictures of the lamps.
#ifndef OCTO_E2E_EIGHT_SOCKETS_H
#define OCTO_E2E_EIGHT_SOCKETS_H

#include <array>
#include <cstdint>
#include <string>

namespace octo::e2e {

// Sockets 2 to 7 each fail in their own way; 8 holds old data that the erase must clear.
// The addresses lie in the data of the shipped sample A110_blink.
inline constexpr std::uint32_t kBadCell = 0xFC10;
inline constexpr std::uint32_t kStuckCell = 0xFC20;
inline constexpr char kEightSockets[] = R"(# One socket of each kind a production run meets.
target.2.fault.verify_at = 0xFC10
target.3.fault.erase = yes
target.4.fault.no_answer = yes
target.5.secured = yes
target.6.present = no
target.7.fault.erase_check_at = 0xFC20
target.8.memory = random
dump_targets = yes
)";
inline constexpr int kSockets = 8;

// What the unit reports of each socket after a run of the scenario above.
inline const std::array<std::string, kSockets> kOutcomes = {"passed",
                                                            "verify failed at 0xFC10",
                                                            "erase failed",
                                                            "no answer",
                                                            "secured, not reachable",
                                                            "empty socket",
                                                            "erase check failed at 0xFC20",
                                                            "passed"};

} // namespace octo::e2e

#endif

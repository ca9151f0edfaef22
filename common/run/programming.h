// The parameter block of a main process and the expected duration of a run, from the
// operator's choices: one computation for the window and the command-line programmer, so
// both send the unit the same option bits, supply byte and settling time. Also the option
// bits a run needs to write a target's own record, which the library and the window check.
#pragma once

#include "devices/segments.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace octo::run {

// Target supply byte: the voltage in tenths, plus this flag to switch it off after the run.
inline constexpr uint32_t kSwitchVccOffFlag = 0x80;
// Settling time sent while the targets supply themselves.
inline constexpr uint32_t kExternalSupplySettleMs = 200;

// What the operator chose, as the window's settings hold it (flags are 0 or 1).
struct ProgrammingChoice {
    int erase = 0;
    int eraseCheck = 0;
    int eraseInfo = 0;
    int eraseMain = 0;
    int erasePinfo = 0;
    int eraseBsl = 0;
    int program = 0;
    int verify = 0;
    int secure = 0;
    int verifyMarginal = 0;
    int useDuoLink = 0;
    int jtagSpeed = 0; // 0 (fastest) to 3
    int supplyByProgrammer = 0;
    int supplyTenths = 0; // the unit's supply while it supplies the targets
    int switchVccOff = 0;
};

struct ProgrammingParameters {
    uint32_t options = 0;
    uint32_t targetVcc = 0;
    uint32_t settleMs = 0;
    friend bool operator==(const ProgrammingParameters&, const ProgrammingParameters&) = default;
};

// The parameter block; DuoLink only for a type that has it, the settling time only while
// the unit supplies the targets.
ProgrammingParameters programmingParameters(const ProgrammingChoice& choice, bool duoLinkAble,
                                            uint16_t settleMs);

// A type's memory in 16-bit words, as the estimate counts it.
struct MemoryWords {
    uint32_t flash = 0;
    uint32_t info = 0; // information memory, the protected segment included
    uint32_t bsl = 0;
};

// Sums the rows of a segment table up to its kind 0 row.
MemoryWords memoryWords(std::span<const OctoSegmentEntry> table);

// The expected duration of a run in ms from the choices, the type's memory and the settling
// time (0 while the unit does not supply the targets), with the interface's slowdown.
uint32_t estimatedRunMs(const ProgrammingChoice& choice, const MemoryWords& words,
                        uint16_t settleMs);

// The option bits a run must carry to write a target's own record at [address, address +
// length): the program bits and the erase bit of each memory the record touches (main or
// information memory), so that the record lands on flash this run itself erased. Rows of
// other kinds add nothing (records are refused there anyway); the table ends at its first
// kind 0 row or its end.
uint32_t recordOptions(std::span<const OctoSegmentEntry> table, uint32_t address, uint32_t length);

// The steps a run asks for, as the traceability log names them: "e" erase, "c" erase check,
// "p" program, "v" verify, "s" secure, in that order ("ecpv").
std::string askedSteps(const ProgrammingChoice& choice);

// The sockets in use at a station, bit n for socket n + 1.
inline constexpr uint8_t kAllSockets = 0xFF;
// "1-6,8" as sockets: numbers 1 to 8 and ranges a-b with a <= b, separated by commas,
// spaces around them allowed; nothing for an empty text, a socket outside 1..8 or any other
// text.
std::optional<uint8_t> parseSockets(std::string_view text);
// The sockets as parseSockets reads them, ranges of three or more joined: "1-6,8", "1-8".
std::string socketsText(uint8_t sockets);

// Extra time the unit is given beyond the expected duration before a run counts as hung.
inline constexpr uint32_t kRunTimeoutMarginMs = 5000;
inline constexpr uint32_t kMsPerTimeoutUnit = 100;
// The time-out the library takes for an operation expected to last expectedMs: that and
// the margin, in units of 100 ms.
constexpr uint32_t libraryTimeout(uint32_t expectedMs) {
    return (expectedMs + kRunTimeoutMarginMs) / kMsPerTimeoutUnit;
}

} // namespace octo::run

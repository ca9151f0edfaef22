// What a simulated unit is and how its line behaves, read from a scenario file of
// "key = value" lines (docs/simulator.md lists every key).
#pragma once

#include <objfile/image.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace octo::unitsim {

enum class FaultDirection { Both, ToUnit, FromUnit };

enum class InitialMemory { Blank, Random, File };

// What is wrong with one target chip.
struct TargetFaults {
    bool noAnswer = false;                // never answers
    bool erase = false;                   // its erase reports failure and changes nothing
    std::optional<uint32_t> eraseCheckAt; // a byte that erasing leaves at 0x00
    std::optional<uint32_t> verifyAt;     // a byte that programs with its lowest bit wrong
    std::optional<uint32_t> marginalAt;   // a byte that reads right only at the normal level
    bool secure = false;                  // its fuse does not blow
    bool record = false;                  // its record is written with its lowest bit wrong
};

// One of the eight target sockets.
struct TargetSetup {
    bool present = true;
    std::string type; // empty: a chip of the type of the image the unit works with
    InitialMemory memory = InitialMemory::Blank;
    std::string memoryFile;                    // InitialMemory::File
    std::optional<objfile::Image> memoryImage; // the file's data, read by loadFiles()
    bool secured = false;
    uint32_t supplyMin = 18; // the chip answers within this supply range, tenths of a volt
    uint32_t supplyMax = 36;
    TargetFaults faults;
    // Worn contacts: from main process connectRateFrom on (counted as the unit counts
    // them), each main process fails to reach the chip with this probability.
    double connectRate = 0.0;
    uint64_t connectRateFrom = 0;
};

// How long the unit's work takes, before the time scale. The main process costs
// runMs plus the settling time, then per step: the erase, each KiB erase-checked,
// programmed and verified, and securing; the interface speed (0 to 3) multiplies the
// steps by 1, 4, 9 or 13, DuoLink multiplies the per-KiB steps by duolinkFactor.
struct Timing {
    double runMs = 1210;
    double eraseMs = 220;
    double checkMsPerKib = 22.8;
    double programMsPerKib = 115;
    double programLargeMsPerKib = 60; // added to every KiB when more than largeKib are programmed
    double largeKib = 60;
    double verifyMsPerKib = 22.8; // marginal verify takes twice as long
    double secureMs = 160;
    double recordMs = 5; // writing and verifying the targets' records
    double duolinkFactor = 4;
    double connectMs = 100; // read-out and register access: reaching the target
    double readMsPerKib = 22.8;
    double selftestMs = 2500;
    double firmwareEraseMsPerKib = 20;
    double loaderStartMs = 100;
};

// A unit whose firmware misbehaves (the misbehave.* keys), until its power is cycled.
struct MisbehaveSetup {
    // The command whose answers the sequence, stale, CRC and Busy modes hit; none: every
    // command's.
    std::optional<uint8_t> command;
    bool endlessBusy = false; // Busy to the request, again and again, and no final answer
    double wrongSeq = 0.0;    // probability that an answer carries the next sequence number
    double staleSeq = 0.0;    // ... is the answer before it again, with its sequence number
    double frameCrc = 0.0;    // ... carries a wrong frame CRC-16
    // Read-out: the range's CRC-32 named wrong, data answers cut short or held back.
    double readoutCrc = 0.0;
    double shortReadout = 0.0;
    double lateReadout = 0.0;
    uint32_t lateMs = 1000;
    // The unit stops listening and answering (the line stays up) once it has carried out
    // this many commands (0 = never), for silentForMs (0 = until its power is cycled).
    uint64_t silentAfter = 0;
    uint32_t silentForMs = 0;

    bool any() const {
        return endlessBusy || wrongSeq > 0 || staleSeq > 0 || frameCrc > 0 || readoutCrc > 0 ||
               shortReadout > 0 || lateReadout > 0 || silentAfter > 0;
    }
};

struct Scenario {
    // Identification, as the result block reports it.
    uint16_t hardwareVersion = 0x0130;
    uint16_t firmwareVersion = 0x0156;
    uint16_t thirdVersion = 0x0200;
    std::optional<std::string> firmwareName = std::string("OCTO816-156");
    // The unit's serial number, reported after the identification.
    std::string serial = "OCTO-000001";

    // The line.
    uint32_t baud = 115200;    // rate after power-on
    bool pace = false;         // deliver bytes no faster than the line rate
    bool checkLineRate = true; // bytes at another rate than the unit's arrive garbled
    double timeScale = 1.0;    // factor on every modelled duration of the unit's work

    // Target supply the unit can generate, tenths of a volt; a broken generator fails
    // every switch-on.
    uint32_t supplyMin = 18;
    uint32_t supplyMax = 36;
    bool supplyBroken = false;

    // Modelled durations (before the time scale).
    uint32_t eraseImageMs = 1200;
    Timing timing;

    // The eight target sockets, and the supply of targets the unit does not supply
    // (tenths of a volt, 0 = none).
    std::array<TargetSetup, 8> targets;
    uint32_t externalSupply = 0;
    // Self-test outcome: 0 passes, 2..8 fails with that result-block error number.
    uint8_t selftest = 0;
    // The self-test (counted from 1) that the outcome above is for, the others passing;
    // 0: every self-test. So a series can meet one failing run among good ones.
    uint64_t selftestOnlyRun = 0;
    // Write each target's memory as QX-Text beside the state file whenever it changes.
    bool dumpTargets = false;
    // The unit loses power once when a firmware load has received this many bytes (0 =
    // never).
    uint64_t powerCycleAfterFirmwareBytes = 0;
    // The main process (counted from 1 since the start) before which the selected image slot
    // loses its image, as a failing image memory would (0 = never): that run touches no
    // target and counts as failed.
    uint64_t imageLostAtRun = 0;

    // Link faults: each byte is dropped, corrupted or delayed with these probabilities.
    uint64_t faultSeed = 1;
    double faultDrop = 0.0;
    double faultCorrupt = 0.0;
    double faultDelay = 0.0;
    uint32_t faultDelayMs = 20;
    FaultDirection faultDirection = FaultDirection::Both;
    // Noise the unit's line sends while idle: bursts per second, stray zero bytes and
    // false frame starts among them.
    double faultNoise = 0.0;
    // Burst loss: the probability that a byte starts a run of burstMin..burstMax lost bytes.
    double faultBurst = 0.0;
    uint32_t faultBurstMin = 16;
    uint32_t faultBurstMax = 64;
    // Stalls: the probability that the line stops at a frame boundary (a zero byte) for
    // stallMs, then delivers what it held.
    double faultStall = 0.0;
    uint32_t faultStallMs = 1000;
    // Unplugging also cuts the unit's power: it comes back at its power-on rate.
    bool faultUnplugResets = false;

    // Unplugging: once after so many bytes received, or once at a time after the start;
    // the unit comes back after unplugForMs (0 = stays away until the simulator ends).
    uint64_t unplugAfterBytes = 0;
    uint32_t unplugAtMs = 0;
    uint32_t unplugForMs = 1000;

    MisbehaveSetup misbehave;

    // Sets one key from its text; an error text for an unknown key or a bad value.
    std::optional<std::string> set(std::string_view key, std::string_view value);
    // Reads a whole file's text; the first error names its line.
    std::optional<std::string> parse(std::string_view text);
    // Reads the object files that targets start with; an error names the target and file.
    std::optional<std::string> loadFiles();
};

} // namespace octo::unitsim

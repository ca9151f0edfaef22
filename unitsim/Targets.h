// The unit's eight target sockets: what each chip holds, its fuse and registers, and the
// main process that erases, checks, programs, verifies and secures them. No I/O and no
// clock: durations are modelled milliseconds before the scenario's time scale.
#pragma once

#include "Scenario.h"

#include <devices/device_table.h>
#include <objfile/image.h>
#include <wire/messages.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace octo::unitsim {

// A chip's programmable memory: its information, main, protected information and BSL
// segments, 0xFF where erased.
class TargetMemory {
public:
    struct Segment {
        uint32_t kind = 0;
        uint32_t start = 0;
        std::vector<uint8_t> bytes;
    };

    explicit TargetMemory(const devices::DeviceType& type);

    uint8_t* at(uint32_t address);
    const uint8_t* at(uint32_t address) const;
    std::vector<Segment>& segments() { return segments_; }
    const std::vector<Segment>& segments() const { return segments_; }
    // Over every segment's bytes in ascending address order.
    uint32_t crc() const;
    objfile::Image image() const;

private:
    std::vector<Segment> segments_; // ascending, never overlapping
};

struct TargetSocket {
    TargetSetup setup;
    const devices::DeviceType* type = nullptr; // the chip's type, once there is a chip
    std::optional<TargetMemory> memory;
    bool fuseBlown = false;
    std::map<uint16_t, uint16_t> registers;
    std::string last = "not run";
    uint32_t runs = 0; // main processes that reached it
    bool changed = true;
};

// What the main process and the read-out need to know of the supply and interface.
struct Reach {
    uint32_t volts = 0;   // supply at the sockets, tenths of a volt; 0 = none
    uint32_t options = 0; // interface bits: DuoLink, speed
};

// A record the main process wrote into a chip, and whether it read back as written.
struct RecordWrite {
    uint8_t socket = 0; // 0..7
    uint32_t address = 0;
    std::vector<uint8_t> data;
    bool verified = false;
};

struct RunOutcome {
    std::array<uint8_t, wire::ResultReply::kRunBytes> run{};
    bool failed = false; // cut off at the time-out
    double workMs = 0;   // modelled duration
    bool reachedTargets = false;
    std::vector<RecordWrite> records; // in socket order
};

class TargetBank {
public:
    explicit TargetBank(const Scenario& scenario);

    // The main process with these options on every socket, from image (for type), with the
    // supply given in reach and settleMs to wait at each switch-on (switchOffs: the supply
    // goes off between the steps). Stops when the work would exceed budgetMs. Each target
    // still passing after verify gets its record, if records holds one for its socket. run
    // is the unit's count of main processes, this one included: worn contacts start from one.
    RunOutcome mainProcess(uint32_t options, uint32_t settleMs, bool switchOffs, const Reach& reach,
                           const objfile::Image& image, const devices::DeviceType& type,
                           double budgetMs, std::span<const wire::TargetRecord> records = {},
                           uint64_t run = 0);

    // Why a target cannot be reached now; none when it can. imageType is the type of the
    // image the unit works with (the chip's type when the scenario names none).
    std::optional<wire::TargetFault> reachable(uint8_t index, const Reach& reach,
                                               const devices::DeviceType* imageType);
    // The range as the chip reads it (0xFF where it has no memory), and the modelled time.
    std::vector<uint8_t> read(uint8_t index, uint32_t start, uint32_t length, const Reach& reach,
                              double& workMs) const;
    uint16_t accessRegister(uint8_t index, wire::SfrOperation operation, uint16_t address,
                            uint16_t value);

    const TargetSocket& socket(uint8_t index) const { return sockets_.at(index); }
    // Sockets whose memory or fuse changed since the last call.
    std::vector<uint8_t> takeChanged();
    std::string stateText() const;

    // Interface speed factor of the option word: 1, 4, 9 or 13.
    static double speedFactor(uint32_t options);

private:
    // Puts a chip of that type into the socket unless it holds one: a new chip starts with
    // the scenario's memory and fuse.
    void ensureChip(uint8_t index, const devices::DeviceType& type);
    const devices::DeviceType* chipType(uint8_t index, const devices::DeviceType* imageType) const;
    bool answers(const TargetSocket& socket, const devices::DeviceType& type,
                 const Reach& reach) const;

    // Whether a worn socket's contacts fail in this run.
    bool contactsFail(const TargetSetup& setup, uint64_t run);

    Scenario scenario_;
    std::array<TargetSocket, wire::kTargets> sockets_;
    std::mt19937_64 contacts_; // draws for worn contacts only, from the fault seed
};

} // namespace octo::unitsim

#include "Targets.h"

#include <objfile/crc32.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

namespace octo::unitsim {

namespace opt = wire::option;

namespace {

constexpr double kBytesPerKib = 1024.0;
constexpr uint32_t kRandomSeed = 816;
// Port A of the family: input (read-only, follows the pins), output and direction.
constexpr uint16_t kPortAIn = 0x20;
constexpr uint16_t kPortAOut = 0x21;
constexpr uint16_t kPortADir = 0x22;

// The segments a chip's flash holds, with the option bits that erase and erase-check each.
struct FlashSegment {
    uint32_t kind;
    uint32_t eraseBit;
    uint32_t checkBit;
};
constexpr FlashSegment kFlashSegments[] = {
    {OCTO_SEGMENT_INFO, opt::kEraseInfo, opt::kCheckInfo},
    {OCTO_SEGMENT_FLASH, opt::kEraseMain, opt::kCheckMain},
    {OCTO_SEGMENT_PROTECTED_INFO, opt::kErasePinfo, opt::kCheckPinfo},
    {OCTO_SEGMENT_BSL, opt::kEraseBsl, opt::kCheckBsl},
};

const FlashSegment* flashSegment(uint32_t kind) {
    const auto found =
        std::find_if(std::begin(kFlashSegments), std::end(kFlashSegments),
                     [&](const FlashSegment& segment) { return segment.kind == kind; });
    return found == std::end(kFlashSegments) ? nullptr : found;
}

bool programmable(uint32_t kind) {
    return flashSegment(kind) != nullptr;
}

bool erases(uint32_t kind, uint32_t options) {
    const FlashSegment* segment = flashSegment(kind);
    return segment && (options & segment->eraseBit);
}

bool checks(uint32_t kind, uint32_t options) {
    const FlashSegment* segment = flashSegment(kind);
    return segment && (options & segment->checkBit);
}

// Programming and verifying cover the image's bytes in every segment, the BSL only
// when its bit is set.
bool programs(uint32_t kind, uint32_t options) {
    return programmable(kind) && (kind != OCTO_SEGMENT_BSL || (options & opt::kProgramBsl));
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The bytes of the image that fall into segments the options program, with their memory.
struct Cell {
    uint32_t address;
    uint8_t value;
};

std::vector<Cell> cellsToProgram(const objfile::Image& image, const devices::DeviceType& type,
                                 uint32_t options) {
    std::vector<Cell> cells;
    const auto segments = devices::usedSegments(type);
    for (const auto& run : image.runs()) {
        for (size_t i = 0; i < run.bytes.size(); ++i) {
            const uint32_t address = run.start + static_cast<uint32_t>(i);
            const bool covered = std::any_of(segments.begin(), segments.end(), [&](const auto& s) {
                return programs(s.kind, options) && address >= s.start &&
                       address - s.start < s.length;
            });
            if (covered) {
                cells.push_back({address, run.bytes[i]});
            }
        }
    }
    return cells;
}

const wire::TargetRecord* recordOf(std::span<const wire::TargetRecord> records, uint8_t socket) {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const auto& record) { return record.socket == socket; });
    return found == records.end() ? nullptr : &*found;
}

// Programs a record as flash takes it (bits only go from 1 to 0; faulty: the first byte's
// lowest bit comes out wrong) and reads it back: true when every byte holds what was meant.
bool writeRecord(TargetMemory& memory, const wire::TargetRecord& record, bool faulty) {
    bool verified = true;
    for (size_t k = 0; k < record.data.size(); ++k) {
        uint8_t* byte = memory.at(record.address + static_cast<uint32_t>(k));
        if (!byte) {
            verified = false;
            continue;
        }
        *byte = static_cast<uint8_t>(*byte & record.data[k]);
        if (faulty && k == 0) {
            *byte ^= 0x01;
        }
        verified = verified && *byte == record.data[k];
    }
    return verified;
}

} // namespace

TargetMemory::TargetMemory(const devices::DeviceType& type) {
    for (const auto& row : devices::usedSegments(type)) {
        if (programmable(row.kind)) {
            segments_.push_back(
                Segment{row.kind, row.start, std::vector<uint8_t>(row.length, 0xFF)});
        }
    }
    std::sort(segments_.begin(), segments_.end(),
              [](const Segment& a, const Segment& b) { return a.start < b.start; });
}

uint8_t* TargetMemory::at(uint32_t address) {
    return const_cast<uint8_t*>(static_cast<const TargetMemory&>(*this).at(address));
}

const uint8_t* TargetMemory::at(uint32_t address) const {
    for (const auto& segment : segments_) {
        if (address >= segment.start && address - segment.start < segment.bytes.size()) {
            return &segment.bytes[address - segment.start];
        }
    }
    return nullptr;
}

uint32_t TargetMemory::crc() const {
    uint32_t crc = 0;
    for (const auto& segment : segments_) {
        crc = objfile::crc32(segment.bytes, crc);
    }
    return crc;
}

objfile::Image TargetMemory::image() const {
    objfile::Image image;
    for (const auto& segment : segments_) {
        image.insert(segment.start, segment.bytes);
    }
    return image;
}

TargetBank::TargetBank(const Scenario& scenario)
    : scenario_(scenario), contacts_(scenario.faultSeed) {
    for (uint8_t i = 0; i < wire::kTargets; ++i) {
        sockets_[i].setup = scenario.targets[i];
        if (const auto* type = chipType(i, nullptr)) {
            ensureChip(i, *type);
        }
    }
}

double TargetBank::speedFactor(uint32_t options) {
    static constexpr double kFactors[] = {1, 4, 9, 13};
    return kFactors[(options & opt::kSpeedMask) >> opt::kSpeedShift];
}

const devices::DeviceType* TargetBank::chipType(uint8_t index,
                                                const devices::DeviceType* imageType) const {
    const TargetSetup& setup = sockets_[index].setup;
    if (!setup.present) {
        return nullptr;
    }
    return setup.type.empty() ? imageType : devices::findDeviceType(setup.type);
}

void TargetBank::ensureChip(uint8_t index, const devices::DeviceType& type) {
    TargetSocket& socket = sockets_[index];
    if (socket.type == &type && socket.memory) {
        return;
    }
    socket.type = &type;
    socket.memory.emplace(type);
    socket.fuseBlown = socket.setup.secured;
    socket.registers.clear();
    socket.changed = true;
    switch (socket.setup.memory) {
    case InitialMemory::Blank:
        break;
    case InitialMemory::Random: {
        std::mt19937 random(kRandomSeed + index);
        for (auto& segment : socket.memory->segments()) {
            for (auto& byte : segment.bytes) {
                byte = static_cast<uint8_t>(random());
            }
        }
        break;
    }
    case InitialMemory::File:
        if (socket.setup.memoryImage) {
            for (const auto& run : socket.setup.memoryImage->runs()) {
                for (size_t i = 0; i < run.bytes.size(); ++i) {
                    if (uint8_t* cell = socket.memory->at(run.start + static_cast<uint32_t>(i))) {
                        *cell = run.bytes[i];
                    }
                }
            }
        }
        break;
    }
}

bool TargetBank::contactsFail(const TargetSetup& setup, uint64_t run) {
    // Only worn sockets draw, so other sockets and scenarios see the same runs as before.
    return setup.connectRate > 0 && run >= setup.connectRateFrom &&
           std::uniform_real_distribution<double>(0.0, 1.0)(contacts_) < setup.connectRate;
}

bool TargetBank::answers(const TargetSocket& socket, const devices::DeviceType& type,
                         const Reach& reach) const {
    const TargetSetup& setup = socket.setup;
    if (!setup.present || setup.faults.noAnswer || reach.volts == 0) {
        return false;
    }
    // Below the type's lowest supply for erase and program the chip does not start.
    const uint32_t lowest = std::max<uint32_t>(setup.supplyMin, static_cast<uint32_t>(type.vpp));
    if (reach.volts < lowest || reach.volts > setup.supplyMax) {
        return false;
    }
    const bool duoLink = reach.options & opt::kDuoLink;
    if (duoLink && !type.dlkAble) {
        return false;
    }
    if (!duoLink && (type.jtag4Disable & 1)) {
        return false; // a DuoLink-only chip has no 4-wire JTAG
    }
    return true;
}

std::optional<wire::TargetFault> TargetBank::reachable(uint8_t index, const Reach& reach,
                                                       const devices::DeviceType* imageType) {
    TargetSocket& socket = sockets_.at(index);
    if (!socket.setup.present) {
        return wire::TargetFault::NotPresent;
    }
    const devices::DeviceType* type = chipType(index, imageType);
    if (!type) {
        type = socket.type; // no image to tell: the chip that is in the socket
    }
    if (!type || !answers(socket, *type, reach)) {
        return wire::TargetFault::NoAnswer;
    }
    ensureChip(index, *type);
    if (socket.fuseBlown) {
        return wire::TargetFault::Secured;
    }
    return std::nullopt;
}

std::vector<uint8_t> TargetBank::read(uint8_t index, uint32_t start, uint32_t length,
                                      const Reach& reach, double& workMs) const {
    const TargetSocket& socket = sockets_.at(index);
    std::vector<uint8_t> bytes(length, 0xFF);
    if (socket.memory) {
        for (uint32_t i = 0; i < length; ++i) {
            if (const uint8_t* cell = socket.memory->at(start + i)) {
                bytes[i] = *cell;
            }
        }
    }
    const double duoLink = (reach.options & opt::kDuoLink) ? scenario_.timing.duolinkFactor : 1.0;
    workMs = scenario_.timing.connectMs + scenario_.timing.readMsPerKib * (length / kBytesPerKib) *
                                              speedFactor(reach.options) * duoLink;
    return bytes;
}

uint16_t TargetBank::accessRegister(uint8_t index, wire::SfrOperation operation, uint16_t address,
                                    uint16_t value) {
    auto& registers = sockets_.at(index).registers;
    auto current = [&](uint16_t at) {
        if (at == kPortAIn) {
            // Output pins read back what they drive; inputs are pulled low.
            return static_cast<uint16_t>(registers[kPortAOut] & registers[kPortADir]);
        }
        const auto found = registers.find(at);
        return found == registers.end() ? uint16_t{0} : found->second;
    };
    const uint16_t old = current(address);
    uint16_t updated = old;
    switch (operation) {
    case wire::SfrOperation::Read:
        return old;
    case wire::SfrOperation::Write:
        updated = value;
        break;
    case wire::SfrOperation::And:
        updated = static_cast<uint16_t>(old & value);
        break;
    case wire::SfrOperation::Or:
        updated = static_cast<uint16_t>(old | value);
        break;
    case wire::SfrOperation::Xor:
        updated = static_cast<uint16_t>(old ^ value);
        break;
    }
    if (address == kPortAIn) {
        return old; // an input register ignores writes
    }
    registers[address] = updated;
    sockets_[index].changed = true;
    return updated;
}

RunOutcome TargetBank::mainProcess(uint32_t options, uint32_t settleMs, bool switchOffs,
                                   const Reach& reach, const objfile::Image& image,
                                   const devices::DeviceType& type, double budgetMs,
                                   std::span<const wire::TargetRecord> records, uint64_t run) {
    const Timing& timing = scenario_.timing;
    const double speed = speedFactor(options);
    const double perKib = speed * ((options & opt::kDuoLink) ? timing.duolinkFactor : 1.0);
    const std::vector<Cell> cells = cellsToProgram(image, type, options);
    const double cellKib = static_cast<double>(cells.size()) / kBytesPerKib;
    double checkBytes = 0;
    for (const auto& row : devices::usedSegments(type)) {
        if (programmable(row.kind) && checks(row.kind, options)) {
            checkBytes += row.length;
        }
    }
    // With the supply switched off between the steps, each later step waits for it again.
    const double resettle = switchOffs ? settleMs : 0.0;

    enum class Step { Erase, Check, Program, Verify, Record, Secure };
    struct Phase {
        Step step;
        double ms;
    };
    std::vector<Phase> phases;
    if (options & opt::kErase) {
        phases.push_back({Step::Erase, timing.eraseMs * speed});
    }
    if (options & opt::kCheck) {
        phases.push_back(
            {Step::Check, timing.checkMsPerKib * (checkBytes / kBytesPerKib) * perKib});
    }
    if ((options & opt::kProgram) == opt::kProgram) {
        const double rate = timing.programMsPerKib +
                            (cellKib > timing.largeKib ? timing.programLargeMsPerKib : 0.0);
        phases.push_back({Step::Program, resettle + rate * cellKib * perKib});
    }
    if (options & opt::kVerify) {
        const double marginal = (options & opt::kMarginal) ? 2.0 : 1.0;
        phases.push_back(
            {Step::Verify, resettle + timing.verifyMsPerKib * cellKib * perKib * marginal});
    }
    if (!records.empty()) {
        phases.push_back({Step::Record, resettle + timing.recordMs * speed});
    }
    if (options & opt::kSecure) {
        phases.push_back({Step::Secure, resettle + timing.secureMs * speed});
    }

    RunOutcome outcome;
    auto setBit = [&](size_t byte, uint8_t index) {
        outcome.run[byte] = static_cast<uint8_t>(outcome.run[byte] | (1u << index));
    };
    std::array<bool, wire::kTargets> active{};
    std::array<bool, wire::kTargets> failed{};
    for (uint8_t i = 0; i < wire::kTargets; ++i) {
        TargetSocket& socket = sockets_[i];
        const devices::DeviceType* chip = chipType(i, &type);
        if (!chip) {
            socket.last = socket.setup.present ? "no chip type" : "empty socket";
            continue;
        }
        // A chip of another type answers with an identity the unit does not accept.
        if (chip != &type || !answers(socket, *chip, reach)) {
            socket.last = "no answer";
            continue;
        }
        if (contactsFail(socket.setup, run)) {
            socket.last = "contacts failed";
            continue;
        }
        ensureChip(i, *chip);
        if (socket.fuseBlown) {
            // Its interface is fused off: only the fused-off signature answers.
            setBit(wire::kFuseBlownByte, i);
            socket.last = "secured, not reachable";
            continue;
        }
        setBit(wire::kConnectedByte, i);
        ++socket.runs;
        socket.last = "passed";
        active[i] = true;
    }
    outcome.reachedTargets =
        std::any_of(active.begin(), active.end(), [](bool reached) { return reached; });

    double elapsed = timing.runMs + settleMs;
    if (elapsed > budgetMs) {
        outcome.failed = true;
        outcome.workMs = budgetMs;
        outcome.run = {};
        return outcome;
    }
    if (!outcome.reachedTargets) {
        phases.clear(); // nothing to work on
    }

    for (const Phase& phase : phases) {
        if (elapsed + phase.ms > budgetMs) {
            outcome.failed = true;
            elapsed = budgetMs;
            for (uint8_t i = 0; i < wire::kTargets; ++i) {
                if (active[i] && !failed[i]) {
                    sockets_[i].last = "stopped at the time-out";
                }
            }
            break;
        }
        elapsed += phase.ms;
        for (uint8_t i = 0; i < wire::kTargets; ++i) {
            if (!active[i] || failed[i]) {
                continue;
            }
            TargetSocket& socket = sockets_[i];
            TargetMemory& memory = *socket.memory;
            const TargetFaults& faults = socket.setup.faults;
            auto fail = [&](std::string why) {
                failed[i] = true;
                socket.last = std::move(why);
            };
            switch (phase.step) {
            case Step::Erase:
                if (faults.erase) {
                    fail("erase failed");
                    break;
                }
                for (auto& segment : memory.segments()) {
                    if (erases(segment.kind, options)) {
                        std::fill(segment.bytes.begin(), segment.bytes.end(), uint8_t{0xFF});
                        socket.changed = true;
                    }
                }
                if (faults.eraseCheckAt) {
                    for (auto& segment : memory.segments()) {
                        const uint32_t at = *faults.eraseCheckAt;
                        if (erases(segment.kind, options) && at >= segment.start &&
                            at - segment.start < segment.bytes.size()) {
                            segment.bytes[at - segment.start] = 0x00;
                        }
                    }
                }
                break;
            case Step::Check: {
                bool blank = true;
                for (const auto& segment : memory.segments()) {
                    if (!checks(segment.kind, options)) {
                        continue;
                    }
                    const auto dirty = std::find_if(segment.bytes.begin(), segment.bytes.end(),
                                                    [](uint8_t b) { return b != 0xFF; });
                    if (dirty != segment.bytes.end()) {
                        blank = false;
                        fail("erase check failed at " +
                             hex(segment.start +
                                     static_cast<uint32_t>(dirty - segment.bytes.begin()),
                                 4));
                        break;
                    }
                }
                if (blank) {
                    setBit(wire::kEraseCheckedByte, i);
                }
                break;
            }
            case Step::Program:
                // Flash cells only go from 1 to 0 when programmed: old data not erased
                // stays in the result.
                for (const Cell& cell : cells) {
                    uint8_t* byte = memory.at(cell.address);
                    if (!byte) {
                        continue;
                    }
                    *byte = static_cast<uint8_t>(*byte & cell.value);
                    if (faults.verifyAt == cell.address) {
                        *byte ^= 0x01;
                    }
                }
                socket.changed = true;
                break;
            case Step::Verify: {
                const bool marginal = options & opt::kMarginal;
                const auto wrong = std::find_if(cells.begin(), cells.end(), [&](const Cell& cell) {
                    const uint8_t* byte = memory.at(cell.address);
                    return !byte || *byte != cell.value ||
                           (marginal && faults.marginalAt == cell.address);
                });
                if (wrong != cells.end()) {
                    fail(std::string(marginal ? "marginal verify" : "verify") + " failed at " +
                         hex(wrong->address, 4));
                } else {
                    setBit(wire::kVerifiedByte, i);
                }
                break;
            }
            case Step::Record: {
                const wire::TargetRecord* record = recordOf(records, i);
                if (!record) {
                    break;
                }
                const bool verified = writeRecord(memory, *record, faults.record);
                outcome.records.push_back({i, record->address, record->data, verified});
                socket.changed = true;
                if (!verified) {
                    outcome.run[wire::kVerifiedByte] &= static_cast<uint8_t>(~(1u << i));
                    fail("record verify failed at " + hex(record->address, 4));
                }
                break;
            }
            case Step::Secure:
                if (faults.secure) {
                    fail("securing failed");
                } else {
                    socket.fuseBlown = true;
                    socket.changed = true;
                    setBit(wire::kFuseBlownByte, i);
                }
                break;
            }
        }
    }
    for (uint8_t i = 0; i < wire::kTargets; ++i) {
        if (active[i] && !failed[i] && !outcome.failed) {
            setBit(wire::kOverAllByte, i);
        }
    }
    outcome.workMs = elapsed;
    return outcome;
}

std::vector<uint8_t> TargetBank::takeChanged() {
    std::vector<uint8_t> changed;
    for (uint8_t i = 0; i < wire::kTargets; ++i) {
        if (sockets_[i].changed) {
            changed.push_back(i);
            sockets_[i].changed = false;
        }
    }
    return changed;
}

std::string TargetBank::stateText() const {
    std::string text;
    auto line = [&](const std::string& key, const std::string& value) {
        text += key + " = " + value + "\n";
    };
    for (uint8_t i = 0; i < wire::kTargets; ++i) {
        const TargetSocket& socket = sockets_[i];
        const std::string prefix = "target." + std::to_string(i + 1) + ".";
        line(prefix + "present", socket.setup.present ? "yes" : "no");
        line(prefix + "type", socket.type ? std::string(socket.type->name) : std::string("none"));
        line(prefix + "fuse", socket.fuseBlown ? "blown" : "intact");
        line(prefix + "crc32", socket.memory ? hex(socket.memory->crc(), 8) : std::string("none"));
        line(prefix + "last", socket.last);
        line(prefix + "runs", std::to_string(socket.runs));
        for (const auto& [address, value] : socket.registers) {
            line(prefix + "sfr." + hex(address, 4), hex(value, 4));
        }
    }
    return text;
}

} // namespace octo::unitsim

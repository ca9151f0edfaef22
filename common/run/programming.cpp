#include "run/programming.h"

#include "wire/messages.h"

namespace octo::run {

namespace {

namespace option = wire::option;

// The estimate's terms, in ms: reaching the targets, per ms of settling time, the erase,
// per KiB for erase check and verify (each counted three times), per KiB programmed, the
// extra per KiB of a large image and the fuse.
constexpr double kRunBaseMs = 1210;
constexpr double kSettleFactor = 4;
constexpr double kEraseMs = 220;
constexpr double kCheckMsPerKib = 7.6;
constexpr double kCheckPasses = 3;
constexpr double kProgramMsPerKib = 115;
constexpr uint32_t kLargeImageKib = 60;
constexpr double kLargeProgramMsPerKib = 60;
constexpr double kSecureMs = 160;
// The boot-loader memory takes five times as long per word as the rest.
constexpr uint32_t kBslWeight = 5;
constexpr uint32_t kBytesPerWord = 2;
constexpr int kKibShift = 10;
// DuoLink is this much slower; the lower JTAG speeds by JtagSpeed times this.
constexpr uint32_t kDuoLinkSlowdown = 64;
constexpr double kSpeedSlowdown = 4.5;
constexpr uint32_t kKindMask = 0xFFFF;

uint32_t bit(bool flag, uint32_t value) {
    return flag ? value : 0;
}
double one(int flag) {
    return flag != 0 ? 1.0 : 0.0;
}

} // namespace

ProgrammingParameters programmingParameters(const ProgrammingChoice& c, bool duoLinkAble,
                                            uint16_t settleMs) {
    const bool erase = c.erase != 0;
    const bool check = c.eraseCheck != 0;
    const bool info = c.eraseInfo != 0;
    const bool main = c.eraseMain != 0;
    const bool pinfo = info && c.erasePinfo != 0;
    const bool bsl = c.eraseBsl != 0;
    ProgrammingParameters p;
    p.options = bit(erase && info, option::kEraseInfo) | bit(erase && main, option::kEraseMain) |
                bit(erase && pinfo, option::kErasePinfo) | bit(c.program != 0, option::kProgram) |
                bit(c.verify != 0, option::kVerify) | bit(c.secure != 0, option::kSecure) |
                bit(check && info, option::kCheckInfo) | bit(check && main, option::kCheckMain) |
                bit(check && pinfo, option::kCheckPinfo) |
                bit(c.useDuoLink != 0 && duoLinkAble, option::kDuoLink) |
                (static_cast<uint32_t>(c.jtagSpeed) << option::kSpeedShift) |
                bit(c.verifyMarginal != 0, option::kMarginal) |
                bit(erase && bsl, option::kEraseBsl) | bit(check && bsl, option::kCheckBsl) |
                bit(c.program != 0 && bsl, option::kProgramBsl);
    const bool supplied = c.supplyByProgrammer != 0;
    p.targetVcc = (supplied ? static_cast<uint32_t>(c.supplyTenths) : 0) |
                  bit(c.switchVccOff != 0, kSwitchVccOffFlag);
    p.settleMs = supplied ? settleMs : kExternalSupplySettleMs;
    return p;
}

MemoryWords memoryWords(std::span<const OctoSegmentEntry> table) {
    // The window keeps the information memory in 16 bits; so does the estimate.
    uint16_t infoBytes = 0;
    uint32_t flashBytes = 0;
    uint32_t bslBytes = 0;
    for (const OctoSegmentEntry& entry : table) {
        const uint32_t kind = entry.kind & kKindMask;
        if (kind == OCTO_SEGMENT_END) {
            break;
        }
        if (kind == OCTO_SEGMENT_INFO || kind == OCTO_SEGMENT_PROTECTED_INFO) {
            infoBytes = static_cast<uint16_t>(infoBytes + static_cast<uint16_t>(entry.length));
        } else if (kind == OCTO_SEGMENT_FLASH) {
            flashBytes += entry.length;
        } else if (kind == OCTO_SEGMENT_BSL) {
            bslBytes += entry.length;
        }
    }
    return {flashBytes / kBytesPerWord, static_cast<uint32_t>(infoBytes / kBytesPerWord),
            bslBytes / kBytesPerWord};
}

uint32_t recordOptions(std::span<const OctoSegmentEntry> table, uint32_t address, uint32_t length) {
    uint32_t needed = option::kProgram;
    const uint64_t end = uint64_t{address} + length;
    for (const OctoSegmentEntry& entry : table) {
        const uint32_t kind = entry.kind & kKindMask;
        if (kind == OCTO_SEGMENT_END) {
            break;
        }
        const bool touched = address < uint64_t{entry.start} + entry.length && entry.start < end;
        if (touched && kind == OCTO_SEGMENT_FLASH) {
            needed |= option::kEraseMain;
        } else if (touched && kind == OCTO_SEGMENT_INFO) {
            needed |= option::kEraseInfo;
        }
    }
    return needed;
}

uint32_t estimatedRunMs(const ProgrammingChoice& c, const MemoryWords& words, uint16_t settleMs) {
    const uint32_t sizeK =
        ((words.flash + words.info + kBslWeight * words.bsl) * kBytesPerWord) >> kKibShift;
    const double kib = sizeK;
    double ms =
        (kSettleFactor * settleMs + kRunBaseMs) + kEraseMs * one(c.erase) +
        kCheckMsPerKib * kib * (kCheckPasses * one(c.eraseCheck) + kCheckPasses * one(c.verify)) +
        kProgramMsPerKib * kib * one(c.program) +
        (sizeK > kLargeImageKib ? kLargeProgramMsPerKib * kib * one(c.program) : 0.0) +
        kSecureMs * one(c.secure);
    auto estimate = static_cast<uint32_t>(ms);
    if (c.useDuoLink != 0) {
        estimate *= kDuoLinkSlowdown;
    } else if (c.jtagSpeed != 0) {
        estimate *= static_cast<uint32_t>(c.jtagSpeed * kSpeedSlowdown);
    }
    return estimate;
}

} // namespace octo::run

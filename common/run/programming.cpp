#include "run/programming.h"

#include "wire/messages.h"

#include <utility>

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

std::string askedSteps(const ProgrammingChoice& c) {
    std::string steps;
    for (const auto& [flag, letter] : {std::pair{c.erase, 'e'}, std::pair{c.eraseCheck, 'c'},
                                       std::pair{c.program, 'p'}, std::pair{c.verify, 'v'},
                                       std::pair{c.secure, 's'}}) {
        if (flag != 0) {
            steps += letter;
        }
    }
    return steps;
}

namespace {

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A socket number 1..8, alone.
std::optional<int> socketNumber(std::string_view text) {
    text = trimmed(text);
    if (text.size() != 1 || text[0] < '1' || text[0] > '8') {
        return std::nullopt;
    }
    return text[0] - '0';
}

} // namespace

std::optional<uint8_t> parseSockets(std::string_view text) {
    if (trimmed(text).empty()) {
        return std::nullopt;
    }
    unsigned sockets = 0;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const size_t dash = item.find('-');
        const auto first = socketNumber(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : socketNumber(item.substr(dash + 1));
        if (!first || !last || *first > *last) {
            return std::nullopt;
        }
        for (int s = *first; s <= *last; ++s) {
            sockets |= 1U << (s - 1);
        }
        if (comma == std::string_view::npos) {
            return static_cast<uint8_t>(sockets);
        }
        text.remove_prefix(comma + 1);
    }
}

std::string socketsText(uint8_t sockets) {
    std::string text;
    for (int s = 1; s <= 8;) {
        if ((sockets >> (s - 1) & 1U) == 0) {
            ++s;
            continue;
        }
        int last = s;
        while (last < 8 && (sockets >> last & 1U) != 0) {
            ++last;
        }
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(s);
        if (last - s >= 2) {
            text += '-' + std::to_string(last);
        } else if (last > s) {
            text += ',' + std::to_string(last);
        }
        s = last + 1;
    }
    return text;
}

} // namespace octo::run

// octo816 types: the device types of the table with their memory.
#include "CommandSupport.h"

#include "Json.h"

namespace octo::cli {

namespace {

constexpr uint32_t kKindMask = 0xFFFF;

const char* kindName(uint32_t kind) {
    switch (kind & kKindMask) {
    case OCTO_SEGMENT_RAM:
        return "ram";
    case OCTO_SEGMENT_INFO:
        return "info";
    case OCTO_SEGMENT_FLASH:
        return "flash";
    case OCTO_SEGMENT_PROTECTED_INFO:
        return "pinfo";
    case OCTO_SEGMENT_DCO:
        return "dco";
    case OCTO_SEGMENT_BSL:
        return "bsl";
    default:
        return "other";
    }
}

} // namespace

int typesCommand(const Invocation& in, std::FILE* out) {
    std::vector<std::string> types;
    for (const devices::DeviceType& row : devices::deviceTypes()) {
        const TypeFacts facts = typeFacts(row);
        std::vector<std::string> segments;
        std::string layout;
        for (const OctoSegmentEntry& e : facts.segments) {
            segments.push_back(JsonObject()
                                   .add("kind", kindName(e.kind))
                                   .add("start", hexAddress(e.start))
                                   .add("length", e.length)
                                   .text());
            layout += std::string("  ") + kindName(e.kind) + " " + hexAddress(e.start) + "+" +
                      std::to_string(e.length);
        }
        if (in.json) {
            types.push_back(JsonObject()
                                .add("name", facts.name)
                                .add("group", row.group)
                                .add("vpp", voltsText(row.vpp))
                                .add("duolink", row.dlkAble != 0)
                                .addJson("segments", jsonArray(segments))
                                .text());
        } else {
            std::fprintf(out, "%-14s Vpp %s  DuoLink %s %s\n", facts.name.c_str(),
                         voltsText(row.vpp).c_str(), yesNo(row.dlkAble != 0).c_str(),
                         layout.c_str());
        }
    }
    if (in.json) {
        std::fprintf(
            out, "%s\n",
            JsonObject().add("command", "types").addJson("types", jsonArray(types)).text().c_str());
    }
    return kExitPassed;
}

} // namespace octo::cli

// octo816 readout: a target's memory into a file.
#include "CommandSupport.h"

#include "Escape.h"
#include "Json.h"
#include "Progress.h"

#include "files/output_file.h"

#include "run/programming.h"
#include "wire/messages.h"

#include <algorithm>
#include <filesystem>

namespace octo::cli {

namespace {

// The read-out runs at the window's fixed interface supply unless --vcc names another.
constexpr uint32_t kReadOutVccTenths = 30;

// The read can take minutes: a file that cannot be written is refused before the unit is
// touched, and so is anything at the path that is not a file (a device node, a folder).
void checkOutput(const std::string& path) {
    using files::OutputCheck;
    switch (files::checkOutputFile(path).check) {
    case OutputCheck::Writable:
        return;
    case OutputCheck::Directory:
        throw Failure(kExitBadInput, "cannot write " + path + ": it is a folder");
    case OutputCheck::NotRegular:
        throw Failure(kExitBadInput, "cannot write " + path + ": it is not a regular file");
    case OutputCheck::ReadOnly:
        throw Failure(kExitBadInput, "cannot write " + path + ": it is write-protected");
    case OutputCheck::EmptyPath:
    case OutputCheck::CannotCreate:
        break;
    }
    throw Failure(kExitBadInput, "cannot write " + path);
}

uint32_t readOutFormat(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".hex" || extension == ".ihex" ? OCTO_FORMAT_INTEL_HEX
                                                       : OCTO_FORMAT_QX_TEXT;
}

} // namespace

int readoutCommand(const Invocation& in, std::FILE* out) {
    checkOutput(in.outPath);
    UnitLink link(in);
    Progress progress;
    const uint32_t options = in.duoLink ? wire::option::kDuoLink : 0;
    const auto vcc = static_cast<uint32_t>(in.supplyTenths.value_or(kReadOutVccTenths));
    int32_t result = OctoLoadParameters(options, vcc, run::kExternalSupplySettleMs);
    if (result != kOk) {
        fail(result, "sending the parameters");
    }
    const auto started = Clock::now();
    progress.start("Reading target " + std::to_string(in.target), streamMs(in.length, in.baud));
    result = OctoReadTargetFile(static_cast<uint32_t>(in.target - 1), in.start, in.length,
                                in.outPath.c_str(), readOutFormat(in.outPath));
    progress.finish();
    if (result == kUnitRefused) {
        throw Failure(kExitTargetsFailed, "target " + std::to_string(in.target) +
                                              " could not be read: " + libraryText(result));
    }
    if (result != kOk) {
        fail(result, "reading target " + std::to_string(in.target));
    }
    const double ms = msSince(started);
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "readout")
                         .add("port", in.port)
                         .add("target", in.target)
                         .add("start", hexAddress(in.start))
                         .add("length", in.length)
                         .add("file", in.outPath)
                         .add("duration_ms", static_cast<int64_t>(ms))
                         .addJson("result", resultJson(result))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "Target %d: %u bytes from %s written to %s in %s.\n", in.target,
                     static_cast<unsigned>(in.length), hexAddress(in.start).c_str(),
                     printable(in.outPath).c_str(), seconds(ms).c_str());
    }
    return kExitPassed;
}

} // namespace octo::cli

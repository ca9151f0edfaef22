// octo816 info, selftest and erase-image: the unit's identity and its own work.
#include "CommandSupport.h"

#include "Json.h"
#include "Progress.h"

#include "run/programming.h"
#include "wire/messages.h"

namespace octo::cli {

namespace {

// The window's first expectation of the self-test, for the progress bar and the time-out.
constexpr uint32_t kSelftestExpectedMs = 5000;

void printOutcome(const Invocation& in, std::FILE* out, const char* command, int32_t code,
                  double ms, const std::string& human) {
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", command)
                         .add("port", in.port)
                         .add("duration_ms", static_cast<int64_t>(ms))
                         .addJson("result", resultJson(code))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "%s\n", human.c_str());
    }
}

} // namespace

int infoCommand(const Invocation& in, std::FILE* out) {
    UnitLink link(in);
    const trace::UnitIdentity unit = trace::unitIdentity(readBlock("reading the unit"));
    const char* state = unit.firmwareVersion ? "ready" : "no firmware";
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "info")
                         .add("port", in.port)
                         .add("baud", in.baud)
                         .add("hardware", trace::versionText(unit.hardwareVersion))
                         .add("firmware", trace::versionText(unit.firmwareVersion))
                         .add("firmware_name", unit.firmwareName.value_or(""))
                         .add("third_version", trace::versionText(unit.thirdVersion))
                         .add("state", state)
                         .add("sockets", run::socketsText(in.sockets))
                         .text()
                         .c_str());
        return kExitPassed;
    }
    std::fprintf(out, "%s\n", unitLine(in.port, unit).c_str());
    if (unit.thirdVersion) {
        std::fprintf(out, "  third version %s\n", trace::versionText(unit.thirdVersion).c_str());
    }
    std::fprintf(out, "  state: %s\n", state);
    std::fprintf(out, "  sockets in use: %s\n", run::socketsText(in.sockets).c_str());
    return kExitPassed;
}

int selftestCommand(const Invocation& in, std::FILE* out) {
    UnitLink link(in);
    Progress progress;
    const auto started = Clock::now();
    progress.start("Selftest", kSelftestExpectedMs);
    const int32_t result = OctoSelftest(run::libraryTimeout(kSelftestExpectedMs));
    progress.finish();
    if (result != kOk && result != kUnitRefused) {
        fail(result, "the selftest");
    }
    const double ms = msSince(started);
    if (result == kOk) {
        printOutcome(in, out, "selftest", result, ms, "Selftest passed in " + seconds(ms) + ".");
        return kExitPassed;
    }
    const ResultBlock block = readBlock("reading the selftest's result");
    const std::string failed =
        "selftest failed: unit error " + std::to_string(block[wire::kMiscErrorsByte]);
    printOutcome(in, out, "selftest", result, ms,
                 "Selftest FAILED: unit error " + std::to_string(block[wire::kMiscErrorsByte]));
    throw Failure(kExitUnitError, failed);
}

int eraseImageCommand(const Invocation& in, std::FILE* out) {
    UnitLink link(in);
    Progress progress;
    const auto started = Clock::now();
    progress.start("Erasing image memory", kEraseImageExpectedMs);
    const int32_t result = OctoEraseImage();
    progress.finish();
    if (result != kOk) {
        fail(result, "erasing the unit's image memory");
    }
    const double ms = msSince(started);
    printOutcome(in, out, "erase-image", result, ms, "Image memory erased in " + seconds(ms) + ".");
    return kExitPassed;
}

} // namespace octo::cli

#include "Commands.h"

#include "Json.h"
#include "Progress.h"

#include "devices/device_table.h"
#include "objfile/firmware.h"
#include "objfile/firmware_file.h"
#include "run/image_files.h"
#include "run/programming.h"
#include "trace/trace_log.h"
#include "wire/messages.h"

#include <octo816.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <thread>
#include <vector>

namespace octo::cli {

namespace {

using Clock = std::chrono::steady_clock;
using ResultBlock = std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>;

constexpr int32_t kOk = 0;
constexpr int32_t kUnitRefused = 8;
constexpr int32_t kLoadedWithWarning = 17;
constexpr int32_t kFailedRun = 50;
// The library's codes for a file it cannot take or an argument it refuses.
constexpr int32_t kFirstFileCode = 11;
constexpr int32_t kArgumentRefused = 16;
constexpr int32_t kNotFirmwareCode = 18;
constexpr int32_t kAlreadySpecifiedCode = 53;

// The window's first expectations of these, for the progress bar and the time-out.
constexpr uint32_t kSelftestExpectedMs = 5000;
constexpr uint32_t kEraseImageExpectedMs = 1000;
constexpr uint32_t kFirmwareEraseExpectedMs = 2000;
// The read-out runs at the window's fixed interface supply unless --vcc names another.
constexpr uint32_t kReadOutVccTenths = 30;
// The temporary loader needs this long to start, new firmware this long to initialise.
constexpr auto kTempLoaderStart = std::chrono::milliseconds(600);
constexpr auto kFirmwareStart = std::chrono::milliseconds(1000);
// Line time of a byte, and what framing and answers add to a stream's data.
constexpr double kLineBitsPerByte = 10;
constexpr double kStreamOverhead = 1.1;
constexpr double kMsPerSecond = 1000;
constexpr uint32_t kKindMask = 0xFFFF;
constexpr double kTenthsPerVolt = 10;
constexpr size_t kShortTextChars = 32;

bool isBadInputCode(int32_t code) {
    return (code >= kFirstFileCode && code <= kArgumentRefused) || code == kNotFirmwareCode ||
           code == kAlreadySpecifiedCode;
}

std::string libraryText(int32_t code) {
    const char* text = GetErrorString(code);
    return text != nullptr ? text : "";
}

[[noreturn]] void fail(int32_t code, const std::string& what) {
    throw Failure(isBadInputCode(code) ? kExitBadInput : kExitUnitError,
                  what + ": " + libraryText(code) + " (code " + std::to_string(code) + ")");
}

std::string formatted(const char* format, uint32_t value) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned>(value));
    return text.data();
}

std::string hex8(uint32_t value) {
    return formatted("%08X", value);
}

std::string hexAddress(uint32_t value) {
    return formatted("0x%X", value);
}

std::string seconds(double ms) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), "%.2f s", ms / kMsPerSecond);
    return text.data();
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

uint32_t streamMs(uint64_t bytes, uint32_t baud) {
    return static_cast<uint32_t>(static_cast<double>(bytes) * kLineBitsPerByte * kStreamOverhead *
                                 kMsPerSecond / baud);
}

double msSince(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// The path the library opens for a port: on Windows "COM12" only opens as "\\.\COM12".
std::string portPath(const std::string& port) {
#ifdef _WIN32
    const bool comPort = port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
                         (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
    if (comPort && port.find_first_not_of("0123456789", 3) == std::string::npos) {
        return "\\\\.\\" + port;
    }
#endif
    return port;
}

// The line to the unit, open for the life of the command.
class UnitLink {
public:
    explicit UnitLink(const Invocation& in) {
        const int32_t result = InitCom(portPath(in.port).c_str(), in.baud);
        if (result != kOk) {
            ReleaseCom();
            fail(result, "no unit on " + in.port);
        }
    }
    ~UnitLink() { ReleaseCom(); }
    UnitLink(const UnitLink&) = delete;
    UnitLink& operator=(const UnitLink&) = delete;
};

// The result block as the unit answers it now (50, a run it could not do, fills it too).
ResultBlock readBlock(const char* what) {
    ResultBlock block{};
    const int32_t result = OctoGetResult(block.data());
    if (result != kOk && result != kFailedRun) {
        fail(result, what);
    }
    return block;
}

std::string unitJson(const std::string& port, const trace::UnitIdentity& unit) {
    return JsonObject()
        .add("port", port)
        .add("hardware", trace::versionText(unit.hardwareVersion))
        .add("firmware", trace::versionText(unit.firmwareVersion))
        .add("firmware_name", unit.firmwareName.value_or(""))
        .text();
}

std::string unitLine(const std::string& port, const trace::UnitIdentity& unit) {
    std::string line =
        "Unit on " + port + ": hardware " + trace::versionText(unit.hardwareVersion) + ", ";
    if (!unit.firmwareVersion) {
        return line + "no firmware";
    }
    return line + "firmware " + trace::versionText(unit.firmwareVersion) + " \"" +
           unit.firmwareName.value_or("") + "\"";
}

std::string resultJson(int32_t code) {
    return JsonObject().add("code", code).add("text", libraryText(code)).text();
}

// A device type of the table, with the segment rows the library hands out for it.
struct TypeFacts {
    const devices::DeviceType* row = nullptr;
    std::string name;
    std::vector<OctoSegmentEntry> segments;

    bool has(uint32_t kind) const {
        return std::any_of(segments.begin(), segments.end(),
                           [&](const OctoSegmentEntry& e) { return (e.kind & kKindMask) == kind; });
    }
};

TypeFacts typeFacts(const devices::DeviceType& row) {
    TypeFacts facts{&row, std::string(row.name), {}};
    const OctoSegmentEntry* table = nullptr;
    if (GetDevice(facts.name.c_str(), &table) != kOk || table == nullptr) {
        throw Failure(kExitBadInput,
                      "the library does not know the device type \"" + facts.name + "\"");
    }
    for (int i = 0; i < OCTO_MAX_SEGMENTS && (table[i].kind & kKindMask) != OCTO_SEGMENT_END; ++i) {
        facts.segments.push_back(table[i]);
    }
    return facts;
}

TypeFacts typeNamed(const std::string& name) {
    const devices::DeviceType* row = devices::findDeviceType(name);
    if (row == nullptr) {
        throw Failure(kExitBadInput,
                      "unknown device type \"" + name + "\" (octo816 types lists them)");
    }
    return typeFacts(*row);
}

// ---- program ----

struct ProgramPlan {
    TypeFacts type;
    run::ProgrammingChoice choice;
    run::ProgrammingParameters parameters;
    uint32_t expectedMs = 0;
    run::ImageFiles images;
};

std::string voltsText(int tenths) {
    std::array<char, kShortTextChars> text{};
    std::snprintf(text.data(), text.size(), "%.1f V", tenths / kTenthsPerVolt);
    return text.data();
}

ProgramPlan planProgram(const Invocation& in) {
    ProgramPlan plan;
    plan.type = typeNamed(in.typeName);
    const devices::DeviceType& row = *plan.type.row;
    const std::string& name = plan.type.name;
    if (in.erase.protectedInfo && !plan.type.has(OCTO_SEGMENT_PROTECTED_INFO)) {
        throw Failure(kExitBadInput, name + " has no protected information segment to erase");
    }
    if (in.erase.bsl && !plan.type.has(OCTO_SEGMENT_BSL)) {
        throw Failure(kExitBadInput, name + " has no boot-loader segment to erase");
    }
    if (in.duoLink && row.dlkAble == 0) {
        throw Failure(kExitBadInput, name + " cannot be programmed over DuoLink");
    }
    if (in.supplyTenths && *in.supplyTenths < row.vpp) {
        throw Failure(kExitBadInput, "--vcc " + voltsText(*in.supplyTenths) + " is below the " +
                                         voltsText(row.vpp) + " that " + name +
                                         " needs to erase and program");
    }
    // As the window's settings hold them, with its defaults for what the command line does
    // not offer (marginal verify on, the fastest interface, the supply left on).
    const int erase = in.erase.any() ? 1 : 0;
    plan.choice = {.erase = erase,
                   .eraseCheck = erase,
                   .eraseInfo = in.erase.info ? 1 : 0,
                   .eraseMain = in.erase.main ? 1 : 0,
                   .erasePinfo = in.erase.protectedInfo ? 1 : 0,
                   .eraseBsl = in.erase.bsl ? 1 : 0,
                   .program = 1,
                   .verify = in.verify ? 1 : 0,
                   .secure = in.secure ? 1 : 0,
                   .verifyMarginal = 1,
                   .useDuoLink = in.duoLink ? 1 : 0,
                   .jtagSpeed = 0,
                   .supplyByProgrammer = in.supplyTenths ? 1 : 0,
                   .supplyTenths = in.supplyTenths.value_or(0),
                   .switchVccOff = 0};
    plan.parameters = run::programmingParameters(plan.choice, row.dlkAble != 0, in.settleMs);
    plan.expectedMs = run::estimatedRunMs(plan.choice, run::memoryWords(plan.type.segments),
                                          in.supplyTenths ? in.settleMs : 0);
    plan.images = run::readImageFiles(in.files, plan.type.segments);
    if (!plan.images.ok()) {
        const objfile::Diagnostic& error = *plan.images.read.error;
        throw Failure(kExitBadInput, plan.images.failedPath + ": " + error.describe() + " (" +
                                         std::string(objfile::resultCodeName(error.code)) + ")");
    }
    for (const objfile::Diagnostic& warning : plan.images.read.warnings) {
        std::fprintf(stderr, "octo816: warning: %s\n", warning.describe().c_str());
    }
    return plan;
}

void loadImages(const Invocation& in, const ProgramPlan& plan, Progress& progress) {
    progress.start("Erasing image memory", kEraseImageExpectedMs);
    int32_t result = OctoEraseImage();
    progress.finish();
    if (result != kOk) {
        fail(result, "erasing the unit's image memory");
    }
    if ((result = OctoSelectImage(0)) != kOk) {
        fail(result, "selecting the image");
    }
    progress.start("Loading the image", streamMs(plan.images.imageBytes, in.baud));
    for (size_t i = 0; i < in.files.size(); ++i) {
        // Without it the second file would replace the first instead of joining it.
        if (i > 0) {
            OctoAppendImage();
        }
        result = OctoLoadImage(in.files[i].c_str(), plan.type.name.c_str());
        if (result != kOk && result != kLoadedWithWarning) {
            progress.finish();
            fail(result, "loading " + in.files[i]);
        }
    }
    progress.finish();
}

struct RunOutcome {
    int number = 0;
    ResultBlock block{};
    int32_t code = kOk;
    double ms = 0;
    std::array<trace::TargetOutcome, trace::kTargets> targets{};

    int present() const {
        return static_cast<int>(std::count_if(targets.begin(), targets.end(),
                                              [](const auto& t) { return t.present(); }));
    }
    int passed() const {
        return static_cast<int>(std::count_if(
            targets.begin(), targets.end(), [](const auto& t) { return t.present() && t.passed; }));
    }
    int exitCode() const {
        if (code != kOk) {
            return kExitUnitError;
        }
        return present() > 0 && passed() == present() ? kExitPassed : kExitTargetsFailed;
    }
};

RunOutcome runOnce(const ProgramPlan& plan, Progress& progress, int number) {
    RunOutcome outcome;
    outcome.number = number;
    const auto started = Clock::now();
    const run::ProgrammingParameters& p = plan.parameters;
    int32_t result = OctoLoadParameters(p.options, p.targetVcc, p.settleMs);
    if (result != kOk) {
        fail(result, "sending the parameters");
    }
    progress.start("Main process", plan.expectedMs);
    result = OctoMainProcess(run::libraryTimeout(plan.expectedMs));
    progress.finish();
    if (result != kOk) {
        fail(result, "the main process");
    }
    outcome.code = OctoGetResult(outcome.block.data());
    if (outcome.code != kOk && outcome.code != kFailedRun) {
        fail(outcome.code, "reading the result");
    }
    outcome.ms = msSince(started);
    outcome.targets = trace::targetOutcomes(outcome.block);
    return outcome;
}

std::string runJson(const Invocation& in, const ProgramPlan& plan, const RunOutcome& run) {
    std::vector<std::string> files;
    for (const run::ImageFileFacts& f : plan.images.files) {
        files.push_back(JsonObject()
                            .add("file", f.path)
                            .add("bytes", f.bytes)
                            .add("crc32", hex8(f.crc32))
                            .text());
    }
    std::vector<std::string> targets;
    for (const trace::TargetOutcome& t : run.targets) {
        targets.push_back(JsonObject()
                              .add("target", t.target)
                              .add("present", t.present())
                              .add("connected", t.connected)
                              .add("erase_checked", t.eraseChecked)
                              .add("verified", t.verified)
                              .add("secured", t.secured)
                              .add("passed", t.passed)
                              .text());
    }
    return JsonObject()
        .add("command", "program")
        .add("run", run.number)
        .addJson("unit", unitJson(in.port, trace::unitIdentity(run.block)))
        .add("device_type", plan.type.name)
        .addJson("images", jsonArray(files))
        .add("image_bytes", plan.images.imageBytes)
        .add("image_crc32", hex8(plan.images.imageCrc32))
        .addJson("targets", jsonArray(targets))
        .add("duration_ms", static_cast<int64_t>(run.ms))
        .addJson("result", resultJson(run.code))
        .add("passed", run.exitCode() == kExitPassed)
        .text();
}

std::string yesNo(bool value) {
    return value ? "yes" : "no ";
}

void printRun(std::FILE* out, const ProgramPlan& plan, const RunOutcome& run) {
    std::fprintf(out, "Run %d: %s, %s: %s\n", run.number, plan.type.name.c_str(),
                 seconds(run.ms).c_str(), libraryText(run.code).c_str());
    std::string empty;
    for (const trace::TargetOutcome& t : run.targets) {
        if (!t.present()) {
            empty += " " + std::to_string(t.target);
            continue;
        }
        std::fprintf(
            out, "  target %d  connected %s  erase-checked %s  verified %s  secured %s  %s\n",
            t.target, yesNo(t.connected).c_str(), yesNo(t.eraseChecked).c_str(),
            yesNo(t.verified).c_str(), yesNo(t.secured).c_str(), t.passed ? "passed" : "FAILED");
    }
    if (!empty.empty()) {
        std::fprintf(out, "  no target found:%s\n", empty.c_str());
    }
    std::fprintf(out, "%d of %d targets passed.\n", run.passed(), run.present());
}

void logRun(const Invocation& in, const ProgramPlan& plan, const RunOutcome& run) {
    if (in.logPath.empty()) {
        return;
    }
    const trace::UnitIdentity unit = trace::unitIdentity(run.block);
    const trace::RunRecord record{.time = trace::utcTimestamp(),
                                  .station = trace::stationName(),
                                  .firmwareVersion = trace::versionText(unit.firmwareVersion),
                                  .hardwareVersion = trace::versionText(unit.hardwareVersion),
                                  .deviceType = plan.type.name,
                                  .imageCrc32 = plan.images.imageCrc32,
                                  .resultCode = run.code};
    if (!trace::appendLines(in.logPath, trace::runLines(record, run.block))) {
        throw Failure(kExitBadInput, "cannot write the log " + in.logPath);
    }
}

int programCommand(const Invocation& in, std::FILE* out) {
    const ProgramPlan plan = planProgram(in);
    // A log that cannot be written is found before any chip is touched.
    if (!in.logPath.empty() && !trace::appendLines(in.logPath, {})) {
        throw Failure(kExitBadInput, "cannot write the log " + in.logPath);
    }
    Progress progress;
    UnitLink link(in);
    if (!in.json) {
        std::fprintf(out, "%s\n",
                     unitLine(in.port, trace::unitIdentity(readBlock("reading the unit"))).c_str());
    }
    loadImages(in, plan, progress);
    if (!in.json) {
        for (const run::ImageFileFacts& f : plan.images.files) {
            std::fprintf(out, "Image file %s: %llu bytes, CRC-32 %s\n", f.path.c_str(),
                         static_cast<unsigned long long>(f.bytes), hex8(f.crc32).c_str());
        }
        std::fprintf(out, "Loaded for %s: %llu bytes, image CRC-32 %s\n", plan.type.name.c_str(),
                     static_cast<unsigned long long>(plan.images.imageBytes),
                     hex8(plan.images.imageCrc32).c_str());
    }
    int status = kExitPassed;
    for (int number = 1; number <= in.repeat; ++number) {
        const RunOutcome run = runOnce(plan, progress, number);
        if (in.json) {
            std::fprintf(out, "%s\n", runJson(in, plan, run).c_str());
        } else {
            printRun(out, plan, run);
        }
        std::fflush(out);
        logRun(in, plan, run);
        status = std::max(status, run.exitCode());
        if (run.code != kOk) {
            // The unit's image memory no longer holds a whole image: no run can follow.
            std::fprintf(stderr, "octo816: run %d: the unit could not carry it out: %s (code %d)\n",
                         number, libraryText(run.code).c_str(), run.code);
            break;
        }
    }
    return status;
}

// ---- info, selftest, erase-image ----

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
                         .text()
                         .c_str());
        return kExitPassed;
    }
    std::fprintf(out, "%s\n", unitLine(in.port, unit).c_str());
    if (unit.thirdVersion) {
        std::fprintf(out, "  third version %s\n", trace::versionText(unit.thirdVersion).c_str());
    }
    std::fprintf(out, "  state: %s\n", state);
    return kExitPassed;
}

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

// ---- readout ----

bool canWrite(const std::string& path) {
    // The read can take minutes: a file that cannot be written is refused before it.
    const std::string probe = path + ".octo816-probe";
    const bool writable = std::ofstream(probe).good();
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return writable;
}

uint32_t readOutFormat(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".hex" || extension == ".ihex" ? OCTO_FORMAT_INTEL_HEX
                                                       : OCTO_FORMAT_QX_TEXT;
}

int readoutCommand(const Invocation& in, std::FILE* out) {
    if (!canWrite(in.outPath)) {
        throw Failure(kExitBadInput, "cannot write " + in.outPath);
    }
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
                     in.outPath.c_str(), seconds(ms).c_str());
    }
    return kExitPassed;
}

// ---- firmware ----

objfile::FirmwareFile firmwareFile(const std::string& path) {
    // Read before anything is erased: a file the library refused afterwards would leave the
    // unit without firmware.
    objfile::FirmwareFile file = objfile::readFirmwareFile(path, fileName(path));
    using Problem = objfile::FirmwareFile::Problem;
    switch (file.problem) {
    case Problem::None:
        return file;
    case Problem::CannotOpen:
        throw Failure(kExitBadInput, path + ": cannot be opened");
    case Problem::FileIo:
        throw Failure(kExitBadInput, path + ": cannot be read whole");
    case Problem::NotObjectFile:
        throw Failure(kExitBadInput, path + ": " + file.read.error->describe());
    case Problem::NotFirmware:
        break;
    }
    throw Failure(kExitBadInput, path + ": not a firmware file of the unit: " + file.check.problem);
}

void eraseFirmware(Progress& progress, uint32_t start, uint32_t length) {
    progress.start("Erasing firmware", kFirmwareEraseExpectedMs);
    const int32_t result = OctoEraseFirmware(start, length);
    progress.finish();
    if (result != kOk) {
        fail(result, "erasing the unit's firmware");
    }
}

void loadFirmware(Progress& progress, const std::string& what, uint64_t bytes, uint32_t baud) {
    progress.start("Loading " + fileName(what), streamMs(bytes, baud));
    const int32_t result = OctoLoadFirmware(what.c_str());
    progress.finish();
    if (result != kOk) {
        fail(result, "loading " + what);
    }
}

int firmwareCommand(const Invocation& in, std::FILE* out) {
    const std::string& path = in.files.front();
    const objfile::FirmwareFile file = firmwareFile(path);
    UnitLink link(in);
    Progress progress;
    const auto started = Clock::now();
    const trace::UnitIdentity before = trace::unitIdentity(readBlock("reading the unit"));
    if (before.thirdVersion.value_or(0) < objfile::kLoaderlessThirdVersion) {
        // An old boot loader takes new firmware only through the library's loader. The
        // loader area is erased twice, as the window does; only the second answer counts.
        OctoEraseFirmware(objfile::kLoaderAreaStart, objfile::kLoaderAreaLength);
        eraseFirmware(progress, objfile::kLoaderAreaStart, objfile::kLoaderAreaLength);
        loadFirmware(progress, objfile::kTempLoaderName, objfile::kLoaderAreaLength, in.baud);
        std::this_thread::sleep_for(kTempLoaderStart);
    }
    eraseFirmware(progress, objfile::kFirmwareAreaStart, objfile::kFirmwareAreaLength);
    loadFirmware(progress, path, file.image.byteCount(), in.baud);
    std::this_thread::sleep_for(kFirmwareStart);
    const trace::UnitIdentity after = trace::unitIdentity(readBlock("reading the unit"));
    const double ms = msSince(started);
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "firmware")
                         .addJson("unit", unitJson(in.port, after))
                         .add("file", path)
                         .add("duration_ms", static_cast<int64_t>(ms))
                         .addJson("result", resultJson(kOk))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "Firmware %s \"%s\" installed in %s.\n",
                     trace::versionText(after.firmwareVersion).c_str(),
                     after.firmwareName.value_or("").c_str(), seconds(ms).c_str());
    }
    return kExitPassed;
}

// ---- types ----

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

} // namespace

int runCommand(const Invocation& in, std::FILE* out) {
    switch (in.command) {
    case Command::Help:
        std::fputs(usageText(), out);
        return kExitPassed;
    case Command::Info:
        return infoCommand(in, out);
    case Command::Program:
        return programCommand(in, out);
    case Command::Selftest:
        return selftestCommand(in, out);
    case Command::Readout:
        return readoutCommand(in, out);
    case Command::Firmware:
        return firmwareCommand(in, out);
    case Command::EraseImage:
        return eraseImageCommand(in, out);
    case Command::Types:
        return typesCommand(in, out);
    }
    return kExitBadInput;
}

} // namespace octo::cli

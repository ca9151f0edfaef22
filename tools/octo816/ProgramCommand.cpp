// octo816 program: checks the type and the files, loads the image, runs the main process
// N times, reports each run and appends it to the traceability log.
#include "CommandSupport.h"

#include "Escape.h"
#include "Json.h"
#include "Progress.h"
#include "SerialRun.h"
#include "StopSignals.h"

#include "run/image_files.h"
#include "run/programming.h"

#include <algorithm>
#include <optional>

namespace octo::cli {

namespace {

constexpr int32_t kLoadedWithWarning = 17;

struct ProgramPlan {
    TypeFacts type;
    run::ProgrammingChoice choice;
    run::ProgrammingParameters parameters;
    uint32_t expectedMs = 0;
    run::ImageFiles images;
};

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
        std::fprintf(stderr, "octo816: warning: %s\n", printable(warning.describe()).c_str());
    }
    return plan;
}

uint32_t bigEndianAt(const ResultBlock& block, size_t at) {
    uint32_t value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        value = (value << 8) | block[i];
    }
    return value;
}

// A long step of the unit: its bar, and how long a stop that comes during it waits.
void startStep(Progress& progress, const std::string& label, uint32_t expectedMs) {
    progress.start(label, expectedMs);
    stopMayWait(expectedMs);
}

void endStep(Progress& progress) {
    progress.finish();
    stopMayWait(0);
}

// Where a stop signal ends the command: before a run's records leave the computer (the steps
// before, the link and the image's load, run to their end), or after a run. Records that
// never left it are released first.
void stopPoint(SerialRun* serial, const std::string& where) {
    if (stopSignal() == 0) {
        return;
    }
    std::string message = "stopped by " + stopSignalName() + " " + where;
    if (serial != nullptr && serial->holdsRecords()) {
        message += serial->abandon() ? ": its records are released"
                                     : ": its records stay reserved (void at the ledger's "
                                       "next open)";
    }
    throw Failure(kExitStopped + stopSignal(), message);
}

// Loads the files, and takes the image's size and CRC-32 from what the unit confirmed for
// its slot: the library reads each file once and sends what it read, which is not the
// check's reading when a file changed in between.
void loadImages(const Invocation& in, ProgramPlan& plan, Progress& progress) {
    startStep(progress, "Erasing image memory", kEraseImageExpectedMs);
    int32_t result = OctoEraseImage();
    endStep(progress);
    if (result != kOk) {
        fail(result, "erasing the unit's image memory");
    }
    if ((result = OctoSelectImage(0)) != kOk) {
        fail(result, "selecting the image");
    }
    startStep(progress, "Loading the image", streamMs(plan.images.imageBytes, in.baud));
    for (size_t i = 0; i < in.files.size(); ++i) {
        // Without it the second file would replace the first instead of joining it.
        if (i > 0) {
            OctoAppendImage();
        }
        result = OctoLoadImage(in.files[i].c_str(), plan.type.name.c_str());
        if (result != kOk && result != kLoadedWithWarning) {
            endStep(progress);
            fail(result, "loading " + in.files[i]);
        }
    }
    endStep(progress);
    const ResultBlock block = readBlock("reading the loaded image");
    plan.images.imageBytes = bigEndianAt(block, OCTO_RESULT_IMAGE_BYTES);
    plan.images.imageCrc32 = bigEndianAt(block, OCTO_RESULT_IMAGE_CRC32);
}

struct RunOutcome {
    int number = 0;
    ResultBlock block{};
    int32_t code = kOk;
    double ms = 0;
    std::array<trace::TargetOutcome, trace::kTargets> targets{};
    std::optional<TargetRecords> records; // with serial records only

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

std::string codeText(int32_t code) {
    return libraryText(code) + " (code " + std::to_string(code) + ")";
}

// A run that gave no result: its records void before the failure is told.
[[noreturn]] void failRun(SerialRun* serial, int32_t code, const std::string& what) {
    if (serial != nullptr) {
        serial->settleWithoutResult(what + ": " + codeText(code));
    }
    fail(code, what);
}

RunOutcome runOnce(const ProgramPlan& plan, Progress& progress, int number, SerialRun* serial) {
    RunOutcome outcome;
    outcome.number = number;
    const auto started = Clock::now();
    const run::ProgrammingParameters& p = plan.parameters;
    int32_t result = OctoLoadParameters(p.options, p.targetVcc, p.settleMs);
    if (result != kOk) {
        fail(result, "sending the parameters");
    }
    // The last point where the run's records have not left the computer.
    stopPoint(serial, "before run " + std::to_string(number));
    if (serial != nullptr) {
        serial->send();
        serial->handOver();
    }
    startStep(progress, "Main process", plan.expectedMs);
    result = OctoMainProcess(run::libraryTimeout(plan.expectedMs));
    endStep(progress);
    if (result != kOk) {
        if (serial != nullptr && result >= kFirstRecordRefusal && result <= kLastRecordRefusal) {
            serial->refusedBeforeSending();
            fail(result, "the main process");
        }
        failRun(serial, result, "the main process");
    }
    outcome.code = OctoGetResult(outcome.block.data());
    if (outcome.code != kOk && outcome.code != kFailedRun) {
        failRun(serial, outcome.code, "reading the result");
    }
    outcome.ms = msSince(started);
    outcome.targets = trace::targetOutcomes(outcome.block);
    if (serial != nullptr) {
        // A run the unit counts as failed (50) has its block too, and it says which chips
        // the unit reached.
        outcome.records = serial->settle(outcome.block);
    }
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
        JsonObject target;
        target.add("target", t.target)
            .add("present", t.present())
            .add("connected", t.connected)
            .add("erase_checked", t.eraseChecked)
            .add("verified", t.verified)
            .add("secured", t.secured)
            .add("passed", t.passed);
        if (run.records) {
            const TargetRecord& r = (*run.records)[static_cast<size_t>(t.target - 1)];
            target.add("record", r.value).add("record_state", r.state);
        }
        targets.push_back(target.text());
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

bool inUse(uint8_t sockets, int target) {
    return (sockets >> (target - 1) & 1U) != 0;
}

// A socket not in use is expected to be empty: only a chip found there is told, as such.
void printRun(std::FILE* out, const Invocation& in, const ProgramPlan& plan,
              const RunOutcome& run) {
    std::fprintf(out, "Run %d: %s, %s: %s\n", run.number, plan.type.name.c_str(),
                 seconds(run.ms).c_str(), libraryText(run.code).c_str());
    std::string empty;
    for (const trace::TargetOutcome& t : run.targets) {
        if (!t.present()) {
            if (inUse(in.sockets, t.target)) {
                empty += " " + std::to_string(t.target);
            }
            continue;
        }
        std::string record;
        if (run.records) {
            const TargetRecord& r = (*run.records)[static_cast<size_t>(t.target - 1)];
            record = "  record " + r.value + " " + r.state;
        }
        std::fprintf(
            out, "  target %d  connected %s  erase-checked %s  verified %s  secured %s  %s%s%s\n",
            t.target, yesNo(t.connected).c_str(), yesNo(t.eraseChecked).c_str(),
            yesNo(t.verified).c_str(), yesNo(t.secured).c_str(), t.passed ? "passed" : "FAILED",
            record.c_str(), inUse(in.sockets, t.target) ? "" : "  (socket not in use)");
    }
    if (!empty.empty()) {
        std::fprintf(out, "  no target found:%s\n", empty.c_str());
    }
    std::fprintf(out, "%d of %d targets passed.\n", run.passed(), run.present());
}

// The run's serial records in socket order, or none.
std::array<std::string, trace::kTargets> recordValues(const RunOutcome& run) {
    std::array<std::string, trace::kTargets> values;
    if (run.records) {
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = (*run.records)[i].value;
        }
    }
    return values;
}

trace::LogWrite logRun(const Invocation& in, const ProgramPlan& plan, const RunOutcome& run) {
    if (in.logPath.empty()) {
        return trace::LogWrite::Written;
    }
    const trace::UnitIdentity unit = trace::unitIdentity(run.block);
    const UnitRecord unitRecord = readUnitRecord();
    const trace::RunRecord record{.time = trace::utcTimestamp(),
                                  .station = trace::stationName(),
                                  .firmwareVersion = trace::versionText(unit.firmwareVersion),
                                  .hardwareVersion = trace::versionText(unit.hardwareVersion),
                                  .deviceType = plan.type.name,
                                  .imageCrc32 = plan.images.imageCrc32,
                                  .resultCode = run.code,
                                  .unit = unitRecord.serial,
                                  .run = unitRecord.runs,
                                  .serials = recordValues(run),
                                  .asked = run::askedSteps(plan.choice),
                                  .socketsInUse = in.sockets};
    return trace::appendLines(in.logPath, trace::runLines(record, run.block));
}

std::string notALog(const std::string& path) {
    return path + " is not a traceability log (its first line is not the log's header)";
}

// Before the unit is touched: a log that will not take the runs is bad input.
void checkLogFirst(const Invocation& in) {
    if (in.logPath.empty()) {
        return;
    }
    switch (trace::checkLog(in.logPath)) {
    case trace::LogWrite::Written:
    case trace::LogWrite::Busy:
        return;
    case trace::LogWrite::CannotWrite:
        break;
    case trace::LogWrite::NotALog:
        throw Failure(kExitBadInput, notALog(in.logPath));
    }
    throw Failure(kExitBadInput, "cannot write the log " + in.logPath);
}

// After a run: the chips are programmed, so a log that did not take the run is said as such.
void requireLogged(trace::LogWrite written, const Invocation& in, int number) {
    const std::string lost =
        "run " + std::to_string(number) + " programmed the chips but is not in the log: ";
    switch (written) {
    case trace::LogWrite::Written:
        return;
    case trace::LogWrite::Busy:
        throw Failure(kExitNotLogged, lost + "another process held " + in.logPath + " locked for " +
                                          std::to_string(trace::kLockWait.count() / 1000) + " s");
    case trace::LogWrite::NotALog:
        throw Failure(kExitNotLogged, lost + notALog(in.logPath));
    case trace::LogWrite::CannotWrite:
        break;
    }
    throw Failure(kExitNotLogged, lost + "cannot write the log " + in.logPath);
}

int programRuns(const Invocation& in, ProgramPlan& plan, SerialRun* serial, std::FILE* out);

} // namespace

int programCommand(const Invocation& in, std::FILE* out) {
    // From here a stop signal ends the command at its next stop point.
    catchStopSignals();
    ProgramPlan plan = planProgram(in);
    // A log that cannot be written is found before any chip is touched; it is created with
    // the first run's lines, so a command that fails before leaves no file.
    checkLogFirst(in);
    // So is a ledger, a scheme or a library that cannot give the records; the first run's
    // are reserved once the unit has told its serial number, before its image is loaded.
    std::optional<SerialRun> serial;
    if (in.serializes()) {
        serial.emplace(in, plan.images.imageCrc32);
    }
    try {
        return programRuns(in, plan, serial ? &*serial : nullptr, out);
    } catch (...) {
        if (serial) {
            serial->abandon();
        }
        throw;
    }
}

namespace {

int programRuns(const Invocation& in, ProgramPlan& plan, SerialRun* serial, std::FILE* out) {
    Progress progress;
    UnitLink link(in);
    if (!in.json) {
        std::fprintf(
            out, "%s\n",
            printable(unitLine(in.port, trace::unitIdentity(readBlock("reading the unit"))))
                .c_str());
    }
    if (serial != nullptr) {
        serial->noteUnit(readUnitRecord().serial);
        serial->reserve(1);
    }
    loadImages(in, plan, progress);
    if (!in.json) {
        for (const run::ImageFileFacts& f : plan.images.files) {
            std::fprintf(out, "Image file %s: %llu bytes, CRC-32 %s\n", printable(f.path).c_str(),
                         static_cast<unsigned long long>(f.bytes), hex8(f.crc32).c_str());
        }
        std::fprintf(out, "Loaded for %s: %llu bytes, image CRC-32 %s\n", plan.type.name.c_str(),
                     static_cast<unsigned long long>(plan.images.imageBytes),
                     hex8(plan.images.imageCrc32).c_str());
    }
    int status = kExitPassed;
    for (int number = 1; number <= in.repeat; ++number) {
        if (serial != nullptr && number > 1) {
            serial->reserve(number);
        }
        const RunOutcome run = runOnce(plan, progress, number, serial);
        // The log first: a report that cannot be written must not cost the run its lines.
        const trace::LogWrite logged = logRun(in, plan, run);
        if (in.json) {
            std::fprintf(out, "%s\n", runJson(in, plan, run).c_str());
        } else {
            printRun(out, in, plan, run);
        }
        std::fflush(out);
        requireLogged(logged, in, number);
        if (serial != nullptr) {
            serial->requireSettled(number);
        }
        flushReport(out);
        status = std::max(status, run.exitCode());
        if (run.code != kOk) {
            // The unit's image memory no longer holds a whole image: no run can follow.
            std::fprintf(stderr, "octo816: run %d: the unit could not carry it out: %s (code %d)\n",
                         number, libraryText(run.code).c_str(), run.code);
            break;
        }
        stopPoint(serial, "after run " + std::to_string(number));
    }
    return status;
}

} // namespace

} // namespace octo::cli

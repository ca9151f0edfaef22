#include "ops/TraceLog.h"

#include "ops/MainProcess.h"
#include "run/programming.h"
#include "trace/trace_log.h"

#include <utility>

namespace octo {

void TraceLog::record(std::span<const uint8_t> resultBlock, int32_t resultCode,
                      const std::array<std::string, trace::kTargets>& serials) {
    if (settings_.traceLog.empty()) {
        return;
    }
    const trace::UnitIdentity unit = trace::unitIdentity(resultBlock);
    // A library or unit that does not tell leaves them empty: the log still takes the run.
    std::string serial;
    uint32_t runCount = OCTO_RUN_COUNT_UNKNOWN;
    if (library_->getUnitInfo(serial, runCount) != 0) {
        serial.clear();
        runCount = OCTO_RUN_COUNT_UNKNOWN;
    }
    // The unit's own CRC of the image it ran: the files may have changed since they were
    // loaded.
    const trace::RunRecord run{.time = trace::utcTimestamp(),
                               .station = trace::stationName(),
                               .firmwareVersion = trace::versionText(unit.firmwareVersion),
                               .hardwareVersion = trace::versionText(unit.hardwareVersion),
                               .deviceType = deviceType_.typeName,
                               .imageCrc32 = state_.imageCrc32[state_.imageSlot],
                               .resultCode = resultCode,
                               .unit = serial,
                               .run = runCount == OCTO_RUN_COUNT_UNKNOWN
                                          ? std::nullopt
                                          : std::optional<uint32_t>(runCount),
                               .serials = serials,
                               .asked = run::askedSteps(programmingChoice(settings_)),
                               .socketsInUse = socketsInUse(settings_)};
    // A log that another process keeps locked past the wait is one not written, too.
    if (trace::appendLines(settings_.traceLog, trace::runLines(run, resultBlock)) !=
        trace::LogWrite::Written) {
        unwritten_ = true;
    }
}

void TraceLog::reportFailure() {
    if (std::exchange(unwritten_, false)) {
        view_.messageBox(kTraceLogNotWritten, kTraceLogCaption, mb::kOk | mb::kIconExclamation);
    }
}

} // namespace octo

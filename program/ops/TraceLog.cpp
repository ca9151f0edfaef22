#include "ops/TraceLog.h"

#include "ops/ImageLoader.h"

#include "run/image_files.h"
#include "trace/trace_log.h"

#include <string>
#include <vector>

namespace octo {

namespace {

constexpr uint32_t kKindMask = 0xFFFF;

} // namespace

void TraceLog::record(std::span<const uint8_t> resultBlock, int32_t resultCode) {
    if (settings_.traceLog.empty()) {
        return;
    }
    const trace::UnitIdentity unit = trace::unitIdentity(resultBlock);
    const trace::RunRecord run{.time = trace::utcTimestamp(),
                               .station = trace::stationName(),
                               .firmwareVersion = trace::versionText(unit.firmwareVersion),
                               .hardwareVersion = trace::versionText(unit.hardwareVersion),
                               .deviceType = deviceType_.typeName,
                               .imageCrc32 = imageCrc32(),
                               .resultCode = resultCode};
    if (!trace::appendLines(settings_.traceLog, trace::runLines(run, resultBlock))) {
        view_.messageBox(kTraceLogNotWritten, kTraceLogCaption, mb::kOk | mb::kIconExclamation);
    }
}

std::optional<uint32_t> TraceLog::imageCrc32() {
    const OctoSegmentEntry* table = nullptr;
    if (library_->getDevice(deviceType_.typeName, &table) != 0 || table == nullptr) {
        return std::nullopt;
    }
    size_t rows = 0;
    while (rows < OCTO_MAX_SEGMENTS && (table[rows].kind & kKindMask) != OCTO_SEGMENT_END) {
        ++rows;
    }
    std::vector<std::string> files;
    for (const std::string* file : {&settings_.imageFile, &settings_.image2File}) {
        if (isFileGiven(*file)) {
            files.push_back(*file);
        }
    }
    const run::ImageFiles images =
        run::readImageFiles(files, std::span<const OctoSegmentEntry>(table, rows));
    if (!images.ok() || files.empty()) {
        return std::nullopt;
    }
    return images.imageCrc32;
}

} // namespace octo

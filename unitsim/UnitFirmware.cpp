// The firmware area: erase, loads of a firmware or the temporary loader, and starting the
// loader.
#include "Unit.h"
#include "UnitInternal.h"

#include <objfile/firmware.h>

#include <utility>

namespace octo::unitsim {

using wire::Response;
using wire::Status;

namespace {

constexpr uint32_t kFirmwareAreaEnd = objfile::kFirmwareAreaStart + objfile::kFirmwareAreaLength;
constexpr uint32_t kLoaderAreaEnd = objfile::kLoaderAreaStart + objfile::kLoaderAreaLength;
// Units whose boot loader reports a lower third version word need the temporary loader.
constexpr uint16_t kCapableBootLoader = 0x0200;

bool inside(uint32_t start, uint64_t length, uint32_t areaStart, uint32_t areaEnd) {
    return start >= areaStart && start + length <= areaEnd;
}

} // namespace

Response Unit::firmwareErase(const wire::FirmwareEraseRequest& request, Reply& reply) {
    // The boot section below the firmware area is never erased.
    if (!inside(request.start, request.length, objfile::kFirmwareAreaStart, kFirmwareAreaEnd)) {
        return answer(Status::BadArgument);
    }
    const bool loaderArea =
        inside(request.start, request.length, objfile::kLoaderAreaStart, kLoaderAreaEnd);
    const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
    if (oldBootLoader && !loaderRunning_ && !loaderArea) {
        // The old boot loader can only clear the loader area.
        return answer(Status::Failed);
    }
    firmware_.reset();
    firmwareLoad_.reset();
    if (request.start == objfile::kFirmwareAreaStart &&
        request.length == objfile::kFirmwareAreaLength) {
        firmwareAreaErased_ = true;
    }
    if (request.start <= objfile::kLoaderAreaStart &&
        uint64_t{request.start} + request.length >= kLoaderAreaEnd) {
        loaderAreaErased_ = true;
        loaderLoaded_ = false; // a started loader runs from RAM and goes on
    }
    reply.workMs = scaledMs(scenario_.timing.firmwareEraseMsPerKib * (request.length / 1024.0));
    return answer(Status::Ok);
}

Response Unit::firmwareBegin(const wire::FirmwareBeginRequest& request) {
    if (request.kind == wire::FirmwareKind::Loader) {
        if (!loaderAreaErased_) {
            return answer(Status::BadState);
        }
    } else {
        const bool oldBootLoader = scenario_.thirdVersion < kCapableBootLoader;
        if (!firmwareAreaErased_ || (oldBootLoader && !loaderRunning_)) {
            return answer(Status::BadState);
        }
    }
    firmwareLoad_ = FirmwareLoad{request.kind, {}, request.streamBytes, 0, 0};
    return answer(Status::Ok);
}

Response Unit::firmwareData(const wire::ImageDataRequest& request) {
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    FirmwareLoad& load = *firmwareLoad_;
    const bool loader = load.kind == wire::FirmwareKind::Loader;
    const uint32_t areaStart = loader ? objfile::kLoaderAreaStart : objfile::kFirmwareAreaStart;
    const uint32_t areaEnd = loader ? kLoaderAreaEnd : kFirmwareAreaEnd;
    const uint32_t before = load.received;
    Response response =
        takeChunk(load, request, inside(request.address, request.data.size(), areaStart, areaEnd));
    if (load.received == before) {
        return response;
    }
    firmwareBytes_ += load.received - before;
    if (!loader && scenario_.powerCycleAfterFirmwareBytes != 0 && !powerCycled_ &&
        firmwareBytes_ >= scenario_.powerCycleAfterFirmwareBytes) {
        powerCycled_ = true;
        powerCycleDue_ = true;
    }
    return response;
}

Response Unit::firmwareEnd(const wire::FirmwareEndRequest& request) {
    if (!firmwareLoad_) {
        return answer(Status::BadState);
    }
    const FirmwareLoad load = std::move(*firmwareLoad_);
    firmwareLoad_.reset();
    const bool complete = load.received == load.streamBytes &&
                          request.streamBytes == load.streamBytes &&
                          request.streamCrc == load.streamCrc;
    if (load.kind == wire::FirmwareKind::Loader) {
        loaderAreaErased_ = false;
        if (!complete || !objfile::isTemporaryLoader(load.data)) {
            return answer(Status::ImageMismatch);
        }
        loaderLoaded_ = true;
        return answer(Status::Ok, wire::FirmwareEndReply{0, "temporary loader"}.encode());
    }
    // The area now holds what arrived: it must be erased again before another load.
    firmwareAreaErased_ = false;
    const objfile::FirmwareCheck check = objfile::identifyFirmware(load.data);
    if (!complete || !check.isFirmware()) {
        return answer(Status::ImageMismatch);
    }
    firmware_ = Firmware{check.info->version, check.info->name};
    loaderRunning_ = false; // the unit starts the new firmware
    ++firmwareLoads_;
    return answer(Status::Ok,
                  wire::FirmwareEndReply{check.info->version, check.info->name}.encode());
}

Response Unit::tempLoader(const NoPayload&, Reply& reply) {
    if (!loaderLoaded_) {
        return answer(Status::BadState);
    }
    loaderRunning_ = true;
    reply.workMs = scaledMs(scenario_.timing.loaderStartMs);
    return answer(Status::Ok);
}

} // namespace octo::unitsim

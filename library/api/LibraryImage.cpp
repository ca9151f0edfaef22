// The unit's image memory: erase, slot selection, and loading an object file into a slot,
// alone or appended to the file loaded before.
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <devices/device_table.h>
#include <objfile/crc32.h>
#include <objfile/load.h>

#include <utility>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

constexpr uint32_t kEraseLimitMs = 120000;

std::string unreadableText(files::FileRead::Problem problem, const std::string& fileName) {
    using Problem = files::FileRead::Problem;
    switch (problem) {
    case Problem::NotRegular:
        return "ERROR: " + fileName + " is not a regular file !";
    case Problem::TooLarge:
        return "ERROR: " + fileName + " is too large for an object file !";
    case Problem::ReadFailed:
        return "ERROR: Error during file I/O reading " + fileName + " !";
    case Problem::CannotOpen:
    case Problem::None:
        break;
    }
    return "ERROR: Unable to open file " + fileName + " !";
}

} // namespace

Library::SlotImage Library::blankSlot() {
    return {objfile::Image{}, objfile::imageCrc32(objfile::Image{})};
}

int32_t Library::eraseImage() {
    clearTargetData(); // records were meant for the image that goes, as at the unit
    if (const int32_t code = ensureLink()) {
        return status(errorText(code), kLampError, code);
    }
    status("Erasing image memory...", kLampBusy);
    protocol::TransactOptions options;
    options.workLimitMs = kEraseLimitMs;
    const auto exchange = client_.transact(Command::ImageErase, {}, options);
    if (!exchange.ok() || exchange.response.status != Status::Ok) {
        const int32_t code = exchange.ok() ? kFailed : linkCode(exchange.error);
        // Whatever the unit holds now is not known any more.
        images_.fill(std::nullopt);
        return status(errorText(code), kLampError, code);
    }
    images_.fill(blankSlot());
    return status("Image memory erased.", kLampSuccess);
}

int32_t Library::appendImage() {
    append_ = true;
    return kOk;
}

int32_t Library::selectImage(uint8_t slot) {
    if (const int32_t code = ensureLink()) {
        return code;
    }
    const auto exchange =
        client_.transact(Command::ImageSelect, wire::ImageSelectRequest{slot}.encode());
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    if (exchange.response.status != Status::Ok) {
        return kFailed;
    }
    slot_ = slot;
    return kOk;
}

void Library::abandonLoad() {
    // A failed load must not leave a slot that a run would take for a whole image.
    images_[slot_].reset();
    if (ensureLink() != kOk) {
        return;
    }
    const auto exchange =
        client_.transact(Command::ImageAbort, wire::ImageSlotRequest{slot_}.encode());
    if (exchange.ok() && exchange.response.status == Status::Ok) {
        images_[slot_] = blankSlot();
    }
}

int32_t Library::loadImage(const std::string& path, const std::string& typeName) {
    const bool append = std::exchange(append_, false);
    const std::string fileName = baseName(path);
    const devices::DeviceType* device = devices::findDeviceType(typeName);
    if (!device) {
        return status("ERROR: Device type \"" + typeName + "\" is not known to the library !",
                      kLampError, kOutOfRange);
    }

    // Read once: the bytes checked below are the bytes sent.
    objfile::ObjectFileBytes file = objfile::readObjectFileBytes(path);
    if (file.error) {
        status(unreadableText(file.problem, fileName), kLampError);
        abandonLoad();
        return static_cast<int32_t>(file.error->code);
    }
    const std::string& content = file.bytes;

    status("Loading " + fileName + " ...", kLampBusy);
    progress(0, 1);

    objfile::Image fresh;
    objfile::LoadOptions options;
    options.segments = devices::usedSegments(*device);
    options.requireData = true;
    const objfile::ReadResult read = objfile::loadObjectFile(fileName, content, fresh, options);
    if (!read.ok()) {
        status("ERROR: " + fileName + ", " + read.error->describe(), kLampError);
        abandonLoad();
        return static_cast<int32_t>(read.code());
    }

    objfile::Image merged;
    if (append) {
        if (!images_[slot_]) {
            status(
                "ERROR: The image memory holds no image this library loaded; load the first file "
                "again !",
                kLampError);
            abandonLoad();
            return kFailed;
        }
        merged = images_[slot_]->image;
        for (const auto& run : fresh.runs()) {
            if (const auto address = merged.firstFilled(run.start, run.bytes.size())) {
                status("ERROR: " + fileName + " holds data at 0x" + hex(*address, 4) +
                           ", already specified by the file loaded before !",
                       kLampError);
                abandonLoad();
                return kAlreadySpecified;
            }
        }
    }
    const uint32_t baseBytes = static_cast<uint32_t>(merged.byteCount());
    const uint32_t baseCrc = append ? images_[slot_]->crc : 0;
    objfile::Image freshCopy = fresh;
    merged.merge(std::move(freshCopy));
    const uint32_t imageBytes = static_cast<uint32_t>(merged.byteCount());
    const uint32_t imageCrc = objfile::imageCrc32(merged);

    if (const int32_t code = ensureLink()) {
        images_[slot_].reset();
        return failedTransfer("Image not loaded:", code);
    }
    wire::ImageBeginRequest begin;
    begin.slot = slot_;
    begin.mode = append ? wire::ImageMode::Append : wire::ImageMode::Fresh;
    begin.baseBytes = baseBytes;
    begin.baseCrc = baseCrc;
    begin.streamBytes = static_cast<uint32_t>(fresh.byteCount());
    begin.typeName = typeName;
    const auto started = client_.transact(Command::ImageBegin, begin.encode());
    images_[slot_].reset();
    if (!started.ok()) {
        return failedTransfer("Image not loaded:", linkCode(started.error));
    }
    if (started.response.status == Status::ImageMismatch) {
        return status("ERROR: The image memory no longer holds the file loaded before !",
                      kLampError, kFailed);
    }
    if (started.response.status != Status::Ok) {
        return status("ERROR: The programmer unit refused the image !", kLampError, kFailed);
    }

    const auto pieces = piecesOf(fresh);
    protocol::SendDirection direction(pieces);
    const uint64_t total = direction.total();
    const uint64_t deadline = streamDeadline(total, kSendLineBytesPerChunk);
    const auto outcome =
        stream(direction, Command::ImageData, total, deadline, "Loading " + fileName);
    if (outcome.error != LinkError::None) {
        return failedTransfer("Image transfer of " + fileName + " interrupted.",
                              linkCode(outcome.error));
    }
    if (outcome.refusal) {
        return status("ERROR: The programmer unit refused the image data of " + fileName + " !",
                      kLampError, kFailed);
    }

    const wire::ImageEndRequest end{static_cast<uint32_t>(total), objfile::imageCrc32(fresh),
                                    imageBytes, imageCrc};
    const auto ended = client_.transact(
        Command::ImageEnd, end.encode(),
        protocol::TransactOptions{.attempts = kConfirmAttempts, .deadlineMs = deadline});
    if (!ended.ok()) {
        return failedTransfer("Image end of " + fileName + " not confirmed.",
                              linkCode(ended.error));
    }
    const auto slot = okReply<wire::ImageStatusReply>(ended);
    if (!slot || slot->state != wire::SlotState::Complete || slot->bytes != imageBytes ||
        slot->crc != imageCrc) {
        return status("ERROR: The image memory does not hold what was sent; image marked invalid !",
                      kLampError, kFailed);
    }
    images_[slot_] = SlotImage{std::move(merged), imageCrc};
    imageTypes_[slot_] = device;

    std::string message =
        "Image loaded: " + std::to_string(imageBytes) + " bytes, CRC-32 " + hex(imageCrc, 8) + ".";
    if (!read.warnings.empty()) {
        message += " WARNING: " + fileName + ", " + read.warnings.front().describe();
        return status(message, kLampSuccess, kLoadedWithWarning);
    }
    return status(message, kLampSuccess);
}

} // namespace octo::library

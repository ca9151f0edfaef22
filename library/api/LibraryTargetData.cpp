// Each target's own record (a serial number, a key): kept until the next main process,
// checked against the loaded image and sent to the unit just before it, in one request.
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <run/programming.h>

#include <algorithm>
#include <utility>

namespace octo::library {

using wire::Command;
using wire::Status;

namespace {

constexpr uint8_t kBlank = 0xFF;

// Records go into flash or information memory only, never into the protected segment,
// the boot loader or RAM.
bool recordable(const devices::DeviceType& type, uint32_t address) {
    const auto segments = devices::usedSegments(type);
    return std::any_of(segments.begin(), segments.end(), [&](const OctoSegmentEntry& segment) {
        return (segment.kind == OCTO_SEGMENT_FLASH || segment.kind == OCTO_SEGMENT_INFO) &&
               address >= segment.start && address - segment.start < segment.length;
    });
}

std::string where(const wire::TargetRecord& record) {
    return "Target data of target " + std::to_string(record.socket + 1) + " at 0x" +
           hex(record.address, 4);
}

} // namespace

int32_t Library::setTargetData(uint8_t target, uint32_t address, std::span<const uint8_t> data) {
    targetData_[target] = wire::TargetRecord{target, address, {data.begin(), data.end()}};
    return kOk;
}

int32_t Library::clearTargetData() {
    targetData_.fill(std::nullopt);
    return kOk;
}

int32_t Library::checkTargetData() {
    const objfile::Image* image = images_[slot_] ? &images_[slot_]->image : nullptr;
    const devices::DeviceType* type = imageTypes_[slot_];
    if (!image || !type) {
        return status("ERROR: Target data needs the image of the selected slot loaded by this "
                      "library: load the image first !",
                      kLampError, kRecordNoImage);
    }
    std::optional<size_t> length;
    for (const auto& record : targetData_) {
        if (!record) {
            continue;
        }
        if (length && *length != record->data.size()) {
            return status("ERROR: " + where(*record) + " is " +
                              std::to_string(record->data.size()) + " bytes long, the others " +
                              std::to_string(*length) + " !",
                          kLampError, kRecordLengths);
        }
        length = record->data.size();
        for (uint32_t k = 0; k < record->data.size(); ++k) {
            const uint32_t address = record->address + k;
            if (!recordable(*type, address)) {
                return status("ERROR: " + where(*record) +
                                  " lies outside the flash and "
                                  "information memory of " +
                                  std::string(type->name) + " (0x" + hex(address, 4) + ") !",
                              kLampError, kRecordOutside);
            }
            if (image->at(address).value_or(kBlank) != kBlank) {
                return status("ERROR: " + where(*record) + " would overwrite image data at 0x" +
                                  hex(address, 4) + " !",
                              kLampError, kRecordNotBlank);
            }
        }
        // The record must land on blank flash that this run itself erased: a pass that only
        // verifies or erases would write it over an earlier chip's record.
        const uint32_t needed = run::recordOptions(devices::usedSegments(*type), record->address,
                                                   static_cast<uint32_t>(record->data.size()));
        if (!runOptions_ || (*runOptions_ & needed) != needed) {
            return status("ERROR: " + where(*record) +
                              " needs a run that erases and programs its memory (options 0x" +
                              hex(needed, 2) + "), the parameters " +
                              (runOptions_ ? "are 0x" + hex(*runOptions_, 2) : "were not loaded") +
                              " !",
                          kLampError, kRecordNotErased);
        }
    }
    return kOk;
}

int32_t Library::sendTargetData() {
    const bool any = std::any_of(targetData_.begin(), targetData_.end(),
                                 [](const auto& record) { return record.has_value(); });
    if (!any) {
        return kOk;
    }
    // Checked, refused or sent: records never outlive the main process they were set for,
    // so none can reach a chip of a later run.
    const int32_t checked = checkTargetData();
    wire::TargetDataRequest request;
    for (auto& record : targetData_) {
        if (record) {
            request.records.push_back(std::move(*record));
        }
    }
    targetData_.fill(std::nullopt);
    if (checked != kOk) {
        return checked;
    }
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Target data not sent:", code);
    }
    const auto exchange = client_.transact(Command::TargetData, request.encode());
    if (!exchange.ok()) {
        return linkFailure(exchange.error, "Target data not sent:");
    }
    if (exchange.response.status == Status::UnknownCommand) {
        return status("ERROR: The programmer unit's firmware does not know target data: "
                      "upgrade its firmware !",
                      kLampError, kRecordsUnknown);
    }
    if (exchange.response.status != Status::Ok) {
        return refused(exchange.response, "");
    }
    return kOk;
}

} // namespace octo::library

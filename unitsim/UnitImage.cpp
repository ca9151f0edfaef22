// The image memory: erase, slot selection, and loads into a slot, fresh or appended.
#include "Unit.h"
#include "UnitInternal.h"

#include <objfile/crc32.h>

namespace octo::unitsim {

using wire::Response;
using wire::Status;

namespace {

Response slotStatus(const ImageSlot& slot) {
    const wire::ImageStatusReply status{slot.state, static_cast<uint32_t>(slot.data.byteCount()),
                                        slot.crc, slot.typeName};
    return answer(Status::Ok, status.encode());
}

} // namespace

Response Unit::imageErase(const NoPayload&, Reply& reply) {
    for (uint8_t i = 0; i < wire::kImageSlots; ++i) {
        slots_[i] = ImageSlot{};
        markChanged(i);
    }
    loadingSlot_.reset();
    records_.clear(); // they were meant for the image that is gone
    reply.workMs = scaled(scenario_.eraseImageMs);
    return answer(Status::Ok);
}

Response Unit::imageSelect(const wire::ImageSelectRequest& request) {
    selected_ = request.slot;
    return answer(Status::Ok);
}

Response Unit::imageBegin(const wire::ImageBeginRequest& request) {
    ImageSlot& slot = slots_[request.slot];
    markChanged(request.slot);
    if (request.mode == wire::ImageMode::Append) {
        // Appending onto nothing is a fresh load; onto something, it must be the image
        // the sender means.
        const bool empty = request.baseBytes == 0 && slot.data.empty();
        if (!empty && (slot.state != wire::SlotState::Complete ||
                       slot.data.byteCount() != request.baseBytes || slot.crc != request.baseCrc)) {
            slot = ImageSlot{};
            return answer(Status::ImageMismatch);
        }
    } else {
        slot = ImageSlot{};
    }
    slot.state = wire::SlotState::Loading;
    slot.typeName = request.typeName;
    slot.streamBytes = request.streamBytes;
    slot.received = 0;
    slot.streamCrc = 0;
    slot.crc = 0;
    loadingSlot_ = request.slot;
    return answer(Status::Ok);
}

Response Unit::imageData(const wire::ImageDataRequest& request) {
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    return takeChunk(slots_[*loadingSlot_], request, true);
}

Response Unit::imageEnd(const wire::ImageEndRequest& request) {
    if (!loadingSlot_) {
        return answer(Status::BadState);
    }
    const uint8_t index = *loadingSlot_;
    ImageSlot& slot = slots_[index];
    markChanged(index);
    loadingSlot_.reset();
    const uint32_t imageCrc = objfile::imageCrc32(slot.data);
    if (slot.received != slot.streamBytes || request.streamBytes != slot.streamBytes ||
        request.streamCrc != slot.streamCrc || request.imageBytes != slot.data.byteCount() ||
        request.imageCrc != imageCrc) {
        // Whatever arrived is not what was meant: the slot stays unusable.
        slot.state = wire::SlotState::Loading;
        return answer(Status::ImageMismatch);
    }
    slot.state = wire::SlotState::Complete;
    slot.crc = imageCrc;
    ++slot.loads;
    return slotStatus(slot);
}

Response Unit::imageAbort(const wire::ImageSlotRequest& request) {
    // An abandoned load leaves nothing that a run could take for a whole image.
    slots_[request.slot] = ImageSlot{};
    markChanged(request.slot);
    if (loadingSlot_ == request.slot) {
        loadingSlot_.reset();
    }
    return answer(Status::Ok);
}

Response Unit::imageStatus(const wire::ImageSlotRequest& request) {
    return slotStatus(slots_[request.slot]);
}

} // namespace octo::unitsim

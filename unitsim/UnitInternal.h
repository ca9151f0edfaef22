// What the unit's files share: the answers they build and the taking of a streamed chunk.
// Only the unit's own files include it.
#pragma once

#include <wire/checksums.h>
#include <wire/messages.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace octo::unitsim {

inline wire::Response answer(wire::Status status, std::vector<uint8_t> body = {}) {
    return wire::Response{status, std::move(body)};
}

inline wire::Response targetFault(wire::Status status, wire::TargetFault fault) {
    return answer(status, wire::TargetFaultReply{fault}.encode());
}

// Takes a chunk of an image or firmware load. It is stored only at exactly the bytes
// received so far: a chunk beyond them is answered Gap, a repeat of stored data (the
// sender missed our answer) Ok, and one that does not fit the load or lies outside where
// it may go BadArgument. Every answer carries the count received.
template <typename Load>
wire::Response takeChunk(Load& load, const wire::ImageDataRequest& request, bool allowedArea) {
    const auto progress = [&](wire::Status status) {
        return answer(status, wire::ImageDataReply{load.received}.encode());
    };
    if (request.offset > load.received) {
        return progress(wire::Status::Gap);
    }
    if (request.offset < load.received) {
        return progress(wire::Status::Ok);
    }
    if (uint64_t{request.offset} + request.data.size() > load.streamBytes || !allowedArea ||
        load.data.insert(request.address, request.data)) {
        return progress(wire::Status::BadArgument);
    }
    load.received += static_cast<uint32_t>(request.data.size());
    load.streamCrc = wire::crc32(request.data, load.streamCrc);
    return progress(wire::Status::Ok);
}

} // namespace octo::unitsim

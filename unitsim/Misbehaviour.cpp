#include "Misbehaviour.h"

#include <wire/frame.h>
#include <wire/messages.h>

#include <utility>

namespace octo::unitsim {

namespace {

// The frame in bytes, decoded; none for anything that is not one whole sound frame.
std::optional<wire::Frame> decodeOne(const std::vector<uint8_t>& bytes) {
    wire::FrameDecoder decoder;
    auto events = decoder.feed(bytes);
    if (events.size() != 1 || events.front().kind != wire::FrameDecoder::Event::Kind::Frame) {
        return std::nullopt;
    }
    return std::move(events.front().frame);
}

bool isAnswerTo(const wire::Frame& frame, wire::Command command) {
    return frame.command == wire::responseCode(command);
}

} // namespace

Misbehaviour::Misbehaviour(const MisbehaveSetup& setup, uint64_t seed)
    : setup_(setup), random_(seed), active_(setup.any()) {}

bool Misbehaviour::hitsCommand(uint8_t command) const {
    const uint8_t request = command & static_cast<uint8_t>(~wire::kResponseFlag);
    return !setup_.command || *setup_.command == request;
}

bool Misbehaviour::draw(double probability) {
    return probability > 0 &&
           std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

bool Misbehaviour::stuckOn(uint8_t command) const {
    return active_ && setup_.endlessBusy && hitsCommand(command);
}

bool Misbehaviour::silentAfter(uint64_t commands) const {
    return active_ && setup_.silentAfter != 0 && commands >= setup_.silentAfter;
}

Misbehaviour::Outgoing Misbehaviour::answer(std::vector<uint8_t> bytes) {
    Outgoing out;
    if (!active_) {
        out.bytes = std::move(bytes);
        return out;
    }
    auto frame = decodeOne(bytes);
    if (!frame) {
        out.bytes = std::move(bytes);
        return out;
    }
    const std::vector<uint8_t> meant = bytes;
    bool changed = false;
    if (hitsCommand(frame->command) && draw(setup_.staleSeq) && !previous_.empty()) {
        // The answer before this one again: its sequence number, its payload.
        out.bytes = std::exchange(previous_, meant);
        ++hits_;
        return out;
    }
    previous_ = meant;
    if (isAnswerTo(*frame, wire::Command::ReadTargetBegin) && draw(setup_.readoutCrc)) {
        auto response = wire::Response::decode(frame->payload);
        auto reply = response ? wire::ReadTargetBeginReply::decode(response->body) : std::nullopt;
        if (reply) {
            reply->crc ^= 1;
            response->body = reply->encode();
            frame->payload = response->encode();
            changed = true;
        }
    }
    if (isAnswerTo(*frame, wire::Command::ReadTargetData)) {
        if (draw(setup_.shortReadout)) {
            auto response = wire::Response::decode(frame->payload);
            auto reply =
                response ? wire::ReadTargetDataReply::decode(response->body) : std::nullopt;
            if (reply && !reply->data.empty()) {
                reply->data.resize(reply->data.size() / 2);
                response->body = reply->encode();
                frame->payload = response->encode();
                changed = true;
            }
        }
        if (draw(setup_.lateReadout)) {
            out.delayMs = setup_.lateMs;
            ++hits_;
        }
    }
    if (hitsCommand(frame->command) && draw(setup_.wrongSeq)) {
        ++frame->seq;
        changed = true;
    }
    if (hitsCommand(frame->command) && draw(setup_.frameCrc)) {
        std::vector<uint8_t> body = wire::frameBody(*frame);
        body.back() ^= 1; // the low byte of the CRC-16
        out.bytes = wire::encodeBody(body);
        ++hits_;
        return out;
    }
    if (changed) {
        ++hits_;
        out.bytes = wire::encodeFrame(*frame);
    } else {
        out.bytes = std::move(bytes);
    }
    return out;
}

} // namespace octo::unitsim

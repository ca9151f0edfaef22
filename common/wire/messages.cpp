#include "wire/messages.h"

#include "wire/bytes.h"
#include "wire/frame.h"

#include <algorithm>

namespace octo::wire {

namespace {

template <typename T>
std::optional<T> finish(const ByteReader& reader, T value) {
    if (!reader.complete()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string_view commandName(uint8_t command) {
    switch (static_cast<Command>(command & ~kResponseFlag)) {
    case Command::Hello:
        return "Hello";
    case Command::GetResult:
        return "GetResult";
    case Command::SetBaud:
        return "SetBaud";
    case Command::SetSupply:
        return "SetSupply";
    case Command::SetSignals:
        return "SetSignals";
    case Command::ImageErase:
        return "ImageErase";
    case Command::ImageSelect:
        return "ImageSelect";
    case Command::ImageBegin:
        return "ImageBegin";
    case Command::ImageData:
        return "ImageData";
    case Command::ImageEnd:
        return "ImageEnd";
    case Command::ImageAbort:
        return "ImageAbort";
    case Command::ImageStatus:
        return "ImageStatus";
    case Command::LoadParameters:
        return "LoadParameters";
    case Command::MainProcess:
        return "MainProcess";
    case Command::Selftest:
        return "Selftest";
    case Command::FirmwareErase:
        return "FirmwareErase";
    case Command::FirmwareBegin:
        return "FirmwareBegin";
    case Command::FirmwareData:
        return "FirmwareData";
    case Command::FirmwareEnd:
        return "FirmwareEnd";
    case Command::TempLoader:
        return "TempLoader";
    case Command::ReadTargetBegin:
        return "ReadTargetBegin";
    case Command::ReadTargetData:
        return "ReadTargetData";
    case Command::ReadTargetEnd:
        return "ReadTargetEnd";
    case Command::AccessSfr:
        return "AccessSfr";
    case Command::Nak:
        return "Nak";
    }
    return "Unknown";
}

std::vector<uint8_t> Response::encode() const {
    ByteWriter w;
    w.u8(static_cast<uint8_t>(status));
    w.bytes(body);
    return w.take();
}

std::optional<Response> Response::decode(std::span<const uint8_t> payload) {
    if (payload.empty() || payload[0] > static_cast<uint8_t>(Status::Gap)) {
        return std::nullopt;
    }
    return Response{static_cast<Status>(payload[0]), {payload.begin() + 1, payload.end()}};
}

std::vector<uint8_t> HelloRequest::encode() const {
    ByteWriter w;
    w.u16(protocolVersion);
    return w.take();
}

std::optional<HelloRequest> HelloRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    HelloRequest value;
    value.protocolVersion = r.u16();
    return finish(r, value);
}

std::vector<uint8_t> HelloReply::encode() const {
    ByteWriter w;
    w.u16(protocolVersion);
    w.u16(maxPayload);
    w.u32(baudRate);
    return w.take();
}

std::optional<HelloReply> HelloReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    HelloReply value;
    value.protocolVersion = r.u16();
    value.maxPayload = r.u16();
    value.baudRate = r.u32();
    return finish(r, value);
}

std::vector<uint8_t> ResultReply::encode() const {
    ByteWriter w;
    w.bytes(run);
    w.u8(runFailed);
    w.u16(hardwareVersion);
    w.u16(firmwareVersion);
    w.u16(thirdVersion);
    w.u8(firmwareName ? 1 : 0);
    w.text(firmwareName ? firmwareName->substr(0, kMaxNameBytes - 1) : std::string());
    return w.take();
}

std::optional<ResultReply> ResultReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    ResultReply value;
    const auto run = r.bytes(kRunBytes);
    std::copy(run.begin(), run.end(), value.run.begin());
    value.runFailed = r.u8();
    value.hardwareVersion = r.u16();
    value.firmwareVersion = r.u16();
    value.thirdVersion = r.u16();
    const uint8_t hasName = r.u8();
    std::string name = r.text();
    if (hasName > 1 || name.size() >= kMaxNameBytes || value.runFailed > 1) {
        return std::nullopt;
    }
    if (hasName) {
        value.firmwareName = std::move(name);
    }
    return finish(r, value);
}

std::vector<uint8_t> SetBaudRequest::encode() const {
    return {index};
}

std::optional<SetBaudRequest> SetBaudRequest::decode(std::span<const uint8_t> payload) {
    if (payload.size() != 1 || payload[0] >= kBaudRates.size()) {
        return std::nullopt;
    }
    return SetBaudRequest{payload[0]};
}

bool validSupplyCode(uint32_t code) {
    return code == 0 || code == 1 || (code >= 18 && code <= 36);
}

std::vector<uint8_t> SetSupplyRequest::encode() const {
    return {code};
}

std::optional<SetSupplyRequest> SetSupplyRequest::decode(std::span<const uint8_t> payload) {
    if (payload.size() != 1 || !validSupplyCode(payload[0])) {
        return std::nullopt;
    }
    return SetSupplyRequest{payload[0]};
}

std::vector<uint8_t> SetSignalsRequest::encode() const {
    ByteWriter w;
    w.u16(word);
    w.u8(supplyCode);
    return w.take();
}

std::optional<SetSignalsRequest> SetSignalsRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    SetSignalsRequest value;
    value.word = r.u16();
    value.supplyCode = r.u8();
    if (!validSupplyCode(value.supplyCode)) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> ImageSelectRequest::encode() const {
    return {slot};
}

std::optional<ImageSelectRequest> ImageSelectRequest::decode(std::span<const uint8_t> payload) {
    if (payload.size() != 1 || payload[0] >= kImageSlots) {
        return std::nullopt;
    }
    return ImageSelectRequest{payload[0]};
}

std::vector<uint8_t> ImageBeginRequest::encode() const {
    ByteWriter w;
    w.u8(slot);
    w.u8(static_cast<uint8_t>(mode));
    w.u32(baseBytes);
    w.u32(baseCrc);
    w.u32(streamBytes);
    w.text(typeName);
    return w.take();
}

std::optional<ImageBeginRequest> ImageBeginRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    ImageBeginRequest value;
    value.slot = r.u8();
    const uint8_t mode = r.u8();
    value.baseBytes = r.u32();
    value.baseCrc = r.u32();
    value.streamBytes = r.u32();
    value.typeName = r.text();
    if (value.slot >= kImageSlots || mode > static_cast<uint8_t>(ImageMode::Append)) {
        return std::nullopt;
    }
    value.mode = static_cast<ImageMode>(mode);
    return finish(r, value);
}

std::vector<uint8_t> ImageDataRequest::encode() const {
    ByteWriter w;
    w.u32(offset);
    w.u32(address);
    w.bytes(data);
    return w.take();
}

std::optional<ImageDataRequest> ImageDataRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    ImageDataRequest value;
    value.offset = r.u32();
    value.address = r.u32();
    const auto data = r.rest();
    if (r.failed() || data.empty() || uint64_t{value.address} + data.size() > (uint64_t{1} << 32)) {
        return std::nullopt;
    }
    value.data.assign(data.begin(), data.end());
    return value;
}

std::vector<uint8_t> ImageDataReply::encode() const {
    ByteWriter w;
    w.u32(received);
    return w.take();
}

std::optional<ImageDataReply> ImageDataReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    ImageDataReply value;
    value.received = r.u32();
    return finish(r, value);
}

std::vector<uint8_t> ImageEndRequest::encode() const {
    ByteWriter w;
    w.u32(streamBytes);
    w.u32(streamCrc);
    w.u32(imageBytes);
    w.u32(imageCrc);
    return w.take();
}

std::optional<ImageEndRequest> ImageEndRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    ImageEndRequest value;
    value.streamBytes = r.u32();
    value.streamCrc = r.u32();
    value.imageBytes = r.u32();
    value.imageCrc = r.u32();
    return finish(r, value);
}

std::vector<uint8_t> ImageSlotRequest::encode() const {
    return {slot};
}

std::optional<ImageSlotRequest> ImageSlotRequest::decode(std::span<const uint8_t> payload) {
    if (payload.size() != 1 || payload[0] >= kImageSlots) {
        return std::nullopt;
    }
    return ImageSlotRequest{payload[0]};
}

std::string_view slotStateName(SlotState state) {
    switch (state) {
    case SlotState::Erased:
        return "erased";
    case SlotState::Loading:
        return "loading";
    case SlotState::Complete:
        return "complete";
    }
    return "unknown";
}

std::vector<uint8_t> ImageStatusReply::encode() const {
    ByteWriter w;
    w.u8(static_cast<uint8_t>(state));
    w.u32(bytes);
    w.u32(crc);
    w.text(typeName);
    return w.take();
}

std::optional<ImageStatusReply> ImageStatusReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    ImageStatusReply value;
    const uint8_t state = r.u8();
    value.bytes = r.u32();
    value.crc = r.u32();
    value.typeName = r.text();
    if (state > static_cast<uint8_t>(SlotState::Complete)) {
        return std::nullopt;
    }
    value.state = static_cast<SlotState>(state);
    return finish(r, value);
}

std::vector<uint8_t> BusyReply::encode() const {
    ByteWriter w;
    w.u32(expectedMs);
    return w.take();
}

std::optional<BusyReply> BusyReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    BusyReply value;
    value.expectedMs = r.u32();
    return finish(r, value);
}

bool validParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) {
    const uint32_t volts = targetVcc & ~uint32_t{kVccSwitchOff};
    const uint32_t program = options & option::kProgram;
    return (options & ~option::kKnown) == 0 && (program == 0 || program == option::kProgram) &&
           targetVcc <= 0xFF && (volts == 0 || (volts >= 18 && volts <= 36)) && settleMs <= 0xFFFF;
}

std::vector<uint8_t> LoadParametersRequest::encode() const {
    ByteWriter w;
    w.u32(options);
    w.u8(targetVcc);
    w.u16(settleMs);
    return w.take();
}

std::optional<LoadParametersRequest>
LoadParametersRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    LoadParametersRequest value;
    value.options = r.u32();
    value.targetVcc = r.u8();
    value.settleMs = r.u16();
    if (!validParameters(value.options, value.targetVcc, value.settleMs)) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> WorkRequest::encode() const {
    ByteWriter w;
    w.u32(limitMs);
    return w.take();
}

std::optional<WorkRequest> WorkRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    WorkRequest value;
    value.limitMs = r.u32();
    if (value.limitMs == 0) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> RunReply::encode() const {
    ByteWriter w;
    w.bytes(run);
    w.u8(runFailed);
    return w.take();
}

std::optional<RunReply> RunReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    RunReply value;
    const auto run = r.bytes(ResultReply::kRunBytes);
    std::copy(run.begin(), run.end(), value.run.begin());
    value.runFailed = r.u8();
    if (value.runFailed > 1) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> FirmwareEraseRequest::encode() const {
    ByteWriter w;
    w.u32(start);
    w.u32(length);
    return w.take();
}

std::optional<FirmwareEraseRequest> FirmwareEraseRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    FirmwareEraseRequest value;
    value.start = r.u32();
    value.length = r.u32();
    if (value.length == 0 || uint64_t{value.start} + value.length > kUnitMemoryEnd) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> FirmwareBeginRequest::encode() const {
    ByteWriter w;
    w.u8(static_cast<uint8_t>(kind));
    w.u32(streamBytes);
    return w.take();
}

std::optional<FirmwareBeginRequest> FirmwareBeginRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    FirmwareBeginRequest value;
    const uint8_t kind = r.u8();
    value.streamBytes = r.u32();
    if (kind > static_cast<uint8_t>(FirmwareKind::Loader) || value.streamBytes == 0 ||
        value.streamBytes > kUnitMemoryEnd) {
        return std::nullopt;
    }
    value.kind = static_cast<FirmwareKind>(kind);
    return finish(r, value);
}

std::vector<uint8_t> FirmwareEndRequest::encode() const {
    ByteWriter w;
    w.u32(streamBytes);
    w.u32(streamCrc);
    return w.take();
}

std::optional<FirmwareEndRequest> FirmwareEndRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    FirmwareEndRequest value;
    value.streamBytes = r.u32();
    value.streamCrc = r.u32();
    return finish(r, value);
}

std::vector<uint8_t> FirmwareEndReply::encode() const {
    ByteWriter w;
    w.u16(version);
    w.text(name);
    return w.take();
}

std::optional<FirmwareEndReply> FirmwareEndReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    FirmwareEndReply value;
    value.version = r.u16();
    value.name = r.text();
    return finish(r, value);
}

std::vector<uint8_t> ReadTargetBeginRequest::encode() const {
    ByteWriter w;
    w.u8(target);
    w.u32(start);
    w.u32(length);
    return w.take();
}

std::optional<ReadTargetBeginRequest>
ReadTargetBeginRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    ReadTargetBeginRequest value;
    value.target = r.u8();
    value.start = r.u32();
    value.length = r.u32();
    if (value.target >= kTargets || value.length == 0 ||
        uint64_t{value.start} + value.length > kTargetAddressSpace) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> ReadTargetBeginReply::encode() const {
    ByteWriter w;
    w.u32(length);
    w.u32(crc);
    return w.take();
}

std::optional<ReadTargetBeginReply> ReadTargetBeginReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    ReadTargetBeginReply value;
    value.length = r.u32();
    value.crc = r.u32();
    return finish(r, value);
}

std::vector<uint8_t> ReadTargetDataRequest::encode() const {
    ByteWriter w;
    w.u32(offset);
    w.u16(count);
    return w.take();
}

std::optional<ReadTargetDataRequest>
ReadTargetDataRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    ReadTargetDataRequest value;
    value.offset = r.u32();
    value.count = r.u16();
    // The answer carries a status byte and the offset besides the data.
    if (value.count == 0 || value.count > kMaxPayload - 8) {
        return std::nullopt;
    }
    return finish(r, value);
}

std::vector<uint8_t> ReadTargetDataReply::encode() const {
    ByteWriter w;
    w.u32(offset);
    w.bytes(data);
    return w.take();
}

std::optional<ReadTargetDataReply> ReadTargetDataReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    ReadTargetDataReply value;
    value.offset = r.u32();
    const auto data = r.rest();
    if (r.failed() || data.empty()) {
        return std::nullopt;
    }
    value.data.assign(data.begin(), data.end());
    return value;
}

std::vector<uint8_t> TargetFaultReply::encode() const {
    return {static_cast<uint8_t>(fault)};
}

std::optional<TargetFaultReply> TargetFaultReply::decode(std::span<const uint8_t> body) {
    if (body.size() != 1 || body[0] < static_cast<uint8_t>(TargetFault::NotPresent) ||
        body[0] > static_cast<uint8_t>(TargetFault::NoFirmware)) {
        return std::nullopt;
    }
    return TargetFaultReply{static_cast<TargetFault>(body[0])};
}

std::vector<uint8_t> AccessSfrRequest::encode() const {
    ByteWriter w;
    w.u8(target);
    w.u8(static_cast<uint8_t>(operation));
    w.u16(address);
    w.u16(value);
    return w.take();
}

std::optional<AccessSfrRequest> AccessSfrRequest::decode(std::span<const uint8_t> payload) {
    ByteReader r(payload);
    AccessSfrRequest value;
    value.target = r.u8();
    const uint8_t operation = r.u8();
    value.address = r.u16();
    value.value = r.u16();
    if (value.target >= kTargets || operation > kLastSfrOperation ||
        value.address >= kSfrSpaceEnd) {
        return std::nullopt;
    }
    value.operation = static_cast<SfrOperation>(operation);
    return finish(r, value);
}

std::vector<uint8_t> AccessSfrReply::encode() const {
    ByteWriter w;
    w.u16(value);
    return w.take();
}

std::optional<AccessSfrReply> AccessSfrReply::decode(std::span<const uint8_t> body) {
    ByteReader r(body);
    AccessSfrReply value;
    value.value = r.u16();
    return finish(r, value);
}

} // namespace octo::wire

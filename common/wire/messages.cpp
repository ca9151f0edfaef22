#include "wire/messages.h"

#include "wire/bytes.h"
#include "wire/frame.h"

#include <algorithm>
#include <tuple>
#include <type_traits>
#include <utility>

namespace octo::wire {

namespace {

// The one-byte enums of the payloads and the values each may take.
template <typename E>
struct EnumRange {
    E first;
    E last;
};
constexpr EnumRange<ImageMode> rangeOf(ImageMode) {
    return {ImageMode::Fresh, ImageMode::Append};
}
constexpr EnumRange<SlotState> rangeOf(SlotState) {
    return {SlotState::Erased, SlotState::Complete};
}
constexpr EnumRange<FirmwareKind> rangeOf(FirmwareKind) {
    return {FirmwareKind::Firmware, FirmwareKind::Loader};
}
constexpr EnumRange<SfrOperation> rangeOf(SfrOperation) {
    return {SfrOperation::Read, static_cast<SfrOperation>(kLastSfrOperation)};
}
constexpr EnumRange<TargetFault> rangeOf(TargetFault) {
    return {TargetFault::NotPresent, TargetFault::NoFirmware};
}

// How each kind of field goes onto the line (put) and comes back (take). A take answers
// false for a value out of range; a short payload is left to the reader's failed flag.
void put(ByteWriter& w, uint8_t value) {
    w.u8(value);
}
void put(ByteWriter& w, uint16_t value) {
    w.u16(value);
}
void put(ByteWriter& w, uint32_t value) {
    w.u32(value);
}
void put(ByteWriter& w, const std::string& value) {
    w.text(value);
}
// Fixed-size blocks, and data that fills the rest of the payload (always the last field).
void put(ByteWriter& w, std::span<const uint8_t> value) {
    w.bytes(value);
}
// The only optional text is the firmware name: a flag byte, then the name cut to what the
// result block holds.
void put(ByteWriter& w, const std::optional<std::string>& value) {
    w.u8(value ? 1 : 0);
    w.text(value ? value->substr(0, ResultReply::kMaxNameBytes - 1) : std::string());
}
// The unit's tail, written only when there is one.
void put(ByteWriter& w, const std::optional<UnitRecord>& value) {
    if (value) {
        w.text(value->serial.substr(0, UnitRecord::kMaxSerialChars));
        w.u32(value->mainProcesses);
    }
}
// Target records: a count, then each record's socket, address, length and bytes.
void put(ByteWriter& w, const std::vector<TargetRecord>& records) {
    w.u8(static_cast<uint8_t>(records.size()));
    for (const TargetRecord& record : records) {
        w.u8(record.socket);
        w.u32(record.address);
        w.u8(static_cast<uint8_t>(record.data.size()));
        w.bytes(record.data);
    }
}
template <typename E>
requires std::is_enum_v<E>
void put(ByteWriter& w, E value) {
    w.u8(static_cast<uint8_t>(value));
}

bool take(ByteReader& r, uint8_t& value) {
    value = r.u8();
    return true;
}
bool take(ByteReader& r, uint16_t& value) {
    value = r.u16();
    return true;
}
bool take(ByteReader& r, uint32_t& value) {
    value = r.u32();
    return true;
}
bool take(ByteReader& r, std::string& value) {
    value = r.text();
    return true;
}
template <size_t N>
bool take(ByteReader& r, std::array<uint8_t, N>& value) {
    const auto bytes = r.bytes(N);
    std::copy(bytes.begin(), bytes.end(), value.begin());
    return true;
}
bool take(ByteReader& r, std::vector<uint8_t>& value) {
    const auto rest = r.rest();
    value.assign(rest.begin(), rest.end());
    return !value.empty();
}
bool take(ByteReader& r, std::optional<std::string>& value) {
    const uint8_t hasName = r.u8();
    std::string name = r.text();
    if (hasName > 1 || name.size() >= ResultReply::kMaxNameBytes) {
        return false;
    }
    if (hasName) {
        value = std::move(name);
    }
    return true;
}
// A reply that ends here comes from a unit that does not report itself.
bool take(ByteReader& r, std::optional<UnitRecord>& value) {
    if (r.atEnd()) {
        return true;
    }
    UnitRecord unit;
    unit.serial = r.text();
    unit.mainProcesses = r.u32();
    if (unit.serial.size() > UnitRecord::kMaxSerialChars) {
        return false;
    }
    value = std::move(unit);
    return true;
}
bool take(ByteReader& r, std::vector<TargetRecord>& records) {
    const uint8_t count = r.u8();
    if (count > kTargets) {
        return false;
    }
    for (uint8_t i = 0; i < count; ++i) {
        TargetRecord record;
        record.socket = r.u8();
        record.address = r.u32();
        const uint8_t length = r.u8();
        if (length == 0 || length > kLongestTargetRecord) {
            return false;
        }
        const auto data = r.bytes(length);
        record.data.assign(data.begin(), data.end());
        records.push_back(std::move(record));
    }
    return true;
}
template <typename E>
requires std::is_enum_v<E>
bool take(ByteReader& r, E& value) {
    const uint8_t raw = r.u8();
    const auto [first, last] = rangeOf(E{});
    value = static_cast<E>(raw);
    return raw >= static_cast<uint8_t>(first) && raw <= static_cast<uint8_t>(last);
}

// Rules on the values of single fields.
bool isFlag(uint32_t value) {
    return value <= 1;
}
bool isBaudIndex(uint32_t value) {
    return value < kBaudRates.size();
}
bool isSlot(uint32_t value) {
    return value < kImageSlots;
}
bool isTarget(uint32_t value) {
    return value < kTargets;
}
bool isNonZero(uint32_t value) {
    return value != 0;
}
bool isFirmwareSize(uint32_t value) {
    return value != 0 && value <= kUnitMemoryEnd;
}
// The answer carries a status byte and the offset besides the data.
bool isReadOutCount(uint32_t value) {
    return value != 0 && value <= kMaxPayload - 8;
}
bool isSfrAddress(uint32_t value) {
    return value < kSfrSpaceEnd;
}

// A field in a message's list: a pointer to the member, or that pointer with a rule.
template <typename Member>
struct Checked {
    Member member;
    bool (*rule)(uint32_t);
};
template <typename Member>
constexpr Checked<Member> checked(Member member, bool (*rule)(uint32_t)) {
    return {member, rule};
}
template <typename Member>
constexpr Member memberOf(Member member) {
    return member;
}
template <typename Member>
constexpr Member memberOf(Checked<Member> field) {
    return field.member;
}
template <typename Member, typename Value>
bool obeys(Member, const Value&) {
    return true;
}
template <typename Member, typename Value>
bool obeys(Checked<Member> field, const Value& value) {
    return field.rule(value);
}

// What a message must hold across its fields; most messages ask nothing more.
template <typename T>
bool valid(const T&) {
    return true;
}
// An image chunk ends within the 32-bit address space.
template <>
bool valid(const ImageDataRequest& m) {
    return uint64_t{m.address} + m.data.size() <= (uint64_t{1} << 32);
}
template <>
bool valid(const LoadParametersRequest& m) {
    return validParameters(m.options, m.targetVcc, m.settleMs);
}
template <>
bool valid(const FirmwareEraseRequest& m) {
    return uint64_t{m.start} + m.length <= kUnitMemoryEnd;
}
template <>
bool valid(const ReadTargetBeginRequest& m) {
    return uint64_t{m.start} + m.length <= kTargetAddressSpace;
}
// One record a socket, each inside a target's address space.
template <>
bool valid(const TargetDataRequest& m) {
    std::array<bool, kTargets> seen{};
    for (const TargetRecord& record : m.records) {
        if (!isTarget(record.socket) || seen[record.socket] ||
            uint64_t{record.address} + record.data.size() > kTargetAddressSpace) {
            return false;
        }
        seen[record.socket] = true;
    }
    return true;
}

template <typename T, typename... Fields>
std::vector<uint8_t> encodeFields(const T& message, std::tuple<Fields...> fields) {
    ByteWriter w;
    std::apply([&](auto... field) { (put(w, message.*memberOf(field)), ...); }, fields);
    return w.take();
}

template <typename T, typename... Fields>
std::optional<T> decodeFields(std::span<const uint8_t> bytes, std::tuple<Fields...> fields) {
    ByteReader r(bytes);
    T message;
    const auto takeField = [&](auto field) {
        auto& value = message.*memberOf(field);
        return take(r, value) && obeys(field, value);
    };
    const bool inRange =
        std::apply([&](auto... field) { return (takeField(field) && ...); }, fields);
    if (!inRange || !r.complete() || !valid(message)) {
        return std::nullopt;
    }
    return message;
}

} // namespace

// Names for logs and the simulator's state file.
constexpr std::pair<Command, std::string_view> kCommandNames[] = {
    {Command::Hello, "Hello"},
    {Command::GetResult, "GetResult"},
    {Command::SetBaud, "SetBaud"},
    {Command::SetSupply, "SetSupply"},
    {Command::SetSignals, "SetSignals"},
    {Command::ImageErase, "ImageErase"},
    {Command::ImageSelect, "ImageSelect"},
    {Command::ImageBegin, "ImageBegin"},
    {Command::ImageData, "ImageData"},
    {Command::ImageEnd, "ImageEnd"},
    {Command::ImageAbort, "ImageAbort"},
    {Command::ImageStatus, "ImageStatus"},
    {Command::LoadParameters, "LoadParameters"},
    {Command::MainProcess, "MainProcess"},
    {Command::Selftest, "Selftest"},
    {Command::TargetData, "TargetData"},
    {Command::FirmwareErase, "FirmwareErase"},
    {Command::FirmwareBegin, "FirmwareBegin"},
    {Command::FirmwareData, "FirmwareData"},
    {Command::FirmwareEnd, "FirmwareEnd"},
    {Command::TempLoader, "TempLoader"},
    {Command::ReadTargetBegin, "ReadTargetBegin"},
    {Command::ReadTargetData, "ReadTargetData"},
    {Command::ReadTargetEnd, "ReadTargetEnd"},
    {Command::AccessSfr, "AccessSfr"},
    {Command::Nak, "Nak"},
};

std::string_view commandName(uint8_t command) {
    const auto code = static_cast<Command>(command & ~kResponseFlag);
    for (const auto& [known, name] : kCommandNames) {
        if (known == code) {
            return name;
        }
    }
    return "Unknown";
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

bool validSupplyCode(uint32_t code) {
    return code == 0 || code == 1 || (code >= 18 && code <= 36);
}

bool validParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs) {
    const uint32_t volts = targetVcc & ~uint32_t{kVccSwitchOff};
    const uint32_t program = options & option::kProgram;
    return (options & ~option::kKnown) == 0 && (program == 0 || program == option::kProgram) &&
           targetVcc <= 0xFF && (volts == 0 || (volts >= 18 && volts <= 36)) && settleMs <= 0xFFFF;
}

// The body is whatever follows the status, possibly nothing.
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

// Defines a message's encode and decode from its fields, listed once in wire order.
#define OCTO_WIRE_MESSAGE(Type, ...)                                                               \
    std::vector<uint8_t> Type::encode() const {                                                    \
        return encodeFields(*this, std::tuple{__VA_ARGS__});                                       \
    }                                                                                              \
    std::optional<Type> Type::decode(std::span<const uint8_t> bytes) {                             \
        return decodeFields<Type>(bytes, std::tuple{__VA_ARGS__});                                 \
    }

OCTO_WIRE_MESSAGE(HelloRequest, &HelloRequest::protocolVersion)
OCTO_WIRE_MESSAGE(HelloReply, &HelloReply::protocolVersion, &HelloReply::maxPayload,
                  &HelloReply::baudRate)
OCTO_WIRE_MESSAGE(ResultReply, &ResultReply::run, checked(&ResultReply::runFailed, isFlag),
                  &ResultReply::hardwareVersion, &ResultReply::firmwareVersion,
                  &ResultReply::thirdVersion, &ResultReply::firmwareName, &ResultReply::unit)
OCTO_WIRE_MESSAGE(SetBaudRequest, checked(&SetBaudRequest::index, isBaudIndex))
OCTO_WIRE_MESSAGE(SetSupplyRequest, checked(&SetSupplyRequest::code, validSupplyCode))
OCTO_WIRE_MESSAGE(SetSignalsRequest, &SetSignalsRequest::word,
                  checked(&SetSignalsRequest::supplyCode, validSupplyCode))
OCTO_WIRE_MESSAGE(ImageSelectRequest, checked(&ImageSelectRequest::slot, isSlot))
OCTO_WIRE_MESSAGE(ImageBeginRequest, checked(&ImageBeginRequest::slot, isSlot),
                  &ImageBeginRequest::mode, &ImageBeginRequest::baseBytes,
                  &ImageBeginRequest::baseCrc, &ImageBeginRequest::streamBytes,
                  &ImageBeginRequest::typeName)
OCTO_WIRE_MESSAGE(ImageDataRequest, &ImageDataRequest::offset, &ImageDataRequest::address,
                  &ImageDataRequest::data)
OCTO_WIRE_MESSAGE(ImageDataReply, &ImageDataReply::received)
OCTO_WIRE_MESSAGE(ImageEndRequest, &ImageEndRequest::streamBytes, &ImageEndRequest::streamCrc,
                  &ImageEndRequest::imageBytes, &ImageEndRequest::imageCrc)
OCTO_WIRE_MESSAGE(ImageSlotRequest, checked(&ImageSlotRequest::slot, isSlot))
OCTO_WIRE_MESSAGE(ImageStatusReply, &ImageStatusReply::state, &ImageStatusReply::bytes,
                  &ImageStatusReply::crc, &ImageStatusReply::typeName)
OCTO_WIRE_MESSAGE(BusyReply, &BusyReply::expectedMs)
OCTO_WIRE_MESSAGE(LoadParametersRequest, &LoadParametersRequest::options,
                  &LoadParametersRequest::targetVcc, &LoadParametersRequest::settleMs)
OCTO_WIRE_MESSAGE(WorkRequest, checked(&WorkRequest::limitMs, isNonZero))
OCTO_WIRE_MESSAGE(RunReply, &RunReply::run, checked(&RunReply::runFailed, isFlag))
OCTO_WIRE_MESSAGE(TargetDataRequest, &TargetDataRequest::records)
OCTO_WIRE_MESSAGE(FirmwareEraseRequest, &FirmwareEraseRequest::start,
                  checked(&FirmwareEraseRequest::length, isNonZero))
OCTO_WIRE_MESSAGE(FirmwareBeginRequest, &FirmwareBeginRequest::kind,
                  checked(&FirmwareBeginRequest::streamBytes, isFirmwareSize))
OCTO_WIRE_MESSAGE(FirmwareEndRequest, &FirmwareEndRequest::streamBytes,
                  &FirmwareEndRequest::streamCrc)
OCTO_WIRE_MESSAGE(FirmwareEndReply, &FirmwareEndReply::version, &FirmwareEndReply::name)
OCTO_WIRE_MESSAGE(ReadTargetBeginRequest, checked(&ReadTargetBeginRequest::target, isTarget),
                  &ReadTargetBeginRequest::start,
                  checked(&ReadTargetBeginRequest::length, isNonZero))
OCTO_WIRE_MESSAGE(ReadTargetBeginReply, &ReadTargetBeginReply::length, &ReadTargetBeginReply::crc)
OCTO_WIRE_MESSAGE(ReadTargetDataRequest, &ReadTargetDataRequest::offset,
                  checked(&ReadTargetDataRequest::count, isReadOutCount))
OCTO_WIRE_MESSAGE(ReadTargetDataReply, &ReadTargetDataReply::offset, &ReadTargetDataReply::data)
OCTO_WIRE_MESSAGE(TargetFaultReply, &TargetFaultReply::fault)
OCTO_WIRE_MESSAGE(AccessSfrRequest, checked(&AccessSfrRequest::target, isTarget),
                  &AccessSfrRequest::operation, checked(&AccessSfrRequest::address, isSfrAddress),
                  &AccessSfrRequest::value)
OCTO_WIRE_MESSAGE(AccessSfrReply, &AccessSfrReply::value)

#undef OCTO_WIRE_MESSAGE

} // namespace octo::wire

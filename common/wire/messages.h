// The commands of the serial protocol and their payloads, as typed structs with pure
// encode and decode functions (big-endian, never a struct laid over bytes). Every decode
// returns nothing for a payload of the wrong size or with a field out of range.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo::wire {

inline constexpr uint16_t kProtocolVersion = 1;

enum class Command : uint8_t {
    Hello = 0x01,
    GetResult = 0x02,
    SetBaud = 0x03,
    SetSupply = 0x04,
    SetSignals = 0x05,
    ImageErase = 0x10,
    ImageSelect = 0x11,
    ImageBegin = 0x12,
    ImageData = 0x13,
    ImageEnd = 0x14,
    ImageAbort = 0x15,
    ImageStatus = 0x16,
    // The target operations.
    LoadParameters = 0x20,
    MainProcess = 0x21,
    Selftest = 0x22,
    TargetData = 0x23,
    FirmwareErase = 0x30,
    FirmwareBegin = 0x31,
    FirmwareData = 0x32,
    FirmwareEnd = 0x33,
    TempLoader = 0x34,
    ReadTargetBegin = 0x40,
    ReadTargetData = 0x41,
    ReadTargetEnd = 0x42,
    AccessSfr = 0x50,
    // The unit's answer to a frame whose header checked and whose payload did not.
    Nak = 0x7F,
};

inline constexpr uint8_t kResponseFlag = 0x80;
inline constexpr uint8_t responseCode(Command command) {
    return static_cast<uint8_t>(static_cast<uint8_t>(command) | kResponseFlag);
}
std::string_view commandName(uint8_t command);

// First byte of every response payload.
enum class Status : uint8_t {
    Ok = 0,
    Busy = 1, // interim: the command runs; body = expected duration in ms (u32)
    UnknownCommand = 2,
    BadArgument = 3,
    BadState = 4,      // e.g. image data without a begun load
    Failed = 5,        // the unit could not do it; details in its result block
    NotSupplied = 6,   // supply command 0: the targets are not supplied by the unit
    ImageMismatch = 7, // append onto an image other than the one named, or end check failed
    Gap = 8,           // image data beyond what was received; body = received offset
};

struct Response {
    Status status = Status::Ok;
    std::vector<uint8_t> body;

    std::vector<uint8_t> encode() const;
    static std::optional<Response> decode(std::span<const uint8_t> payload);
};

struct HelloRequest {
    uint16_t protocolVersion = kProtocolVersion;
    std::vector<uint8_t> encode() const;
    static std::optional<HelloRequest> decode(std::span<const uint8_t> payload);
};

struct HelloReply {
    uint16_t protocolVersion = kProtocolVersion;
    uint16_t maxPayload = 0;
    uint32_t baudRate = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<HelloReply> decode(std::span<const uint8_t> body);
};

// The unit's identification and its last run's result, as the 256-byte result block
// needs them.
// The unit's own serial number and how many main processes it has run since it started:
// the tail of a result reply, missing from older units' replies.
struct UnitRecord {
    static constexpr size_t kMaxSerialChars = 32;
    std::string serial;
    uint32_t mainProcesses = 0;
    bool operator==(const UnitRecord&) const = default;
};

struct ResultReply {
    static constexpr size_t kRunBytes = 8;
    static constexpr size_t kMaxNameBytes = 17; // bytes 12..29 of the block, zero included
    std::array<uint8_t, kRunBytes> run{};       // block bytes 0..7
    uint8_t runFailed = 0;                      // the last run counts as failed
    uint16_t hardwareVersion = 0xFFFF;
    uint16_t firmwareVersion = 0xFFFF;
    uint16_t thirdVersion = 0xFFFF;
    std::optional<std::string> firmwareName; // none: byte 12 reads 0xFF
    std::optional<UnitRecord> unit;          // none: a reply that ends after the name
    std::vector<uint8_t> encode() const;
    static std::optional<ResultReply> decode(std::span<const uint8_t> body);
};

struct SetBaudRequest {
    uint8_t index = 0; // 0..4 = 9600, 19200, 38400, 57600, 115200
    std::vector<uint8_t> encode() const;
    static std::optional<SetBaudRequest> decode(std::span<const uint8_t> payload);
};

inline constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};

struct SetSupplyRequest {
    uint8_t code = 0; // 0 not supplied, 1 supplied but off, 18..36 tenths of a volt
    std::vector<uint8_t> encode() const;
    static std::optional<SetSupplyRequest> decode(std::span<const uint8_t> payload);
};

bool validSupplyCode(uint32_t code);

struct SetSignalsRequest {
    uint16_t word = 0;
    uint8_t supplyCode = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<SetSignalsRequest> decode(std::span<const uint8_t> payload);
};

inline constexpr uint8_t kImageSlots = 8;

struct ImageSelectRequest {
    uint8_t slot = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<ImageSelectRequest> decode(std::span<const uint8_t> payload);
};

enum class ImageMode : uint8_t { Fresh = 0, Append = 1 };

struct ImageBeginRequest {
    uint8_t slot = 0;
    ImageMode mode = ImageMode::Fresh;
    uint32_t baseBytes = 0;   // Append: the slot must hold this many bytes ...
    uint32_t baseCrc = 0;     // ... with this CRC-32, or the unit refuses
    uint32_t streamBytes = 0; // data bytes this load sends
    std::string typeName;     // device type the image is for
    std::vector<uint8_t> encode() const;
    static std::optional<ImageBeginRequest> decode(std::span<const uint8_t> payload);
};

// One chunk of image data: its place in this load's stream and its target address.
struct ImageDataRequest {
    uint32_t offset = 0;
    uint32_t address = 0;
    std::vector<uint8_t> data;
    static constexpr size_t kHeaderBytes = 8;
    std::vector<uint8_t> encode() const;
    static std::optional<ImageDataRequest> decode(std::span<const uint8_t> payload);
};

// Answer to image data (Ok, or Gap when a chunk before it was lost): every stream byte
// below received has arrived.
struct ImageDataReply {
    uint32_t received = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<ImageDataReply> decode(std::span<const uint8_t> body);
};

struct ImageEndRequest {
    uint32_t streamBytes = 0;
    uint32_t streamCrc = 0;  // CRC-32 of the stream's data in stream order
    uint32_t imageBytes = 0; // the whole slot afterwards
    uint32_t imageCrc = 0;   // CRC-32 of the slot's bytes in ascending address order
    std::vector<uint8_t> encode() const;
    static std::optional<ImageEndRequest> decode(std::span<const uint8_t> payload);
};

struct ImageSlotRequest {
    uint8_t slot = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<ImageSlotRequest> decode(std::span<const uint8_t> payload);
};

enum class SlotState : uint8_t { Erased = 0, Loading = 1, Complete = 2 };
std::string_view slotStateName(SlotState state);

struct ImageStatusReply {
    SlotState state = SlotState::Erased;
    uint32_t bytes = 0;
    uint32_t crc = 0;
    std::string typeName;
    std::vector<uint8_t> encode() const;
    static std::optional<ImageStatusReply> decode(std::span<const uint8_t> body);
};

struct BusyReply {
    uint32_t expectedMs = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<BusyReply> decode(std::span<const uint8_t> body);
};

// --- the target operations --------------------------------------------------------------

// Bits of the option word of the parameter block.
namespace option {
inline constexpr uint32_t kEraseInfo = 0x1;
inline constexpr uint32_t kEraseMain = 0x2;
inline constexpr uint32_t kErasePinfo = 0x4; // the protected information segment too
inline constexpr uint32_t kProgram = 0x98;   // three bits that only come together
inline constexpr uint32_t kVerify = 0x20;
inline constexpr uint32_t kSecure = 0x40;
inline constexpr uint32_t kCheckInfo = 0x100;
inline constexpr uint32_t kCheckMain = 0x200;
inline constexpr uint32_t kCheckPinfo = 0x400;
inline constexpr uint32_t kDuoLink = 0x800;
inline constexpr uint32_t kSpeedShift = 12; // interface speed 0 (fastest) to 3, bits 12-13
inline constexpr uint32_t kSpeedMask = 0x3000;
inline constexpr uint32_t kMarginal = 0x4000;
inline constexpr uint32_t kEraseBsl = 0x10000;
inline constexpr uint32_t kCheckBsl = 0x20000;
inline constexpr uint32_t kProgramBsl = 0x40000;
inline constexpr uint32_t kKnown = kEraseInfo | kEraseMain | kErasePinfo | kProgram | kVerify |
                                   kSecure | kCheckInfo | kCheckMain | kCheckPinfo | kDuoLink |
                                   kSpeedMask | kMarginal | kEraseBsl | kCheckBsl | kProgramBsl;
inline constexpr uint32_t kErase = kEraseInfo | kEraseMain | kErasePinfo | kEraseBsl;
inline constexpr uint32_t kCheck = kCheckInfo | kCheckMain | kCheckPinfo | kCheckBsl;
} // namespace option

// The parameter block's target supply: tenths of a volt (0 = the unit does not supply
// the targets), plus this flag to switch the supply off between operations.
inline constexpr uint8_t kVccSwitchOff = 0x80;

// Options with only known bits and the program bits all set or all clear; a supply of 0
// or 18..36 tenths of a volt, with or without kVccSwitchOff.
bool validParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs);

struct LoadParametersRequest {
    uint32_t options = 0;
    uint8_t targetVcc = 0;
    uint16_t settleMs = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<LoadParametersRequest> decode(std::span<const uint8_t> payload);
};

// MainProcess and Selftest: the caller's time-out. The unit stops the work when it runs
// out, so it is free again when the caller gives up.
struct WorkRequest {
    uint32_t limitMs = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<WorkRequest> decode(std::span<const uint8_t> payload);
};

// The final answer to MainProcess and Selftest: result block bytes 0..7 and whether the
// run counts as failed (it could not be carried out as a whole).
struct RunReply {
    std::array<uint8_t, ResultReply::kRunBytes> run{};
    uint8_t runFailed = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<RunReply> decode(std::span<const uint8_t> body);
};

// Each socket's own record (a serial number, a key), written by the next main process after
// the image is programmed and verified and before securing. A request replaces the records
// the unit holds; none clears them.
inline constexpr size_t kLongestTargetRecord = 32;

struct TargetRecord {
    uint8_t socket = 0; // 0..7
    uint32_t address = 0;
    std::vector<uint8_t> data; // 1..kLongestTargetRecord bytes
    bool operator==(const TargetRecord&) const = default;
};

// At most one record a socket, each inside a target's address space.
struct TargetDataRequest {
    std::vector<TargetRecord> records;
    std::vector<uint8_t> encode() const;
    static std::optional<TargetDataRequest> decode(std::span<const uint8_t> payload);
};

// Result block bytes.
inline constexpr size_t kConnectedByte = 0;
inline constexpr size_t kEraseCheckedByte = 1;
inline constexpr size_t kVerifiedByte = 2;
inline constexpr size_t kFuseBlownByte = 3;
inline constexpr size_t kOverAllByte = 4;
inline constexpr size_t kMiscErrorsByte = 5;
inline constexpr uint8_t kMiscImageCorrupted = 1; // the image memory is erased or incomplete
inline constexpr uint8_t kMiscSelftestFirst = 2;  // self-test failures 2..8
inline constexpr uint8_t kMiscSelftestLast = 8;

// The unit's own memory: a firmware erase must lie inside it.
inline constexpr uint32_t kUnitMemoryEnd = 0x10000;

struct FirmwareEraseRequest {
    uint32_t start = 0;
    uint32_t length = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<FirmwareEraseRequest> decode(std::span<const uint8_t> payload);
};

enum class FirmwareKind : uint8_t { Firmware = 0, Loader = 1 };

// FirmwareData then moves the bytes as ImageDataRequest / ImageDataReply do for images.
struct FirmwareBeginRequest {
    FirmwareKind kind = FirmwareKind::Firmware;
    uint32_t streamBytes = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<FirmwareBeginRequest> decode(std::span<const uint8_t> payload);
};

struct FirmwareEndRequest {
    uint32_t streamBytes = 0;
    uint32_t streamCrc = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<FirmwareEndRequest> decode(std::span<const uint8_t> payload);
};

// What the unit found in the bytes it received.
struct FirmwareEndReply {
    uint16_t version = 0;
    std::string name;
    std::vector<uint8_t> encode() const;
    static std::optional<FirmwareEndReply> decode(std::span<const uint8_t> body);
};

// A target's address space: a read-out lies below this.
inline constexpr uint32_t kTargetAddressSpace = 0x100000;
inline constexpr uint8_t kTargets = 8;

struct ReadTargetBeginRequest {
    uint8_t target = 0; // 0..7
    uint32_t start = 0;
    uint32_t length = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<ReadTargetBeginRequest> decode(std::span<const uint8_t> payload);
};

// The unit has read the range into its buffer: its CRC-32, for the reader's end check.
struct ReadTargetBeginReply {
    uint32_t length = 0;
    uint32_t crc = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<ReadTargetBeginReply> decode(std::span<const uint8_t> body);
};

struct ReadTargetDataRequest {
    uint32_t offset = 0;
    uint16_t count = 0; // 1..kMaxPayload - 8
    std::vector<uint8_t> encode() const;
    static std::optional<ReadTargetDataRequest> decode(std::span<const uint8_t> payload);
};

struct ReadTargetDataReply {
    uint32_t offset = 0;
    std::vector<uint8_t> data;
    std::vector<uint8_t> encode() const;
    static std::optional<ReadTargetDataReply> decode(std::span<const uint8_t> body);
};

// Why a target operation failed: the body of a Failed answer to ReadTargetBegin and
// AccessSfr, and of a BadState answer when the unit cannot run target operations.
enum class TargetFault : uint8_t {
    NotPresent = 1,   // the socket is empty
    NoAnswer = 2,     // not supplied, wrong voltage, wrong interface or type, or broken
    Secured = 3,      // the fuse is blown: the target cannot be reached
    NoParameters = 4, // no parameter block since power-on
    NoFirmware = 5,   // the unit's firmware is erased or incomplete
};

struct TargetFaultReply {
    TargetFault fault = TargetFault::NoAnswer;
    std::vector<uint8_t> encode() const;
    static std::optional<TargetFaultReply> decode(std::span<const uint8_t> body);
};

// Register operations: the register's value afterwards is the answer.
enum class SfrOperation : uint8_t { Read = 0, Write = 1, And = 2, Or = 3, Xor = 4 };
inline constexpr uint32_t kLastSfrOperation = 4;
// Peripheral registers of the family lie below this address.
inline constexpr uint32_t kSfrSpaceEnd = 0x1000;

struct AccessSfrRequest {
    uint8_t target = 0; // 0..7
    SfrOperation operation = SfrOperation::Read;
    uint16_t address = 0;
    uint16_t value = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<AccessSfrRequest> decode(std::span<const uint8_t> payload);
};

struct AccessSfrReply {
    uint16_t value = 0;
    std::vector<uint8_t> encode() const;
    static std::optional<AccessSfrReply> decode(std::span<const uint8_t> body);
};

} // namespace octo::wire

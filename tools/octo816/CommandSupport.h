// What the subcommands of octo816 share: the library's result codes and texts, the line to
// the unit, the device types, and the small formatting of the reports. Each family of
// subcommands has its own file; runCommand (Commands.cpp) picks one.
#pragma once

#include "Commands.h"
#include "Invocation.h"

#include "devices/device_table.h"
#include "trace/trace_log.h"

#include <octo816.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace octo::cli {

using Clock = std::chrono::steady_clock;
using ResultBlock = std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>;

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kUnitRefused = 8;
inline constexpr int32_t kFailedRun = 50;
// The library's refusals of target records, before it sends anything to the unit.
inline constexpr int32_t kFirstRecordRefusal = 54;
inline constexpr int32_t kLastRecordRefusal = 59;

// The window's first expectation of the image erase, for the progress bar.
inline constexpr uint32_t kEraseImageExpectedMs = 1000;

std::string libraryText(int32_t code);
// Throws the library's failure: bad input for the codes of a file or an argument it refuses,
// else a unit error.
[[noreturn]] void fail(int32_t code, const std::string& what);

std::string hex8(uint32_t value);
std::string hexAddress(uint32_t value);
std::string seconds(double ms);
std::string voltsText(int tenths);
std::string yesNo(bool value);
std::string fileName(const std::string& path);
// The expected line time of a stream of bytes at a baud rate.
uint32_t streamMs(uint64_t bytes, uint32_t baud);
double msSince(Clock::time_point started);

// The line to the unit, open for the life of the command.
class UnitLink {
public:
    explicit UnitLink(const Invocation& in);
    ~UnitLink();
    UnitLink(const UnitLink&) = delete;
    UnitLink& operator=(const UnitLink&) = delete;
};

// The result block as the unit answers it now (50, a run it could not do, fills it too).
ResultBlock readBlock(const char* what);

// The unit's serial number and count of main processes, as the traceability log takes
// them: empty and none when the library or the unit does not tell.
struct UnitRecord {
    std::string serial;
    std::optional<uint32_t> runs;
};
UnitRecord readUnitRecord();

std::string unitJson(const std::string& port, const trace::UnitIdentity& unit);
std::string unitLine(const std::string& port, const trace::UnitIdentity& unit);
std::string resultJson(int32_t code);

// A device type of the table, with the segment rows the library hands out for it.
struct TypeFacts {
    const devices::DeviceType* row = nullptr;
    std::string name;
    std::vector<OctoSegmentEntry> segments;

    bool has(uint32_t kind) const;
};

TypeFacts typeFacts(const devices::DeviceType& row);
TypeFacts typeNamed(const std::string& name);

// The subcommands, each writing its report to out and returning its exit status.
int programCommand(const Invocation& in, std::FILE* out);
int infoCommand(const Invocation& in, std::FILE* out);
int selftestCommand(const Invocation& in, std::FILE* out);
int eraseImageCommand(const Invocation& in, std::FILE* out);
int readoutCommand(const Invocation& in, std::FILE* out);
int firmwareCommand(const Invocation& in, std::FILE* out);
int typesCommand(const Invocation& in, std::FILE* out);
int reportCommand(const Invocation& in, std::FILE* out);
int serialsCommand(const Invocation& in, std::FILE* out);

} // namespace octo::cli

// libFuzzer target: octo816's command line, the parser alone (no unit, no library call).
//
// The input: the argument vector, its arguments separated by NUL bytes. Checked:
// - nothing but a refusal (UsageError) leaves the parser: no crash, no other exception;
// - a refusal is one line once escaped as the tool prints it, and says something;
// - what the parser accepts keeps its promises: a known command, values within their
//   ranges, a read-out inside a target's address space.
#include "fuzz_support.h"

#include "Escape.h"
#include "Invocation.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace {

using octo::fuzz::require;
namespace cli = octo::cli;

constexpr size_t kMostArguments = 32;
constexpr int kMostRepeats = 100000;
constexpr uint64_t kTargetAddressSpace = 0x100000;
constexpr int kLowestSupplyTenths = 18;
constexpr int kHighestSupplyTenths = 36;
constexpr uint16_t kLongestSettleMs = 5000;

std::vector<std::string> argumentsOf(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t from = 0;
    while (from <= bytes.size() && args.size() < kMostArguments) {
        const size_t end = std::min(bytes.find('\0', from), bytes.size());
        args.emplace_back(bytes.substr(from, end - from));
        from = end + 1;
    }
    return args;
}

void checkAccepted(const cli::Invocation& in) {
    const std::vector<uint32_t> rates = {9600, 19200, 38400, 57600, 115200};
    require(std::find(rates.begin(), rates.end(), in.baud) != rates.end());
    require(!in.supplyTenths ||
            (*in.supplyTenths >= kLowestSupplyTenths && *in.supplyTenths <= kHighestSupplyTenths));
    switch (in.command) {
    case cli::Command::Help:
        require(!in.help.empty());
        break;
    case cli::Command::Program:
        require(!in.files.empty() && in.files.size() <= 2 && !in.typeName.empty());
        require(in.repeat >= 1 && in.repeat <= kMostRepeats);
        require(in.settleMs <= kLongestSettleMs);
        break;
    case cli::Command::Readout:
        require(in.target >= 1 && in.target <= 8);
        require(in.length >= 1 && uint64_t{in.start} + in.length <= kTargetAddressSpace);
        require(!in.outPath.empty());
        break;
    case cli::Command::Firmware:
        require(in.files.size() == 1);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = argumentsOf(data, size);
    try {
        checkAccepted(cli::parseArguments(args));
    } catch (const cli::UsageError& refused) {
        const std::string line = cli::printable(refused.what());
        require(!line.empty());
        require(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
    }
    // Anything else thrown leaves the target uncaught: libFuzzer keeps the input.
    return 0;
}

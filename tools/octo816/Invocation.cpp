#include "Invocation.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace octo::cli {

namespace {

constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
constexpr double kLowestSupplyVolts = 1.8;
constexpr double kHighestSupplyVolts = 3.6;
constexpr double kTenthsPerVolt = 10;
constexpr double kLongestSettleSeconds = 5.0;
constexpr double kMsPerSecond = 1000;
constexpr int kMaxRepeat = 100000;
constexpr int kTargets = 8;
// A target's address space.
constexpr uint64_t kTargetAddressSpace = 0x100000;

struct CommandName {
    std::string_view name;
    Command command;
};
constexpr std::array<CommandName, 7> kCommands = {{
    {"info", Command::Info},
    {"program", Command::Program},
    {"selftest", Command::Selftest},
    {"readout", Command::Readout},
    {"firmware", Command::Firmware},
    {"erase-image", Command::EraseImage},
    {"types", Command::Types},
}};

// Options that take a value; every other option is a switch.
constexpr std::array<std::string_view, 10> kValueOptions = {
    "--port",   "--baud",   "--type", "--erase",  "--vcc",
    "--settle", "--repeat", "--log",  "--target", "--start"};
constexpr std::string_view kLengthOption = "--length";

bool takesValue(std::string_view option) {
    return option == kLengthOption ||
           std::find(kValueOptions.begin(), kValueOptions.end(), option) != kValueOptions.end();
}

// A whole decimal or 0x-hexadecimal number.
uint64_t unsignedNumber(const std::string& option, const std::string& text) {
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        throw UsageError(option + " takes a number, not \"" + text + "\"");
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        throw UsageError(option + " takes a number, not \"" + text + "\"");
    }
    return value;
}

double decimalNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || end == text.c_str() || *end != '\0' ||
        !std::isfinite(value)) {
        throw UsageError(option + " takes a number, not \"" + text + "\"");
    }
    return value;
}

EraseChoice eraseChoice(const std::string& list) {
    EraseChoice choice{false, false, false, false};
    if (list == "none") {
        return choice;
    }
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = std::min(list.find(',', from), list.size());
        const std::string part = list.substr(from, comma - from);
        if (part == "main") {
            choice.main = true;
        } else if (part == "info") {
            choice.info = true;
        } else if (part == "pinfo") {
            // The protected segment is part of the information memory.
            choice.info = true;
            choice.protectedInfo = true;
        } else if (part == "bsl") {
            choice.bsl = true;
        } else {
            throw UsageError("--erase takes main, info, pinfo, bsl or none, not \"" + part + "\"");
        }
        from = comma + 1;
    }
    return choice;
}

void setOption(Invocation& in, const std::string& option, const std::string& value) {
    if (option == "--port") {
        in.port = value;
    } else if (option == "--baud") {
        const uint64_t baud = unsignedNumber(option, value);
        if (std::find(kBaudRates.begin(), kBaudRates.end(), baud) == kBaudRates.end()) {
            throw UsageError("--baud takes 9600, 19200, 38400, 57600 or 115200");
        }
        in.baud = static_cast<uint32_t>(baud);
    } else if (option == "--type") {
        in.typeName = value;
    } else if (option == "--erase") {
        in.erase = eraseChoice(value);
    } else if (option == "--vcc") {
        const double volts = decimalNumber(option, value);
        if (volts < kLowestSupplyVolts - 1e-9 || volts > kHighestSupplyVolts + 1e-9) {
            throw UsageError("--vcc takes a supply from 1.8 to 3.6 V");
        }
        in.supplyTenths = static_cast<int>(std::lround(volts * kTenthsPerVolt));
    } else if (option == "--settle") {
        const double seconds = decimalNumber(option, value);
        if (seconds < 0 || seconds > kLongestSettleSeconds) {
            throw UsageError("--settle takes a settling time from 0 to 5 s");
        }
        in.settleMs = static_cast<uint16_t>(std::lround(seconds * kMsPerSecond));
    } else if (option == "--repeat") {
        const uint64_t repeat = unsignedNumber(option, value);
        if (repeat < 1 || repeat > kMaxRepeat) {
            throw UsageError("--repeat takes a number of runs from 1 to 100000");
        }
        in.repeat = static_cast<int>(repeat);
    } else if (option == "--log") {
        in.logPath = value;
    } else if (option == "--target") {
        const uint64_t target = unsignedNumber(option, value);
        if (target < 1 || target > kTargets) {
            throw UsageError("--target takes a target from 1 to 8");
        }
        in.target = static_cast<int>(target);
    } else if (option == "--start") {
        const uint64_t start = unsignedNumber(option, value);
        if (start >= kTargetAddressSpace) {
            throw UsageError("--start lies outside a target's address space (0 to 0xFFFFF)");
        }
        in.start = static_cast<uint32_t>(start);
    } else if (option == kLengthOption) {
        const uint64_t length = unsignedNumber(option, value);
        if (length == 0 || length > kTargetAddressSpace) {
            throw UsageError("--length takes a length from 1 to 0x100000");
        }
        in.length = static_cast<uint32_t>(length);
    }
}

void setSwitch(Invocation& in, const std::string& option) {
    if (option == "--json") {
        in.json = true;
    } else if (option == "--no-verify") {
        in.verify = false;
    } else if (option == "--secure") {
        in.secure = true;
    } else if (option == "--duolink") {
        in.duoLink = true;
    } else {
        throw UsageError("unknown option " + option);
    }
}

// What each subcommand needs besides its options.
void checkComplete(Invocation& in, std::vector<std::string>& positional, bool seenTarget,
                   bool seenStart, bool seenLength) {
    const auto files = [&](size_t least, size_t most, const char* what) {
        if (positional.size() < least || positional.size() > most) {
            throw UsageError(std::string("expected ") + what);
        }
    };
    if (in.command != Command::Types && in.command != Command::Help && in.port.empty()) {
        throw UsageError("--port is required");
    }
    switch (in.command) {
    case Command::Program:
        files(1, 2, "one or two image files");
        if (in.typeName.empty()) {
            throw UsageError("--type is required");
        }
        in.files = positional;
        break;
    case Command::Readout:
        files(1, 1, "one output file");
        if (!seenTarget || !seenStart || !seenLength) {
            throw UsageError("readout needs --target, --start and --length");
        }
        if (uint64_t{in.start} + in.length > kTargetAddressSpace) {
            throw UsageError("--start and --length run past a target's address space");
        }
        in.outPath = positional.front();
        break;
    case Command::Firmware:
        files(1, 1, "one firmware file");
        in.files = positional;
        break;
    default:
        files(0, 0, "no file");
        break;
    }
}

} // namespace

Invocation parseArguments(std::span<const std::string> args) {
    Invocation in;
    in.baud = kDefaultBaud;
    in.settleMs = kDefaultSettleMs;
    if (args.empty()) {
        throw UsageError("no command given (octo816 --help lists them)");
    }
    const std::string& name = args.front();
    if (name == "--help" || name == "-h" || name == "help") {
        return in;
    }
    const auto known = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandName& c) { return c.name == name; });
    if (known == kCommands.end()) {
        throw UsageError("unknown command \"" + name + "\" (octo816 --help lists them)");
    }
    in.command = known->command;
    std::vector<std::string> positional;
    bool seenTarget = false;
    bool seenStart = false;
    bool seenLength = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            in.command = Command::Help;
            return in;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string option = arg.substr(0, equals);
        if (!takesValue(option)) {
            if (equals != std::string::npos) {
                throw UsageError(option + " takes no value");
            }
            setSwitch(in, option);
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError(option + " needs a value");
        }
        setOption(in, option, value);
        seenTarget = seenTarget || option == "--target";
        seenStart = seenStart || option == "--start";
        seenLength = seenLength || option == kLengthOption;
    }
    checkComplete(in, positional, seenTarget, seenStart, seenLength);
    return in;
}

const char* usageText() {
    return R"(usage: octo816 <command> [options]

  info        --port P [--baud B]
              the unit's versions, firmware name and state
  program     --port P --type NAME FILE [FILE2] [--erase main,info,pinfo,bsl|none]
              [--no-verify] [--secure] [--vcc 3.0] [--settle 0.2] [--duolink]
              [--repeat N] [--log LOG.csv]
              erase the image memory, load the file(s), run the main process N times
  selftest    --port P              the unit's self-test
  readout     --port P --target N --start A --length L [--vcc V] [--duolink] OUT
              read a target's memory into OUT (.hex Intel-Hex, else QX-Text)
  firmware    --port P FILE         install a firmware file in the unit
  erase-image --port P              erase the unit's image memory
  types                             the device types and their memory

  --baud B    9600, 19200, 38400, 57600 or 115200 (default 115200)
  --json      one JSON object per run (or per command) on standard output
  --vcc V     the unit supplies the targets at V volts; without it they supply themselves

exit status: 0 every target found passed, 1 some targets failed (or none was found),
             2 bad arguments or files, 3 unit or link error
)";
}

} // namespace octo::cli

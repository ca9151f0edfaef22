#include "Invocation.h"

#include "JobFile.h"
#include "serials/serial_scheme.h"
#include "yield/YieldLog.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>

namespace octo::cli {

namespace {

constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
constexpr double kLowestSupplyVolts = 1.8;
constexpr double kHighestSupplyVolts = 3.6;
// 1.8 and 3.6 typed as such pass whatever the rounding of the decimal text.
constexpr double kVoltsSlack = 1e-9;
constexpr double kTenthsPerVolt = 10;
constexpr double kLongestSettleSeconds = 5.0;
constexpr double kMsPerSecond = 1000;
constexpr int kMaxRepeat = 100000;
constexpr int kTargets = 8;
// A target's address space.
constexpr uint64_t kTargetAddressSpace = 0x100000;
constexpr uint64_t kLargestSerial = UINT64_MAX;
constexpr int kLongestAsciiSerial = 32;
constexpr double kMostPercentagePoints = 100;

struct CommandName {
    std::string_view name;
    Command command;
};
constexpr std::array<CommandName, 9> kCommands = {{
    {"info", Command::Info},
    {"program", Command::Program},
    {"selftest", Command::Selftest},
    {"readout", Command::Readout},
    {"firmware", Command::Firmware},
    {"erase-image", Command::EraseImage},
    {"types", Command::Types},
    {"report", Command::Report},
    {"serials", Command::Serials},
}};

using Words = std::function<std::string(const std::string& value)>;

// One of CLI11's checks, in the tool's own words for a value it refuses. CLI11 puts the
// option's name before them ("--target: takes ..."); oneLine() makes that one line.
CLI::Validator refusing(CLI::Validator check, Words words) {
    return {[check = std::move(check), words = std::move(words)](std::string& value) {
                return check(value).empty() ? std::string() : words(value);
            },
            ""};
}

CLI::Validator refusing(CLI::Validator check, const std::string& words) {
    return refusing(std::move(check), [words](const std::string&) { return words; });
}

// A whole number as the tool takes it: decimal digits, or 0x and hexadecimal digits. No
// blank, no sign and no other base (CLI11 alone would read "010" as octal 8).
std::optional<uint64_t> wholeNumber(std::string_view text) {
    constexpr int kDecimal = 10;
    constexpr int kHexadecimal = 16;
    int base = kDecimal;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = kHexadecimal;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// A number with a fraction (volts, seconds): decimal digits with at most one point.
bool isDecimalFraction(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return whole.size() + fraction.size() > 0 && digits(whole) && digits(fraction);
}

CLI::Validator wholeNumberWhere(std::function<bool(uint64_t)> allowed) {
    return {[allowed = std::move(allowed)](std::string& text) {
                const std::optional<uint64_t> value = wholeNumber(text);
                return value && allowed(*value) ? std::string() : "refused";
            },
            ""};
}

CLI::Validator wholeNumberFrom(uint64_t lowest, uint64_t highest) {
    return wholeNumberWhere([=](uint64_t value) { return value >= lowest && value <= highest; });
}

// Every whole-number option: the text checked by check (whose refusal is words), then
// converted by wholeNumber() alone.
template <typename T>
CLI::Option* addWholeNumber(CLI::App& command, const std::string& name, T& value,
                            const std::string& description, CLI::Validator check,
                            const std::string& words) {
    return command
        .add_option_function<std::string>(
            name, [&value](const std::string& text) { value = static_cast<T>(*wholeNumber(text)); },
            description)
        ->check(refusing(std::move(check), words));
}

const CLI::Validator kDecimalFraction(
    [](std::string& text) { return isDecimalFraction(text) ? std::string() : "not a number"; }, "");

// A path that names nothing would leave its file unwritten without a word.
const CLI::Validator
    kNotEmpty([](std::string& text) { return text.empty() ? "empty" : std::string(); }, "");

std::vector<std::string> commaList(const std::string& list) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = std::min(list.find(',', from), list.size());
        parts.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return parts;
}

CLI::Validator eraseCheck() {
    const CLI::Validator memory =
        CLI::IsMember(std::vector<std::string>{"main", "info", "pinfo", "bsl"});
    return {[memory](std::string& list) {
                if (list == "none") {
                    return std::string();
                }
                for (const std::string& part : commaList(list)) {
                    if (!memory(part).empty()) {
                        return "takes main, info, pinfo, bsl or none, not \"" + part + "\"";
                    }
                }
                return std::string();
            },
            ""};
}

// A list that eraseCheck() accepted.
EraseChoice eraseChoice(const std::string& list) {
    EraseChoice choice{false, false, false, false};
    if (list == "none") {
        return choice;
    }
    for (const std::string& part : commaList(list)) {
        choice.main = choice.main || part == "main";
        // The protected segment is part of the information memory.
        choice.info = choice.info || part == "info" || part == "pinfo";
        choice.protectedInfo = choice.protectedInfo || part == "pinfo";
        choice.bsl = choice.bsl || part == "bsl";
    }
    return choice;
}

// CLI11 names the option before a check's words ("--target: takes ..."): one line of them.
std::string oneLine(const CLI::ParseError& error) {
    std::string text = error.what();
    const size_t colon = text.find(": ");
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr &&
        colon != std::string::npos) {
        text.replace(colon, 2, " ");
    }
    return text;
}

// What a job file's value must be for an option: switches and the image files are known by
// how many values their option takes, the numbers by their names.
enum class Wanted { Switch, WholeNumber, Decimal, Text, Files };

constexpr std::array<std::string_view, 10> kWholeNumberKeys = {
    "baud",         "repeat",         "serial-start", "serial-end", "serial-step",
    "serial-width", "serial-address", "target",       "start",      "length"};
constexpr std::array<std::string_view, 4> kDecimalKeys = {"vcc", "settle", "min-ratio",
                                                          "min-points"};
// The keys of a scheme of numbers; serial-list is the scheme of a list.
constexpr std::array<std::string_view, 5> kSerialNumberKeys = {
    "serial-start", "serial-end", "serial-step", "serial-format", "serial-width"};

template <size_t N>
bool among(const std::array<std::string_view, N>& keys, std::string_view name) {
    return std::find(keys.begin(), keys.end(), name) != keys.end();
}

Wanted wanted(const CLI::Option& option, const std::string& name) {
    if (option.get_expected_min() == 0) {
        return Wanted::Switch;
    }
    if (option.get_items_expected_max() > 1) {
        return Wanted::Files;
    }
    if (among(kWholeNumberKeys, name)) {
        return Wanted::WholeNumber;
    }
    return among(kDecimalKeys, name) ? Wanted::Decimal : Wanted::Text;
}

// Numbers may be TOML numbers or text ("0x1000"): either goes through the option's check.
bool fits(JobValue::Kind kind, Wanted want) {
    using Kind = JobValue::Kind;
    switch (want) {
    case Wanted::Switch:
        return kind == Kind::Switch;
    case Wanted::WholeNumber:
        return kind == Kind::Integer || kind == Kind::Text;
    case Wanted::Decimal:
        return kind == Kind::Integer || kind == Kind::Decimal || kind == Kind::Text;
    case Wanted::Text:
        return kind == Kind::Text;
    case Wanted::Files:
        return kind == Kind::Text || kind == Kind::List;
    }
    return false;
}

const char* wantedWords(Wanted want) {
    switch (want) {
    case Wanted::Switch:
        return "takes true or false";
    case Wanted::WholeNumber:
        return "takes a whole number";
    case Wanted::Decimal:
        return "takes a number";
    case Wanted::Text:
        return "takes text in quotes";
    case Wanted::Files:
        return "takes a file name in quotes or a list of them";
    }
    return "";
}

CLI::Option* jobOption(CLI::App& command, const JobValue& value) {
    if (value.name.empty() || value.name == "config" || value.name.starts_with("-")) {
        return nullptr;
    }
    CLI::Option* option = command.get_option_no_throw("--" + value.name);
    if (option == nullptr) {
        option = command.get_option_no_throw(value.name); // files, out, file, logs
        if (option != nullptr && option->nonpositional()) {
            return nullptr;
        }
    }
    return option == command.get_help_ptr() ? nullptr : option;
}

// Gives command's options the values of its job file that the command line left out. Runs
// as the callback of --config, the command's first option, so that the values it adds go
// through the same checks as those typed.
void applyJobFile(CLI::App& command, const std::string& path) {
    const std::vector<JobValue> values = readJobFile(path, command.get_name());
    const auto typed = [&](std::string_view name) {
        const CLI::Option* option = command.get_option_no_throw("--" + std::string(name));
        return option != nullptr && option->count() > 0;
    };
    // The command line wins, the kind of serial scheme included: a list typed leaves out the
    // file's numbers, numbers typed leave out its list.
    const bool numbersTyped =
        std::any_of(kSerialNumberKeys.begin(), kSerialNumberKeys.end(), typed);
    const bool listTyped = typed("serial-list");
    for (const JobValue& value : values) {
        const std::string where = path + ":" + std::to_string(value.line) + ": ";
        CLI::Option* option = jobOption(command, value);
        if (option == nullptr) {
            throw UsageError(where + "unknown key \"" + value.key + "\" (octo816 " +
                             command.get_name() + " --help lists the options)");
        }
        const Wanted want = wanted(*option, value.name);
        if (!fits(value.kind, want)) {
            throw UsageError(where + "key \"" + value.key + "\" " + wantedWords(want));
        }
        const bool otherScheme = (value.name == "serial-list" && numbersTyped) ||
                                 (among(kSerialNumberKeys, value.name) && listTyped);
        if (!option->empty() || otherScheme) {
            continue;
        }
        option->add_result(value.texts);
        try {
            option->run_callback(); // checked now, so that a value refused names the file
        } catch (const CLI::ParseError& e) {
            throw UsageError(where + oneLine(e));
        }
    }
}

struct Subcommand {
    CLI::App* app = nullptr;
    CLI::Option* positional = nullptr;
    const char* expected = "no file";
};

// The options every command has; --config first, see applyJobFile().
CLI::App* addCommand(CLI::App& root, Invocation& in, const char* name, const char* description,
                     bool port) {
    CLI::App* command = root.add_subcommand(name, description);
    command
        ->add_option_function<std::string>(
            "--config", [command](const std::string& path) { applyJobFile(*command, path); },
            "a job file (TOML) with these options; the command line wins")
        ->type_name("FILE")
        ->check(refusing(kNotEmpty, "needs a file name"));
    if (port) {
        command->add_option("--port", in.port, "the unit's serial port (COM1, /dev/ttyUSB0)")
            ->type_name("PORT")
            ->required();
    }
    addWholeNumber(
        *command, "--baud", in.baud, "9600, 19200, 38400, 57600 or 115200 (default 115200)",
        wholeNumberWhere([](uint64_t rate) {
            return std::find(kBaudRates.begin(), kBaudRates.end(), rate) != kBaudRates.end();
        }),
        "takes 9600, 19200, 38400, 57600 or 115200")
        ->type_name("B");
    command->add_flag("--json", in.json, "one JSON object per run (or per command)");
    return command;
}

void addSupply(CLI::App& command, Invocation& in, const char* description) {
    command
        .add_option_function<double>(
            "--vcc",
            [&in](double volts) {
                in.supplyTenths = static_cast<int>(std::lround(volts * kTenthsPerVolt));
            },
            description)
        ->type_name("V")
        ->check(refusing(kDecimalFraction & CLI::Range(kLowestSupplyVolts - kVoltsSlack,
                                                       kHighestSupplyVolts + kVoltsSlack),
                         "takes a supply from 1.8 to 3.6 V"));
    command.add_flag("--duolink", in.duoLink, "DuoLink instead of 4-wire JTAG");
}

void addSerialOptions(CLI::App& command, Invocation& in) {
    addWholeNumber(command, "--serial-start", in.serialStart, "the first serial number",
                   wholeNumberFrom(0, kLargestSerial), "takes a whole number")
        ->type_name("N");
    addWholeNumber(command, "--serial-end", in.serialEnd, "the last serial number",
                   wholeNumberFrom(0, kLargestSerial), "takes a whole number")
        ->type_name("N");
    addWholeNumber(command, "--serial-step", in.serialStep,
                   "from one serial to the next (default 1)", wholeNumberFrom(1, kLargestSerial),
                   "takes a step of 1 or more")
        ->type_name("N");
    command
        .add_option("--serial-format", in.serialFormat,
                    "le16, le32, le64, be16, be32, be64 or ascii: how a serial is written")
        ->type_name("F")
        ->check(refusing(CLI::Validator(
                             [](std::string& name) {
                                 return serials::numberFormat(name) ? std::string() : "no";
                             },
                             ""),
                         "takes le16, le32, le64, be16, be32, be64 or ascii"));
    addWholeNumber(command, "--serial-width", in.serialWidth,
                   "the digits of an ascii serial, zero-padded (1 to 32)",
                   wholeNumberFrom(1, kLongestAsciiSerial), "takes a width from 1 to 32")
        ->type_name("W");
    command.add_option("--serial-list", in.serialList, "a file of records, one a line in hex")
        ->type_name("FILE")
        ->check(refusing(kNotEmpty, "needs a file name"));
    addWholeNumber(command, "--serial-address", in.serialAddress,
                   "where each target's record goes (0x hexadecimal or decimal)",
                   wholeNumberFrom(0, kTargetAddressSpace - 1),
                   "lies outside a target's address space (0 to 0xFFFFF)")
        ->type_name("A");
    command
        .add_option("--ledger", in.ledgerPath, "the station's serial ledger, required with them")
        ->type_name("PATH")
        ->check(refusing(kNotEmpty, "needs a file name"));
}

// The serial options make one scheme or none: numbers or a list, each with what it needs.
void checkSerialOptions(const CLI::App& command, const Invocation& in) {
    const auto given = [&](const char* name) { return command.count(name) > 0; };
    const bool numbers = given("--serial-start") || given("--serial-end") ||
                         given("--serial-step") || given("--serial-format") ||
                         given("--serial-width");
    const bool list = given("--serial-list");
    if (!numbers && !list && !given("--serial-address")) {
        if (given("--ledger")) {
            throw UsageError("--ledger needs a serial scheme (--serial-start and --serial-end, "
                             "or --serial-list) and --serial-address");
        }
        return;
    }
    if (!given("--ledger")) {
        throw UsageError("serial records need --ledger, the station's serial ledger");
    }
    if (!given("--serial-address")) {
        throw UsageError("serial records need --serial-address, where each record goes");
    }
    if (numbers && list) {
        throw UsageError("--serial-list takes no --serial-start, --serial-end, --serial-step, "
                         "--serial-format or --serial-width");
    }
    if (list) {
        return;
    }
    if (!numbers || !given("--serial-start") || !given("--serial-end") ||
        !given("--serial-format")) {
        throw UsageError("serial numbers need --serial-start, --serial-end and --serial-format "
                         "(or --serial-list)");
    }
    const bool ascii = serials::numberFormat(in.serialFormat) == serials::NumberFormat::Ascii;
    if (ascii != given("--serial-width")) {
        throw UsageError("--serial-width goes with --serial-format ascii, and only with it");
    }
}

Subcommand addProgram(CLI::App& root, Invocation& in) {
    CLI::App* command = addCommand(root, in, "program",
                                   "Loads the file(s) into the unit and runs the main process "
                                   "on all eight sockets N times.",
                                   true);
    CLI::Option* files =
        command
            ->add_option("files", in.files, "one or two object files; the second joins the first")
            ->type_name("FILE")
            ->required();
    command->add_option("--type", in.typeName, "the device type (octo816 types lists them)")
        ->type_name("NAME")
        ->required();
    command
        ->add_option_function<std::string>(
            "--erase", [&in](const std::string& list) { in.erase = eraseChoice(list); },
            "main,info,pinfo,bsl or none: the memories to erase (default main,info)")
        ->type_name("LIST")
        ->check(eraseCheck());
    command->add_flag_callback(
        "--no-verify", [&in] { in.verify = false; }, "no verify after programming");
    command->add_flag("--secure", in.secure, "blow the fuse: the chips cannot be reached again");
    addSupply(*command, in, "the unit supplies the targets at V volts (1.8 to 3.6)");
    command
        ->add_option_function<double>(
            "--settle",
            [&in](double seconds) {
                in.settleMs = static_cast<uint16_t>(std::lround(seconds * kMsPerSecond));
            },
            "settling time in seconds (0 to 5, default 0.2) with --vcc")
        ->type_name("S")
        ->check(refusing(kDecimalFraction & CLI::Range(0.0, kLongestSettleSeconds),
                         "takes a settling time from 0 to 5 s"));
    addWholeNumber(*command, "--repeat", in.repeat,
                   "runs of the main process (1 to 100000, default 1)",
                   wholeNumberFrom(1, kMaxRepeat), "takes a number of runs from 1 to 100000")
        ->type_name("N");
    command->add_option("--log", in.logPath, "append each run to this traceability log (CSV)")
        ->type_name("FILE")
        ->check(refusing(kNotEmpty, "needs a file name"));
    addSerialOptions(*command, in);
    return {command, files, "one or two image files"};
}

Subcommand addReadout(CLI::App& root, Invocation& in) {
    CLI::App* command = addCommand(
        root, in, "readout",
        "Reads a target's memory into OUT (.hex and .ihex Intel-Hex, else QX-Text).", true);
    CLI::Option* out = command->add_option("out", in.outPath, "the file to write")
                           ->type_name("OUT")
                           ->required()
                           ->check(refusing(kNotEmpty, "needs a file name"));
    addWholeNumber(*command, "--target", in.target, "the target (1 to 8)",
                   wholeNumberFrom(1, kTargets), "takes a target from 1 to 8")
        ->type_name("N");
    addWholeNumber(*command, "--start", in.start, "the first address (0x hexadecimal or decimal)",
                   wholeNumberFrom(0, kTargetAddressSpace - 1),
                   "lies outside a target's address space (0 to 0xFFFFF)")
        ->type_name("A");
    addWholeNumber(*command, "--length", in.length, "the number of bytes",
                   wholeNumberFrom(1, kTargetAddressSpace), "takes a length from 1 to 0x100000")
        ->type_name("L");
    addSupply(*command, in, "the targets' supply while reading (1.8 to 3.6, default 3.0)");
    return {command, out, "one output file"};
}

Subcommand addFirmware(CLI::App& root, Invocation& in) {
    CLI::App* command = addCommand(
        root, in, "firmware",
        "Installs a firmware file in the unit, read whole before anything is erased.", true);
    CLI::Option* file =
        command
            ->add_option_function<std::string>(
                "file", [&in](const std::string& path) { in.files = {path}; }, "the firmware file")
            ->type_name("FILE")
            ->required();
    return {command, file, "one firmware file"};
}

Subcommand addReport(CLI::App& root, Invocation& in) {
    CLI::App* command = addCommand(root, in, "report",
                                   "The yield report of traceability logs: a page (--out), JSON "
                                   "(--json) or its totals and alarms.",
                                   false);
    CLI::Option* logs = command->add_option("logs", in.files, "the traceability logs (CSV)")
                            ->type_name("LOG")
                            ->required();
    command
        ->add_option("--out", in.outPath,
                     "write the report's page to this HTML file (new, or a page written before)")
        ->type_name("FILE")
        ->check(refusing(kNotEmpty, "needs a file name"));
    command
        ->add_option("--since", in.since,
                     "only the runs from this time on (2026-12-08T06:00:00Z or 2026-12-08)")
        ->type_name("TIME")
        ->check(refusing(
            CLI::Validator(
                [](std::string& t) { return yield::parseTime(t) ? std::string() : "bad"; }, ""),
            "takes a time like 2026-12-08T06:00:00Z or a date like 2026-12-08"));
    command
        ->add_option("--maintenance", in.maintenancePath,
                     "a file of maintenance (time,unit,socket,note): a socket's alarm looks at "
                     "its runs since its latest maintenance")
        ->type_name("FILE.csv")
        ->check(refusing(kNotEmpty, "needs a file name"));
    command
        ->add_option_function<double>(
            "--min-ratio", [&in](double ratio) { in.minRatio = ratio; },
            "an alarm needs a failure rate at least R times the other sockets' (default 2)")
        ->type_name("R")
        ->check(refusing(CLI::Validator(
                             [](std::string& text) {
                                 return isDecimalFraction(text) &&
                                                std::strtod(text.c_str(), nullptr) > 1
                                            ? std::string()
                                            : "refused";
                             },
                             ""),
                         "takes a ratio above 1, like 2 (twice the other sockets' rate)"));
    command
        ->add_option_function<double>(
            "--min-points", [&in](double points) { in.minPoints = points; },
            "an alarm needs a failure rate at least P percentage points above the other "
            "sockets' (default 1)")
        ->type_name("P")
        ->check(refusing(kDecimalFraction & CLI::Range(0.0, kMostPercentagePoints),
                         "takes percentage points from 0 to 100, like 1"));
    return {command, logs, "one or more logs"};
}

Subcommand addSerials(CLI::App& root, Invocation& in) {
    CLI::App* command = addCommand(
        root, in, "serials",
        "What a serial ledger holds: records by state, their ranges, the void ones.", false);
    command->add_option("--ledger", in.ledgerPath, "the station's serial ledger")
        ->type_name("PATH")
        ->required();
    const std::array actions = {
        command
            ->add_option("--find", in.findValue,
                         "one record's state, run, socket, unit, time, image CRC and reason: "
                         "the record in hexadecimal or, for numbers, the number")
            ->type_name("VALUE"),
        command
            ->add_option("--export", in.exportPath,
                         "write the programmed records to this CSV file (value, number, run, "
                         "socket, unit, time, image CRC)")
            ->type_name("FILE")
            ->check(refusing(kNotEmpty, "needs a file name")),
        command
            ->add_option("--backup", in.backupPath,
                         "write a consistent copy of the ledger to this file, also while a "
                         "station runs")
            ->type_name("FILE")
            ->check(refusing(kNotEmpty, "needs a file name")),
        command
            ->add_option("--reconcile", in.reconcileLogs,
                         "bring the ledger up to date with these traceability logs: each record "
                         "they say reached a chip is never given out again")
            ->type_name("LOG")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
    };
    for (CLI::Option* action : actions) {
        for (CLI::Option* other : actions) {
            if (other != action) {
                action->excludes(other);
            }
        }
    }
    return {command};
}

// CLI11's complaint as the tool's one line.
std::string usageMessage(const CLI::ParseError& error, const Subcommand& command) {
    const std::string text = oneLine(error);
    const bool positionalMissing = command.positional != nullptr &&
                                   dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
                                   text == command.positional->get_name() + " is required";
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        return text.substr(0, text.find(':')) + " needs a value";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const std::vector<std::string> left = command.app->remaining();
        if (!left.empty() && left.front().starts_with("-")) {
            return "unknown option " + left.front().substr(0, left.front().find('='));
        }
        return std::string("expected ") + command.expected;
    }
    return positionalMissing ? std::string("expected ") + command.expected : text;
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
        in.help = usageText();
        return in;
    }
    const auto known = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandName& c) { return c.name == name; });
    if (known == kCommands.end()) {
        throw UsageError("unknown command \"" + name + "\" (octo816 --help lists them)");
    }

    CLI::App root("The ZEL-OCTO816 command-line programmer.", "octo816");
    // As before CLI11: an option given twice takes its last value; "/x" is a path, not an
    // option, on Windows too.
    root.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    root.allow_windows_style_options(false);
    root.require_subcommand(1);
    const std::array commands = {
        Subcommand{
            addCommand(root, in, "info", "The unit's versions, firmware name and state.", true)},
        addProgram(root, in),
        Subcommand{addCommand(root, in, "selftest", "The unit's self-test.", true)},
        addReadout(root, in),
        addFirmware(root, in),
        Subcommand{addCommand(root, in, "erase-image", "Erases the unit's image memory.", true)},
        Subcommand{addCommand(root, in, "types",
                              "The device types: minimum supply for erase and program, DuoLink, "
                              "segments.",
                              false)},
        addReport(root, in),
        addSerials(root, in),
    };
    const Subcommand& command =
        *std::find_if(commands.begin(), commands.end(),
                      [&](const Subcommand& c) { return c.app->get_name() == name; });

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        root.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        in.help = root.help();
        return in;
    } catch (const CLI::ParseError& e) {
        throw UsageError(usageMessage(e, command));
    }
    in.command = known->command;
    if (in.command == Command::Program && in.files.size() > 2) {
        throw UsageError(std::string("expected ") + command.expected);
    }
    if (in.command == Command::Program) {
        checkSerialOptions(*command.app, in);
    }
    if (in.command == Command::Readout) {
        if (command.app->count("--target") == 0 || command.app->count("--start") == 0 ||
            command.app->count("--length") == 0) {
            throw UsageError("readout needs --target, --start and --length");
        }
        if (uint64_t{in.start} + in.length > kTargetAddressSpace) {
            throw UsageError("--start and --length run past a target's address space");
        }
    }
    return in;
}

bool needsLibrary(Command command) {
    return command != Command::Help && command != Command::Report && command != Command::Serials;
}

const char* usageText() {
    return R"(usage: octo816 <command> [options]

  info        --port P [--baud B]
              the unit's versions, firmware name and state
  program     --port P --type NAME FILE [FILE2] [--erase main,info,pinfo,bsl|none]
              [--no-verify] [--secure] [--vcc 3.0] [--settle 0.2] [--duolink]
              [--repeat N] [--log LOG.csv]
              [--ledger PATH --serial-address A (--serial-start N --serial-end N
               [--serial-step N] --serial-format le32|... [--serial-width W]
               | --serial-list FILE)]
              erase the image memory, load the file(s), run the main process N times;
              with a ledger, each target gets its own record at A
  selftest    --port P              the unit's self-test
  readout     --port P --target N --start A --length L [--vcc V] [--duolink] OUT
              read a target's memory into OUT (.hex Intel-Hex, else QX-Text)
  firmware    --port P FILE         install a firmware file in the unit
  erase-image --port P              erase the unit's image memory
  types                             the device types and their memory
  report      [--out FILE.html] [--since TIME] [--maintenance FILE.csv]
              [--min-ratio R] [--min-points P] LOG.csv...
              the yield report of traceability logs: totals, sockets, alarms
  serials     --ledger PATH [--find VALUE | --export FILE.csv | --backup FILE
              | --reconcile LOG.csv...]
              what a station's serial ledger holds; one record; the programmed records;
              a consistent copy; brought up to date with the traceability logs

  --baud B    9600, 19200, 38400, 57600 or 115200 (default 115200)
  --json      one JSON object per run (or per command) on standard output
  --vcc V     the unit supplies the targets at V volts; without it they supply themselves
  --config F  a job file (TOML) with the command's options; the command line wins

octo816 <command> --help lists a command's options.

Numbers are decimal unless written 0x... (hexadecimal).

exit status: 0 every target found passed, 1 some targets failed (or none was found),
             2 bad arguments or files, 3 unit or link error, 4 chips programmed but
             the run not logged, 5 the report could not be written to standard output
)";
}

} // namespace octo::cli

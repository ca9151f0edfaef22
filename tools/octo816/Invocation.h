// The command line of octo816: the subcommand and its options, from the arguments and the
// command's job file (--config), checked for form (numbers, ranges, choices, required values)
// before anything touches a file or the unit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace octo::cli {

enum class Command {
    Help,
    Info,
    Program,
    Selftest,
    Readout,
    Firmware,
    EraseImage,
    Types,
    Report,
    Serials
};

// Which memories --erase names.
struct EraseChoice {
    bool main = true;
    bool info = true;
    bool protectedInfo = false;
    bool bsl = false;
    bool any() const { return main || info || protectedInfo || bsl; }
};

struct Invocation {
    Command command = Command::Help;
    std::string help; // the text that Help prints: the commands, or one command's options
    std::string port;
    uint32_t baud = 0;
    bool json = false;
    std::string logPath;

    // program
    std::string typeName;
    std::vector<std::string> files;
    EraseChoice erase;
    bool verify = true;
    bool secure = false;
    std::optional<int> supplyTenths; // none: the targets supply themselves
    uint16_t settleMs = 0;
    bool duoLink = false;
    int repeat = 1;
    // program: each target's own record, from numbers or a list file, noted in the ledger
    std::optional<uint64_t> serialStart;
    std::optional<uint64_t> serialEnd;
    uint64_t serialStep = 1;
    std::string serialFormat;
    int serialWidth = 0;
    std::string serialList;
    std::optional<uint32_t> serialAddress;
    bool serializes() const { return serialAddress.has_value(); }

    // readout (target 1..8) and the output file
    int target = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    std::string outPath;

    // report: the logs are files, the page goes to outPath; since, a time as in the log;
    // the maintenance file; the least effect an alarm names (unset: the report's own)
    std::string since;
    std::string maintenancePath;
    std::optional<double> minRatio;
    std::optional<double> minPoints;
    // serials and program: the station's serial ledger
    std::string ledgerPath;
    // serials: at most one of these; none lists the ledger
    std::string findValue;                  // --find: one record's state
    std::string exportPath;                 // --export: the programmed records as CSV
    std::string backupPath;                 // --backup: a consistent copy
    std::vector<std::string> reconcileLogs; // --reconcile: the logs to bring it up to date with
};

// A command line the tool refuses; the message names what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr uint32_t kDefaultBaud = 115200;
// The window's default settling time after switching the supply on.
inline constexpr uint16_t kDefaultSettleMs = 200;

// Whether the command calls the library (help and report do not).
bool needsLibrary(Command command);

// The arguments after the program's name.
Invocation parseArguments(std::span<const std::string> args);

// The usage text printed for octo816 --help.
const char* usageText();

} // namespace octo::cli

// A command's job file (--config): TOML, read whole with a bound, as the keys and values the
// command line takes, each with the line it stands on. Which keys a command has and what each
// value must be is the command line's to judge (Invocation.cpp); this reads the form only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace octo::cli {

// A job file names a few options: a larger file is no job file.
inline constexpr uint64_t kMaxJobFileBytes = uint64_t{1} << 20;

struct JobValue {
    enum class Kind {
        Switch,  // true or false
        Integer, // a TOML integer (0x... included), written back in decimal
        Decimal, // a TOML float, written back in decimal digits with a point
        Text,    // a string
        List,    // an array of strings
        Other,   // a table, a date, an array of anything else
    };
    std::string key;  // as the file names it, with its table: "vcc", "program.vcc"
    std::string name; // the option it stands for; empty when in another table
    uint32_t line = 0;
    Kind kind = Kind::Other;
    std::vector<std::string> texts; // the value as the command line would take it
};

// The keys of the job file at path, in the file's order: those at the top and those in the
// table named command hold the options (name set); any other key comes with its name empty.
// Throws UsageError, naming the file, when it is missing, a folder, not a regular file or
// larger than kMaxJobFileBytes (each checked before a byte is read), and naming the line
// and the key when it is not TOML (a key without a value, say) or gives a key twice.
std::vector<JobValue> readJobFile(const std::string& path, const std::string& command);

} // namespace octo::cli

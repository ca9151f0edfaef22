// The job file read by toml++, header-only and without exceptions: its parser is the one
// TOML reader of the tool, kept to this file so that only one unit compiles it.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include "JobFile.h"

#include "Invocation.h"

#include "files/read_file.h"

#include <toml++/toml.h>

#include <array>
#include <charconv>
#include <filesystem>
#include <map>
#include <string_view>

namespace octo::cli {

namespace {

// A float written back in plain decimal digits, as the command line's checks take a number:
// the shortest such text that reads back as the same value.
constexpr size_t kDecimalChars = 512;

std::string decimalText(double value) {
    std::array<char, kDecimalChars> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return error == std::errc() ? std::string(text.data(), end) : std::string("nan");
}

JobValue valueOf(const toml::node& node) {
    JobValue value;
    if (const auto* flag = node.as_boolean()) {
        value.kind = JobValue::Kind::Switch;
        value.texts = {flag->get() ? "true" : "false"};
    } else if (const auto* integer = node.as_integer()) {
        value.kind = JobValue::Kind::Integer;
        value.texts = {std::to_string(integer->get())};
    } else if (const auto* decimal = node.as_floating_point()) {
        value.kind = JobValue::Kind::Decimal;
        value.texts = {decimalText(decimal->get())};
    } else if (const auto* text = node.as_string()) {
        value.kind = JobValue::Kind::Text;
        value.texts = {text->get()};
    } else if (const auto* array = node.as_array()) {
        value.kind = JobValue::Kind::List;
        for (const toml::node& item : *array) {
            if (!item.is_string()) {
                value.kind = JobValue::Kind::Other;
                break;
            }
            value.texts.push_back(item.as_string()->get());
        }
    }
    return value;
}

// The keys of table under prefix, a table's own keys in their turn; an empty table is a key.
// A key stands for an option at the top (depth 0) and in the command's table (depth 1).
void collect(const toml::table& table, const std::string& command, const std::string& prefix,
             int depth, std::vector<JobValue>& out) {
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const toml::table* inner = node.as_table();
        if (inner != nullptr && inner->empty() && depth == 0 && name == command) {
            continue; // the command's table with nothing in it yet
        }
        if (inner != nullptr && !inner->empty()) {
            collect(*inner, depth == 0 && name == command ? command : std::string(),
                    prefix + name + ".", depth + 1, out);
            continue;
        }
        JobValue value = valueOf(node);
        value.key = prefix + name;
        value.name = depth == 0 || (depth == 1 && !command.empty()) ? name : std::string();
        value.line = key.source().begin.line;
        out.push_back(std::move(value));
    }
}

// The key a line of TOML starts with ("vcc", "\"my key\"" without its quotes, "program"
// of "[program]"); empty when the line starts with none.
std::string leadingKey(std::string_view line) {
    const size_t start = line.find_first_not_of(" \t[");
    if (start == std::string_view::npos) {
        return {};
    }
    line.remove_prefix(start);
    if (line.front() == '"' || line.front() == '\'') {
        const size_t close = line.find(line.front(), 1);
        return close == std::string_view::npos ? std::string()
                                               : std::string(line.substr(1, close - 1));
    }
    const size_t end =
        line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.");
    return std::string(line.substr(0, end));
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

std::string at(const std::string& path, uint32_t line) {
    return path + ":" + std::to_string(line) + ": ";
}

// toml++'s complaint, with the key of its line named, in the tool's words for the cases an
// operator meets: a key without a value and a key given twice.
[[noreturn]] void refuseSyntax(const std::string& path, std::string_view text,
                               const toml::parse_error& error) {
    const std::vector<std::string_view> lines = linesOf(text);
    const uint32_t line = error.source().begin.line;
    const std::string_view description = error.description();
    const std::string key =
        line >= 1 && line <= lines.size() ? leadingKey(lines[line - 1]) : std::string();
    if (description.find("cannot redefine existing") != std::string_view::npos && !key.empty()) {
        for (uint32_t earlier = 1; earlier < line; ++earlier) {
            if (leadingKey(lines[earlier - 1]) == key) {
                throw UsageError(at(path, line) + "key \"" + key +
                                 "\" is given twice (first at line " + std::to_string(earlier) +
                                 ")");
            }
        }
        throw UsageError(at(path, line) + "key \"" + key + "\" is given twice");
    }
    const bool noValue = description.find("expected '='") != std::string_view::npos ||
                         description.find("expected value") != std::string_view::npos;
    if (noValue && !key.empty()) {
        throw UsageError(at(path, line) + "key \"" + key +
                         "\" has no value (key = value; a switch takes true or false)");
    }
    throw UsageError(at(path, line) + std::string(description) +
                     (key.empty() ? std::string() : " (key \"" + key + "\")"));
}

std::string readWhole(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw UsageError("--config " + path + ": no such file");
    }
    if (std::filesystem::is_directory(status)) {
        throw UsageError("--config " + path + ": it is a folder");
    }
    files::FileRead read = files::readBoundedFile(path, kMaxJobFileBytes);
    switch (read.problem) {
    case files::FileRead::Problem::None:
        return std::move(read.bytes);
    case files::FileRead::Problem::NotRegular:
        throw UsageError("--config " + path + ": not a regular file");
    case files::FileRead::Problem::TooLarge:
        throw UsageError("--config " + path + ": larger than " +
                         std::to_string(kMaxJobFileBytes >> 20) + " MiB, not a job file");
    case files::FileRead::Problem::CannotOpen:
    case files::FileRead::Problem::ReadFailed:
        break;
    }
    throw UsageError("--config " + path + ": cannot be read");
}

} // namespace

std::vector<JobValue> readJobFile(const std::string& path, const std::string& command) {
    const std::string text = readWhole(path);
    const toml::parse_result parsed = toml::parse(std::string_view(text), std::string_view(path));
    if (!parsed) {
        refuseSyntax(path, text, parsed.error());
    }
    std::vector<JobValue> values;
    collect(parsed.table(), command, "", 0, values);
    // The keys at the top and those of the command's table stand for the options alike: one
    // option named twice, once in each, is a key given twice.
    std::map<std::string, uint32_t> lineOf;
    for (const JobValue& value : values) {
        if (value.name.empty()) {
            continue;
        }
        const auto [first, added] = lineOf.emplace(value.name, value.line);
        if (!added) {
            throw UsageError(at(path, std::max(value.line, first->second)) + "key \"" + value.name +
                             "\" is given twice (first at line " +
                             std::to_string(std::min(value.line, first->second)) + ")");
        }
    }
    return values;
}

} // namespace octo::cli
